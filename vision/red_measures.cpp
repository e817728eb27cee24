#include "vision/red_measures.h"

#include <algorithm>
#include <array>
#include <cstddef>

#include "vision/target_tables.h"

namespace {
// Columns (and rows) the windows can cover: the last position plus the window.
constexpr int32_t max_window_span = window_position_limit - 1 + ad;  // 163 pixels

// First byte of image row y, rows being row_length pixels long.
const unsigned char *row_start(const unsigned char *image, int32_t row_length, int32_t y) {
  return image + static_cast<std::size_t>(row_length) * static_cast<std::size_t>(y) *
                     static_cast<std::size_t>(bytes_per_pixel);
}
}  // namespace

int32_t square_view_size(int32_t width, int32_t height) {
  if (width <= 0 || height <= 0) return 0;
  return std::min(width, height);
}

int32_t count_red_pixels(const unsigned char *image, int32_t width, int32_t height,
                         int32_t row_length) {
  if (image == nullptr || width <= 0 || height <= 0 || row_length <= 0) return 0;
  int32_t count = 0;
  for (int32_t y = 0; y < height; ++y) {
    const unsigned char *row = row_start(image, row_length, y);
    for (int32_t x = 0; x < width; ++x) {
      if (row[x * bytes_per_pixel] > RED_THRESHOLD) ++count;
    }
  }
  return count;
}

TargetWindow find_target_window(const unsigned char *image, int32_t size, int32_t row_length) {
  TargetWindow match{false, 0, 0};
  if (image == nullptr || row_length < size) return match;
  const int32_t positions = std::min(size - ad, window_position_limit);
  if (positions <= 0) return match;
  const int32_t span = positions - 1 + ad;

  // Separable running sums rather than 49 reads per window: column_sums[c]
  // holds the red bytes of column c over the ag rows of the current window row,
  // kept up to date by adding the row that enters and dropping the row that
  // leaves, and a window's sum slides along the row the same way. Each pixel is
  // read twice; the sums are exact integers, so every position is tested
  // exactly as the plain scan would test it.
  std::array<int32_t, max_window_span> column_sums{};
  const auto add_row = [&](int32_t y, int32_t sign) {
    const unsigned char *row = row_start(image, row_length, y);
    for (int32_t c = 0; c < span; ++c) column_sums[c] += sign * row[c * bytes_per_pixel];
  };
  for (int32_t y = 0; y < ag - 1; ++y) add_row(y, 1);
  for (int32_t y = 0; y < positions; ++y) {
    add_row(y + ag - 1, 1);
    int32_t sum = 0;
    for (int32_t k = 0; k < ad - 1; ++k) sum += column_sums[k];
    for (int32_t x = 0; x < positions; ++x) {
      sum += column_sums[x + ad - 1];
      // No early exit: the last match of the x-major scan must win. This loop
      // runs y-major, so a later match replaces the recorded one only when its
      // x is not smaller (for an equal x, its y is larger).
      if (sum == target_window_sum && (!match.found || x >= match.x)) match = {true, x, y};
      sum -= column_sums[x];
    }
    add_row(y, -1);
  }
  return match;
}
