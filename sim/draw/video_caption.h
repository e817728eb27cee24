// Text over a video frame: a few lines in a dark band along its bottom, so a
// viewer reads the step, the time and what each leg is doing.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/observe/reaches.h"

namespace sim {

// The caption of a video frame: the step and the time, which view of the
// head camera the inset shows, and what each front leg is doing, named with
// its side of the body and the side of the picture it is on (the video's
// camera stands ahead and to the left of the robot).
std::vector<std::string> video_caption_lines(std::int64_t step, double seconds, LegState left_leg,
                                             LegState right_leg, View inset);

// Draws `lines` into the bottom of a width x height frame of 3 bytes a pixel
// (red first, rows top to bottom), in place. The rest of the frame is left
// as it is.
void caption_video_frame(std::span<unsigned char> rgb, int width, int height,
                         const std::vector<std::string> &lines);

}  // namespace sim
