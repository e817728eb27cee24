// frame_SSSSSS_<side>_look.png and frame_SSSSSS_<side>_reach.png: camera
// images enlarged, the first few of each kind per side. A look is an image
// the controller read, at its first read (or, where reads are not seen, an
// image it fetched with camera_get_image); a reach frame is the image a
// reach was decided on, the last one looked at before it began. SSSSSS is
// the step of the look, and the side the view the image shows (for a fetch,
// the head pan's sign then).
#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class FramesRecorder final : public Recorder {
 public:
  explicit FramesRecorder(const OutputSink &outputs) : outputs_(outputs) {}

  void on_fetch(const FetchEvent &fetch) override;
  void on_reach_start(const Reach &reach) override;

 private:
  // Whether a frame of this side and kind is still to be written.
  bool wants(View side, bool reach) const;
  void save(std::int64_t step, View side, bool reach, const CameraImage &camera,
            const std::optional<Window> &window, const std::string &title);

  const OutputSink &outputs_;
  std::array<int, 6> saved_{};  // per side and kind (look, reach)
  // The last fetched image, kept while a reach frame of its side may follow.
  std::int64_t kept_step_ = -1;
  CameraImage kept_;
  std::vector<unsigned char> kept_pixels_;
  std::int64_t reach_frame_of_ = -1;  // the fetch whose reach frame was written
};

}  // namespace sim
