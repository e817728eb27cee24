#include "sim/observe/target_window.h"

#include <algorithm>
#include <cstddef>
#include <vector>

namespace sim {

namespace {
// The controller's tables end at window centre 159 (position 156).
constexpr int window_position_limit = 157;
}  // namespace

std::optional<Window> find_target_level_window(const unsigned char *rgb, int width, int height) {
  if (rgb == nullptr) return std::nullopt;
  const int square = std::min(width, height);
  const int positions = std::min(square - window_side, window_position_limit);
  if (positions <= 0) return std::nullopt;
  // Sums of red bytes over every rectangle from the image's corner: each
  // window's sum is then four look-ups, not 49 reads.
  const int span = positions - 1 + window_side;  // rows and columns the windows cover
  const auto at = [span](int x, int y) {
    return static_cast<std::size_t>(y) * static_cast<std::size_t>(span + 1) +
           static_cast<std::size_t>(x);
  };
  std::vector<int> corner_sums(at(span, span) + 1, 0);
  for (int y = 0; y < span; ++y) {
    int row_sum = 0;
    for (int x = 0; x < span; ++x) {
      row_sum += rgb[(static_cast<std::size_t>(y) * static_cast<std::size_t>(width) +
                      static_cast<std::size_t>(x)) *
                     3u];
      corner_sums[at(x + 1, y + 1)] = corner_sums[at(x + 1, y)] + row_sum;
    }
  }
  std::optional<Window> found;
  for (int x = 0; x < positions; ++x)
    for (int y = 0; y < positions; ++y) {
      const int sum = corner_sums[at(x + window_side, y + window_side)] -
                      corner_sums[at(x, y + window_side)] - corner_sums[at(x + window_side, y)] +
                      corner_sums[at(x, y)];
      if (sum == window_sum) found = Window{x, y};
    }
  return found;
}

}  // namespace sim
