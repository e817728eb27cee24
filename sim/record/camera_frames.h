// frame_SSSSSS_<side>_look.png and frame_SSSSSS_<side>_reach.png: the camera
// images the controller decided on, enlarged, the first few of each kind per
// side.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class FramesRecorder final : public Recorder {
 public:
  explicit FramesRecorder(const OutputSink &outputs) : outputs_(outputs) {}

  // A look: the image the search counted red in, after its "red left = " or
  // "red right = " line.
  void on_console(std::int64_t step, std::string_view text, const CameraImage &camera) override;
  // A reach: the image it searched for its window, with that window outlined.
  void on_reach_start(const ReachStart &reach) override;

 private:
  // Whether a frame of this view and kind is still to be written.
  bool wants(View view, bool reach) const;
  void save(std::int64_t step, View view, bool reach, const CameraImage &camera,
            const std::optional<Window> &window);

  const OutputSink &outputs_;
  std::array<int, 6> saved_{};  // per view and kind (look, reach)
};

}  // namespace sim
