#include "tests/support/png_reader.h"

#include <png.h>

#include <cstring>
#include <fstream>

#include "tests/support/folders.h"

namespace support {

int Picture::count(Rgb colour) const {
  int found = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) found += at(x, y) == colour;
  return found;
}

Picture read_png(const std::string &path) {
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

Picture saved_picture(const std::string &name, std::string_view png) {
  static const std::filesystem::path folder = fresh_folder("pictures");
  const std::string path = (folder / name).string();
  std::ofstream(path, std::ios::binary) << png;
  return read_png(path);
}

int ink_at_edges(const Picture &picture, int margin) {
  int ink = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const bool edge =
          x < margin || y < margin || x >= picture.width - margin || y >= picture.height - margin;
      if (edge && picture.at(x, y) != white) ++ink;
    }
  return ink;
}

}  // namespace support
