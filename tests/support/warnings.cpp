#include "tests/support/warnings.h"

#include <algorithm>
#include <cctype>

namespace support {

std::vector<std::string> warning_lines(std::string_view err) {
  std::vector<std::string> found;
  for (std::size_t at = 0; at < err.size();) {
    std::size_t end = err.find('\n', at);
    if (end == std::string_view::npos) end = err.size();
    std::string line(err.substr(at, end - at));
    std::string lower = line;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (lower.find("warning:") != std::string::npos) found.push_back(std::move(line));
    at = end + 1;
  }
  return found;
}

::testing::AssertionResult only_expected_warnings(std::string_view err,
                                                  const std::vector<std::string> &expected) {
  std::vector<std::string> unexpected;
  for (const std::string &line : warning_lines(err))
    if (std::none_of(expected.begin(), expected.end(), [&](const std::string &words) {
          return line.find(words) != std::string::npos;
        }))
      unexpected.push_back(line);
  if (unexpected.empty()) return ::testing::AssertionSuccess();
  ::testing::AssertionResult failure = ::testing::AssertionFailure();
  failure << unexpected.size() << " unexpected warning(s):";
  for (const std::string &line : unexpected) failure << "\n  " << line;
  return failure;
}

}  // namespace support
