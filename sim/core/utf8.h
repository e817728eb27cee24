// Text from outside (a file's name, what a controller prints or asks for) is
// bytes, and JSON and pictures take only UTF-8: these say whether a text is
// UTF-8 and make it so, keeping a way back to the bytes.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace sim {

// The length of the valid UTF-8 sequence that starts text[at], or 0 when the
// byte there starts none (a stray continuation byte, an overlong form, a
// surrogate, a code point past U+10FFFF, or a sequence cut short).
std::size_t utf8_sequence_at(std::string_view text, std::size_t at);

bool is_utf8(std::string_view text);

// The text with each byte that is no part of a valid UTF-8 sequence replaced
// by U+FFFD, the replacement character; valid text comes back unchanged.
std::string valid_utf8(std::string_view text);

// The bytes as lower-case hexadecimal, two digits a byte.
std::string hex_bytes(std::string_view bytes);

}  // namespace sim
