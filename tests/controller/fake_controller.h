// A recording fake of the controller library, for unit tests that call the
// controller's functions directly (behaviour tests run the real executable
// under the stand-in instead).
#pragma once

#include <cstdint>
#include <string>

namespace fake {
// Everything printed through robot_console_print since the last reset.
const std::string &console();
// Forgets the console, the camera and the step count; recording back on.
void reset();

// Off: robot_console_print drops its text, so the fake itself never touches
// the heap while the controller runs (the no-heap test needs that).
void record_console(bool on);

// What camera_get_image, camera_get_width and camera_get_height hand out for
// any tag; the image is the caller's and must outlive its use.
void set_camera(const unsigned char *image, uint16_t width, uint16_t height);

// robot_step calls since the last reset.
std::int64_t steps();
}  // namespace fake
