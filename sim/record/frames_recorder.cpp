#include "sim/record/frames_recorder.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "sim/draw/frame_picture.h"
#include "sim/system/files.h"

namespace sim {

namespace {
// Camera frames saved per side and kind (look, reach).
constexpr int max_frames = 10;

std::size_t slot(View side, bool reach) {
  return static_cast<std::size_t>(side) * 2u + (reach ? 1u : 0u);
}

std::string frame_title(std::int64_t step, View side, const char *what) {
  char title[160];
  std::snprintf(title, sizeof title, "step %lld, %s view: %s", static_cast<long long>(step),
                view_name(side), what);
  return title;
}
}  // namespace

bool FramesRecorder::wants(View side, bool reach) const {
  return saved_[slot(side, reach)] < max_frames;
}

void FramesRecorder::on_fetch(const FetchEvent &fetch) {
  const View side = fetch.fetch.side;
  if (wants(side, false))
    save(fetch.fetch.step, side, false, fetch.camera, fetch.fetch.window,
         frame_title(
             fetch.fetch.step, side,
             fetch.read ? "the image the controller read" : "the image the controller fetched"));
  if (!wants(side, true)) return;
  kept_step_ = fetch.fetch.step;
  kept_ = fetch.camera;
  kept_pixels_.assign(fetch.camera.pixels,
                      fetch.camera.pixels + static_cast<std::size_t>(fetch.camera.width) *
                                                static_cast<std::size_t>(fetch.camera.height) * 3u);
  kept_.pixels = kept_pixels_.data();
}

void FramesRecorder::on_reach_start(const Reach &reach) {
  if (!reach.decided_on || reach.decided_on->step != kept_step_) return;
  // Both legs may set out from one image: it is one frame.
  if (reach_frame_of_ == kept_step_) return;
  reach_frame_of_ = kept_step_;
  const Fetch &fetch = *reach.decided_on;
  char what[96];
  std::snprintf(what, sizeof what, "the image the %s leg's reach was decided on",
                reach.leg == 0 ? "left" : "right");
  save(fetch.step, fetch.side, true, kept_, fetch.window,
       frame_title(fetch.step, fetch.side, what));
}

void FramesRecorder::save(std::int64_t step, View side, bool reach, const CameraImage &camera,
                          const std::optional<Window> &window, const std::string &title) {
  if (!wants(side, reach)) return;
  ++saved_[slot(side, reach)];
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld_%s_%s.png", static_cast<long long>(step),
                view_name(side), reach ? "reach" : "look");
  outputs_.write_picture(
      name, frame_picture_png(camera.width, camera.height, camera.pixels, title, window));
}

}  // namespace sim
