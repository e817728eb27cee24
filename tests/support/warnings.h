// The stand-in's warnings are how it reports misuse, so a run that gives one
// a test did not expect fails that test. This is the one place that tells a
// warning from the rest of what a run printed on stderr.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

namespace support {

// The lines of stderr text that are warnings ("sim: warning: ...", or any
// other line holding "warning:" in any case).
std::vector<std::string> warning_lines(std::string_view err);
// Success when every warning line in `err` holds one of `expected`;
// otherwise a failure naming the warnings nobody expected.
::testing::AssertionResult only_expected_warnings(std::string_view err,
                                                  const std::vector<std::string> &expected = {});

}  // namespace support
