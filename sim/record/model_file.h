// world.xml: the physics engine's whole model, robot and discs, as MJCF text
// that MuJoCo's own tools can open, written when the run starts.
#pragma once

#include <string>

#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace sim {

class ModelFileRecorder final : public Recorder {
 public:
  ModelFileRecorder(const OutputSink &outputs, const std::string &model_xml) {
    outputs.write("world.xml", model_xml);
  }
};

}  // namespace sim
