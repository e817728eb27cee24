// The red count and the target-window search on arbitrary images, against the
// reference scan of the tests: as the controller calls them, and through
// every other set of kernels this processor runs, which the controller never
// calls here.
//
// Input layout (missing bytes read as 0):
//   0      flags: bit 0 a null image, bit 1 background bytes through a palette
//          of levels around the thresholds
//   1..2   width, 3..4 height, 5..6 extra row length: little-endian, each % 301
//   7      how much smaller than min(width, height) the square view is
//   8      how much shorter than the image's rows the search's rows are
//   9      rectangle count (% 8), then 5 bytes per rectangle: x, y, width - 1,
//          height - 1 (% 16 each), red level
//   rest   the background's red bytes, repeated over the image (none: all 0)
// The image buffer holds exactly the pixels up to the last one of the last row,
// so AddressSanitizer sees any read past it.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "tests/controller/reference_scan.h"
#include "vision/red_measures.h"
#include "vision/red_scan.h"
#include "vision/target_tables.h"

namespace {
constexpr int32_t max_side = 300;  // pixels, in each direction
constexpr std::size_t header_size = 10;
constexpr std::size_t rectangle_size = 5;
constexpr std::array<unsigned char, 8> palette{0, 25, 26, 213, 214, 215, 255, 214};

struct Input {
  const uint8_t *data;
  std::size_t size;
  std::size_t at = 0;
  uint8_t byte() { return at < size ? data[at++] : 0; }
  int32_t side() {
    const int32_t low = byte();
    return (low | byte() << 8) % (max_side + 1);
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  Input in{data, size};
  const uint8_t flags = in.byte();
  const int32_t width = in.side();
  const int32_t height = in.side();
  const int32_t row_length = width + in.side();
  const int32_t full_view = std::min(width, height);
  const int32_t view = full_view - in.byte() % (full_view + 1);
  const int32_t search_row = row_length - in.byte() % (row_length + 1);
  const int rectangles = in.byte() % 8;
  in.at = std::min(size, header_size + rectangle_size * static_cast<std::size_t>(rectangles));
  const uint8_t *rectangle_bytes = data + std::min(size, header_size);
  const std::size_t rectangle_bytes_size = in.at - std::min(size, header_size);

  // Pixels up to the last one of the last row; the last row is only `width` long.
  const std::size_t pixels =
      height == 0 || width == 0
          ? 0
          : static_cast<std::size_t>(height - 1) * static_cast<std::size_t>(row_length) +
                static_cast<std::size_t>(width);
  std::vector<unsigned char> image(pixels * bytes_per_pixel);
  // The background repeated by doubling copies: a loop over every byte of a
  // large image, each step traced by the fuzzer, would cost more than the
  // measures under test.
  std::vector<unsigned char> background(data + in.at, data + size);
  if (flags & 2)
    for (unsigned char &value : background) value = palette[value % palette.size()];
  if (!background.empty() && !image.empty()) {
    std::size_t filled = std::min(background.size(), image.size());
    std::memcpy(image.data(), background.data(), filled);
    for (; filled < image.size(); filled *= 2)
      std::memcpy(image.data() + filled, image.data(), std::min(filled, image.size() - filled));
  }
  for (std::size_t r = 0; r + rectangle_size <= rectangle_bytes_size; r += rectangle_size) {
    const uint8_t *rect = rectangle_bytes + r;
    if (width == 0 || height == 0) break;
    const int32_t x0 = rect[0] % width, y0 = rect[1] % height;
    const int32_t x1 = std::min(width, x0 + 1 + rect[2] % 16);
    const int32_t y1 = std::min(height, y0 + 1 + rect[3] % 16);
    for (int32_t y = y0; y < y1; ++y)
      for (int32_t x = x0; x < x1; ++x)
        image[(static_cast<std::size_t>(y) * static_cast<std::size_t>(row_length) +
               static_cast<std::size_t>(x)) *
              bytes_per_pixel] = rect[4];
  }

  const unsigned char *pointer = (flags & 1) || image.empty() ? nullptr : image.data();

  const int32_t count = count_red_pixels(pointer, width, height, row_length);
  if (pointer == nullptr)
    fuzz::check(count == 0, "a null image counts 0");
  else
    fuzz::check(count == reference::count_red_pixels(pointer, width, height, row_length),
                "count_red_pixels equals the reference count");
  fuzz::check(count >= 0 && count <= width * height, "the count is at most one per pixel");
  const TargetWindow window = find_target_window(pointer, view, search_row);
  for (const red_scan::Kernels *kernels : red_scan::kernels_that_run_here().subspan(1)) {
    fuzz::check(count == red_scan::count_red_pixels(*kernels, pointer, width, height, row_length),
                "every kernel set's count equals the chosen one");
    const TargetWindow other = red_scan::find_target_window(*kernels, pointer, view, search_row);
    fuzz::check(other.found == window.found && other.x == window.x && other.y == window.y,
                "every kernel set's search finds what the chosen one finds");
  }
  if (pointer == nullptr) {
    fuzz::check(!window.found, "a null image has no window");
    return 0;
  }
  const TargetWindow expected = reference::find_target_window(pointer, view, search_row);
  fuzz::check(window.found == expected.found, "find_target_window finds what the reference finds");
  if (window.found) {
    fuzz::check(window.x == expected.x && window.y == expected.y,
                "find_target_window returns the reference's last match");
    const int32_t limit = std::min(view - ad, window_position_limit);
    fuzz::check(window.x >= 0 && window.y >= 0 && window.x < limit && window.y < limit,
                "a window position stays inside the search's bounds");
  }
  return 0;
}
