#include "tests/controller/fake_controller.h"

#include "controller_api/controller.h"

namespace {
std::string printed;
bool recording = true;
char buffer[1024];
const unsigned char *camera_image = nullptr;
uint16_t camera_width = 0;
uint16_t camera_height = 0;
std::int64_t step_count = 0;
}  // namespace

namespace fake {
const std::string &console() { return printed; }
void reset() {
  printed.clear();
  recording = true;
  camera_image = nullptr;
  camera_width = 0;
  camera_height = 0;
  step_count = 0;
}
void record_console(bool on) { recording = on; }
void set_camera(const unsigned char *image, uint16_t width, uint16_t height) {
  camera_image = image;
  camera_width = width;
  camera_height = height;
}
std::int64_t steps() { return step_count; }
}  // namespace fake

extern "C" {
void robot_live(void (*init)(void)) { init(); }
void robot_run(int (*)(void)) {}
int robot_step(int32_t) {
  ++step_count;
  return 0;
}
DeviceTag robot_get_device(const char *) { return 0; }
void servo_set_position(DeviceTag, float) {}
void camera_enable(DeviceTag, int32_t) {}
void receiver_enable(DeviceTag, int32_t) {}
void robot_keyboard_enable(int32_t) {}
const unsigned char *camera_get_image(DeviceTag) { return camera_image; }
uint16_t camera_get_width(DeviceTag) { return camera_width; }
uint16_t camera_get_height(DeviceTag) { return camera_height; }
char *robot_get_formated_string(void) { return buffer; }
void robot_console_print(const char *text) {
  if (recording) printed += text;
}
}
