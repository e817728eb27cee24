#include "sim/record/window_picture.h"

#include <cstdio>
#include <fstream>

#include "sim/draw/plain_picture.h"

namespace sim {

std::string window_picture_png(const LiveWindow::Picture &picture) {
  if (picture.width < 1 || picture.height < 1 ||
      picture.rgb.size() !=
          static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3u)
    return "";
  return plain_picture_png(picture.width, picture.height, picture.rgb.data());
}

void save_window_picture(const LiveWindow::Picture &picture, const std::string &path) {
  const std::string png = window_picture_png(picture);
  std::ofstream file(path, std::ios::binary);
  file.write(png.data(), static_cast<std::streamsize>(png.size()));
  if (png.empty() || !file.flush())
    std::fprintf(stderr, "sim: warning: the window's picture %s could not be written\n",
                 path.c_str());
  else
    std::fprintf(stderr, "sim: the window's picture: %s\n", path.c_str());
}

}  // namespace sim
