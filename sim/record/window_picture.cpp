#include "sim/record/window_picture.h"

#include "sim/draw/plain_picture.h"

namespace sim {

std::string window_picture_png(const LiveWindow::Picture &picture) {
  if (picture.width < 1 || picture.height < 1 ||
      picture.rgb.size() !=
          static_cast<std::size_t>(picture.width) * static_cast<std::size_t>(picture.height) * 3u)
    return "";
  return plain_picture_png(picture.width, picture.height, picture.rgb.data());
}

}  // namespace sim
