#include "sim/draw/video_caption.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "sim/draw/canvas.h"

namespace sim {

using namespace draw;

namespace {
constexpr double font_size = 15.0;
constexpr double line_height = 21.0;
constexpr double padding = 8.0;
}  // namespace

std::vector<std::string> video_caption_lines(std::int64_t step, double seconds, LegState left_leg,
                                             LegState right_leg, View inset) {
  char time[64];
  std::snprintf(time, sizeof time, "step %lld, %.2f s", static_cast<long long>(step), seconds);
  const std::string view = inset == View::forward ? "looking ahead, between the side views"
                                                  : std::string(view_name(inset)) + " view";
  return {std::string(time) + "      inset: the head camera, " + view,
          std::string("left leg (near side): ") + leg_state_name(left_leg) +
              "      right leg (far side): " + leg_state_name(right_leg)};
}

void caption_video_frame(std::span<unsigned char> rgb, int width, int height,
                         const std::vector<std::string> &lines) {
  if (lines.empty() || width < 1 || height < 1 ||
      rgb.size() < static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u)
    return;
  // Only the band is handed to Cairo and back: the rest of the frame stays
  // as the camera drew it.
  const int band = std::min(
      height, static_cast<int>(2.0 * padding + line_height * static_cast<double>(lines.size())));
  const int top = height - band;
  cairo_surface_t *surface = rgb_image(
      &rgb[static_cast<std::size_t>(top) * static_cast<std::size_t>(width) * 3u], width, band);
  unsigned char *data = cairo_image_surface_get_data(surface);
  if (data == nullptr) {
    cairo_surface_destroy(surface);
    return;
  }
  const int stride = cairo_image_surface_get_stride(surface);
  const auto pixel = [&](int x, int y) {
    return &rgb[(static_cast<std::size_t>(top + y) * static_cast<std::size_t>(width) +
                 static_cast<std::size_t>(x)) *
                3u];
  };
  cairo_t *cr = cairo_create(surface);
  prepare_text(cr);
  set_colour(cr, {0.0, 0.0, 0.0, 0.55});
  cairo_paint(cr);
  use_font(cr, font_size);
  set_colour(cr, {1.0, 1.0, 1.0});
  double y = padding;
  for (const std::string &line : lines) {
    text(cr, padding + 4.0, y, line, Align::left, Baseline::top);
    y += line_height;
  }
  cairo_destroy(cr);
  cairo_surface_flush(surface);
  for (int row = 0; row < band; ++row) {
    const auto *in =
        reinterpret_cast<const std::uint32_t *>(data + static_cast<std::ptrdiff_t>(row) * stride);
    for (int x = 0; x < width; ++x) {
      unsigned char *out = pixel(x, row);
      out[0] = static_cast<unsigned char>(in[x] >> 16);
      out[1] = static_cast<unsigned char>(in[x] >> 8);
      out[2] = static_cast<unsigned char>(in[x]);
    }
  }
  cairo_surface_destroy(surface);
}

}  // namespace sim
