#include "tests/sim/draw/png_reader.h"

#include <png.h>

#include <cstring>

namespace testpng {

Picture read(const std::string &path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return {};
  }
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  return picture;
}

int ink_at_edges(const Picture &picture, int margin) {
  int ink = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const bool edge =
          x < margin || y < margin || x >= picture.width - margin || y >= picture.height - margin;
      if (edge && picture.at(x, y) != Rgb{255, 255, 255}) ++ink;
    }
  return ink;
}

}  // namespace testpng
