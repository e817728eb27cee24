// A recording fake of the controller library, for unit tests that call the
// controller's functions directly (behaviour tests run the real executable
// under the stand-in instead).
#pragma once

#include <string>

namespace fake {
// Everything printed through robot_console_print since the last reset.
const std::string &console();
void reset();
}  // namespace fake
