#include "sim/draw/plain_picture.h"

#include "sim/draw/canvas.h"

namespace sim {

std::string plain_picture_png(int width, int height, const unsigned char *rgb) {
  if (rgb == nullptr || width < 1 || height < 1) return "";
  draw::Canvas canvas(width, height);
  cairo_surface_t *image = draw::rgb_image(rgb, width, height);
  cairo_set_source_surface(canvas.cr(), image, 0, 0);
  cairo_paint(canvas.cr());
  cairo_surface_destroy(image);
  return canvas.png();
}

}  // namespace sim
