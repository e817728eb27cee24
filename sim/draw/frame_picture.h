// Camera frames: an image the controller acted on, enlarged so its pixels can
// be seen. Written as PNG without timestamps, so the same image gives the
// same file.
#pragma once

#include <optional>
#include <string>

#include "sim/observe/target_window.h"

namespace sim {

// A camera image enlarged so its pixels can be seen, with a title and, when a
// window was found, its 7 x 7 pixels outlined. The PNG's bytes; none if the
// drawing failed or there is no image.
std::string frame_picture_png(int width, int height, const unsigned char *rgb,
                              const std::string &title, std::optional<Window> window);

}  // namespace sim
