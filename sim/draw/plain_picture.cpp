#include "sim/draw/plain_picture.h"

#include "sim/draw/canvas.h"

namespace sim {

std::string plain_picture_png(int width, int height, const unsigned char *rgb) {
  if (rgb == nullptr || width < 1 || height < 1) return "";
  return draw::Canvas(rgb, width, height).png();
}

}  // namespace sim
