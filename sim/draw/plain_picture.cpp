#include "sim/draw/plain_picture.h"

#include <cairo.h>

#include <cstdint>
#include <cstring>
#include <memory>

#include "sim/draw/canvas.h"

namespace sim {

std::string plain_picture_png(int width, int height, const unsigned char *rgb) {
  if (rgb == nullptr || width < 1 || height < 1) return "";
  return draw::Canvas(rgb, width, height).png();
}

std::optional<PlainPicture> read_plain_picture_png(const std::string &path) {
  const std::unique_ptr<cairo_surface_t, void (*)(cairo_surface_t *)> surface(
      cairo_image_surface_create_from_png(path.c_str()), cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return std::nullopt;
  const cairo_format_t format = cairo_image_surface_get_format(surface.get());
  if (format != CAIRO_FORMAT_RGB24 && format != CAIRO_FORMAT_ARGB32) return std::nullopt;
  cairo_surface_flush(surface.get());
  PlainPicture picture;
  picture.width = cairo_image_surface_get_width(surface.get());
  picture.height = cairo_image_surface_get_height(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  const unsigned char *data = cairo_image_surface_get_data(surface.get());
  if (picture.width < 1 || picture.height < 1 || data == nullptr) return std::nullopt;
  picture.rgb.resize(static_cast<std::size_t>(picture.width) *
                     static_cast<std::size_t>(picture.height) * 3u);
  unsigned char *to = picture.rgb.data();
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      // A pixel is one native 32-bit word, 0xAARRGGBB; camera frames are opaque.
      std::uint32_t word = 0;
      std::memcpy(&word, data + static_cast<std::ptrdiff_t>(y) * stride + 4 * x, 4);
      *to++ = static_cast<unsigned char>(word >> 16);
      *to++ = static_cast<unsigned char>(word >> 8);
      *to++ = static_cast<unsigned char>(word);
    }
  return picture;
}

}  // namespace sim
