#include "tests/behaviour/window_close.h"

#include <X11/Xlib.h>

namespace xclose {

bool close_window(const std::string &display_name, unsigned long window) {
  Display *display = XOpenDisplay(display_name.c_str());
  if (display == nullptr) return false;
  XEvent event{};
  event.xclient.type = ClientMessage;
  event.xclient.window = window;
  event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
  event.xclient.format = 32;
  event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
  event.xclient.data.l[1] = CurrentTime;
  XSendEvent(display, window, False, NoEventMask, &event);
  XFlush(display);
  XCloseDisplay(display);
  return true;
}

}  // namespace xclose
