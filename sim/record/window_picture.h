// A picture of the live window, taken with its key, as PNG bytes.
#pragma once

#include <string>

#include "sim/core/live_window.h"

namespace sim {

// None if the picture is empty or could not be drawn.
std::string window_picture_png(const LiveWindow::Picture &picture);

}  // namespace sim
