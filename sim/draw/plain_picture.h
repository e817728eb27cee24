// Pixels as they are, written as PNG: no title, no scale, no enlarging.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace sim {

// width x height pixels of three bytes, rows top to bottom, as PNG bytes;
// none if the drawing failed.
std::string plain_picture_png(int width, int height, const unsigned char *rgb);

// A PNG file read back: width x height pixels of three bytes, rows top to
// bottom; none if it cannot be read.
struct PlainPicture {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> rgb;
};
std::optional<PlainPicture> read_plain_picture_png(const std::string &path);

}  // namespace sim
