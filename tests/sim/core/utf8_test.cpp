// Text from outside made UTF-8: every kind of malformed sequence is replaced
// byte by byte, valid text is left alone, and what comes out is always UTF-8.
#include "sim/core/utf8.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

namespace {

const std::string replacement = "\xef\xbf\xbd";

std::string replaced(int bytes) {
  std::string out;
  for (int i = 0; i < bytes; ++i) out += replacement;
  return out;
}

TEST(Utf8, EachStrayByteBecomesOneReplacementAndValidTextStays) {
  const std::pair<std::string, std::string> cases[] = {
      {"plain ASCII\n", "plain ASCII\n"},
      {"d\xc3\xa9j\xc3\xa0 \xe2\x82\xac \xf0\x9f\x98\x80",
       "d\xc3\xa9j\xc3\xa0 \xe2\x82\xac \xf0\x9f\x98\x80"},
      {"caf\xe9", "caf" + replaced(1)},  // Latin-1
      {"\xff\xfe", replaced(2)},         // never in UTF-8
      {"\x80 a continuation alone", replaced(1) + " a continuation alone"},
      {"\xc0\xaf", replaced(2)},               // an overlong '/'
      {"\xe0\x80\xaf", replaced(3)},           // another
      {"\xed\xa0\x80", replaced(3)},           // a surrogate
      {"\xf4\x90\x80\x80", replaced(4)},       // past U+10FFFF
      {"cut \xe2\x82", "cut " + replaced(2)},  // cut at the end
      {"cut \xe2\x82 short", "cut " + replaced(2) + " short"},
  };
  for (const auto &[text, expected] : cases) {
    EXPECT_EQ(sim::valid_utf8(text), expected) << sim::hex_bytes(text);
    EXPECT_EQ(sim::is_utf8(text), text == expected) << sim::hex_bytes(text);
  }
  EXPECT_EQ(sim::hex_bytes("t\xe9te\n"), "74e974650a");
}

TEST(Utf8, WhatComesOutIsUtf8AndStaysAsItIsWhenMadeSoAgain) {
  std::mt19937 random(7);
  std::uniform_int_distribution<int> byte(0, 255), length(0, 12);
  for (int i = 0; i < 20'000; ++i) {
    std::string text(static_cast<std::size_t>(length(random)), '\0');
    for (char &ch : text) ch = static_cast<char>(byte(random));
    const std::string made = sim::valid_utf8(text);
    ASSERT_TRUE(sim::is_utf8(made)) << sim::hex_bytes(text);
    ASSERT_EQ(sim::valid_utf8(made), made) << sim::hex_bytes(text);
    if (sim::is_utf8(text)) {
      ASSERT_EQ(made, text);
    }
  }
}

}  // namespace
