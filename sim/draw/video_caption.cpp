#include "sim/draw/video_caption.h"

#include <algorithm>
#include <cstddef>
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
  // Only the band is drawn on and copied back: the rest of the frame stays
  // as the camera drew it.
  const int band = std::min(
      height, static_cast<int>(2.0 * padding + line_height * static_cast<double>(lines.size())));
  const std::size_t top =
      static_cast<std::size_t>(height - band) * static_cast<std::size_t>(width) * 3u;
  Canvas canvas(&rgb[top], width, band);
  canvas.wash({0.0, 0.0, 0.0, 0.55});
  canvas.font(font_size);
  canvas.colour({1.0, 1.0, 1.0});
  double y = padding;
  for (const std::string &line : lines) {
    canvas.text(padding + 4.0, y, line, Align::left, Baseline::top);
    y += line_height;
  }
  const std::vector<unsigned char> drawn = canvas.rgb();
  if (drawn.size() == static_cast<std::size_t>(band) * static_cast<std::size_t>(width) * 3u)
    std::copy(drawn.begin(), drawn.end(), rgb.begin() + static_cast<std::ptrdiff_t>(top));
}

}  // namespace sim
