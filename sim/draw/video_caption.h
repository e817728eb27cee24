// Text over a video frame: a few lines in a dark band along its bottom, so a
// viewer reads the step, the time and what each leg is doing.
#pragma once

#include <span>
#include <string>
#include <vector>

namespace sim {

// Draws `lines` into the bottom of a width x height frame of 3 bytes a pixel
// (red first, rows top to bottom), in place. The rest of the frame is left
// as it is.
void caption_video_frame(std::span<unsigned char> rgb, int width, int height,
                         const std::vector<std::string> &lines);

}  // namespace sim
