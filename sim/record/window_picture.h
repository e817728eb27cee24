// A picture of the live window, taken with its key, as PNG bytes.
#pragma once

#include <string>

#include "sim/core/live_window.h"

namespace sim {

// None if the picture is empty or could not be drawn.
std::string window_picture_png(const LiveWindow::Picture &picture);

// Writes the picture as a PNG file at path and says on stderr where it went,
// or warns that it could not be written.
void save_window_picture(const LiveWindow::Picture &picture, const std::string &path);

}  // namespace sim
