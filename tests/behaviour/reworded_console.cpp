// A test double of the controller's console helper: every line reworded
// (letters rotated by 13, digits shifted by one), so nothing the stand-in might
// recognise in the usual wording is left. Linked into a second controller
// executable in place of controller_api/console.cpp.
#include <cstdarg>
#include <cstdio>

#include "controller_api/console.h"
#include "controller_api/controller.h"

void console_print(const char *format, ...) {
  char line[1024];
  va_list args;
  va_start(args, format);
  std::vsnprintf(line, sizeof line, format, args);
  va_end(args);
  for (char &c : line) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>('a' + (c - 'a' + 13) % 26);
    if (c >= 'A' && c <= 'Z') c = static_cast<char>('A' + (c - 'A' + 13) % 26);
    if (c >= '0' && c <= '9') c = static_cast<char>('0' + (c - '0' + 1) % 10);
    if (c == '=') c = ':';
  }
  char *buffer = robot_get_formated_string();
  if (buffer == nullptr) return;
  std::snprintf(buffer, 1024, "%s", line);
  robot_console_print(robot_get_formated_string());
}
