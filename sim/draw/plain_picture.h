// Pixels as they are, written as PNG: no title, no scale, no enlarging.
#pragma once

#include <string>

namespace sim {

// width x height pixels of three bytes, rows top to bottom, as PNG bytes;
// none if the drawing failed.
std::string plain_picture_png(int width, int height, const unsigned char *rgb);

}  // namespace sim
