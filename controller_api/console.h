// Console lines, the controller's only report.
#pragma once

// Formats one message, bounded to the library's 1024-byte text buffer, into
// that buffer and prints it from a second request of the buffer, as every
// console line of the controller is printed. A library that hands out no
// buffer gets no line rather than a crash.
void console_print(const char *format, ...) __attribute__((format(printf, 1, 2)));
