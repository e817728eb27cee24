// Tells a window on an X display that its close button was pressed, as a
// window manager does. Kept apart: Xlib's macros clash with GoogleTest's.
#pragma once

#include <string>

namespace xclose {

// False if the display cannot be opened.
bool close_window(const std::string &display, unsigned long window);

}  // namespace xclose
