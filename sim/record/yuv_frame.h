// A video frame as the encoder stores it: 4:2:0 YUV in the limited range of
// ITU-R BT.601, what ffmpeg makes of RGB by default and what players assume
// of video this size. Converting here, in one pass, costs a fraction of what
// ffmpeg's own general-purpose scaler does, and sends it half the bytes.
#pragma once

#include <span>
#include <vector>

namespace sim {

// width x height pixels of 3 bytes (RGB, rows top to bottom) into planes Y
// (a byte a pixel), then U and V (a byte each 2 x 2 pixels, from their mean
// colour). Both sides must be even.
void rgb_to_yuv420(std::span<const unsigned char> rgb, int width, int height,
                   std::vector<unsigned char> &yuv);

}  // namespace sim
