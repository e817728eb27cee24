// joints.png: every plotted joint's set-point and position against time, and
// where each reach began. Written as PNG without timestamps, so the same
// history gives the same file.
#pragma once

#include <string>

#include "sim/observe/joint_history.h"

namespace sim {

// One panel per plotted joint, set-point and position against time. The
// PNG's bytes; none if the drawing failed.
std::string joint_plot_png(const JointHistory &history);

}  // namespace sim
