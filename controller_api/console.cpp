#include "controller_api/console.h"

#include <cstdarg>
#include <cstdio>

#include "controller_api/controller.h"

namespace {
constexpr std::size_t console_buffer_size = 1024;  // bytes the library guarantees
}

void console_print(const char *format, ...) {
  char *buffer = robot_get_formated_string();
  if (buffer == nullptr) return;
  va_list args;
  va_start(args, format);
  std::vsnprintf(buffer, console_buffer_size, format, args);
  va_end(args);
  robot_console_print(robot_get_formated_string());
}
