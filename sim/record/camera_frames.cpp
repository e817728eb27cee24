#include "sim/record/camera_frames.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "sim/draw/camera_frame.h"
#include "sim/system/files.h"

namespace sim {

namespace {
// Camera frames saved per side view and kind (look, reach).
constexpr int max_frames = 10;

std::size_t slot(View view, bool reach) {
  return static_cast<std::size_t>(view) * 2u + (reach ? 1u : 0u);
}

int count_red(const unsigned char *rgb, int width, int height) {
  int count = 0;
  for (int i = 0; i < width * height; ++i) count += rgb[3 * i] > 25 ? 1 : 0;
  return count;
}
}  // namespace

bool FramesRecorder::wants(View view, bool reach) const {
  return view != View::forward && saved_[slot(view, reach)] < max_frames;
}

void FramesRecorder::on_console(std::int64_t step, std::string_view text,
                                const CameraImage &camera) {
  for (const View side : {View::left, View::right}) {
    if (!text.starts_with(side == View::left ? "red left = " : "red right = ")) continue;
    if (wants(side, false))
      save(step, side, false, camera,
           find_target_level_window(camera.pixels, camera.width, camera.height));
    return;
  }
}

void FramesRecorder::on_reach_start(const ReachStart &reach) {
  save(reach.step, reach.camera.view, true, reach.camera, reach.window);
}

void FramesRecorder::save(std::int64_t step, View view, bool reach, const CameraImage &camera,
                          const std::optional<Window> &window) {
  if (!wants(view, reach)) return;
  ++saved_[slot(view, reach)];
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld_%s_%s.png", static_cast<long long>(step),
                view_name(view), reach ? "reach" : "look");
  char title[160];
  if (reach)
    std::snprintf(title, sizeof title, "step %lld, %s view: the reach searched it for its window",
                  static_cast<long long>(step), view_name(view));
  else
    std::snprintf(title, sizeof title, "step %lld, %s view: the search counted %d red pixels",
                  static_cast<long long>(step), view_name(view),
                  count_red(camera.pixels, camera.width, camera.height));
  outputs_.write_picture(
      name, camera_frame_png(camera.width, camera.height, camera.pixels, title, window));
}

}  // namespace sim
