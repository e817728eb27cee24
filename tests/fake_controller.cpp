#include "tests/fake_controller.h"

#include "controller_api/controller.h"

namespace {
std::string printed;
char buffer[1024];
}  // namespace

namespace fake {
const std::string &console() { return printed; }
void reset() { printed.clear(); }
}  // namespace fake

extern "C" {
void robot_live(void (*init)(void)) { init(); }
void robot_run(int (*)(void)) {}
int robot_step(int32_t) { return 0; }
DeviceTag robot_get_device(const char *) { return 0; }
void servo_set_position(DeviceTag, float) {}
void camera_enable(DeviceTag, int32_t) {}
void receiver_enable(DeviceTag, int32_t) {}
void robot_keyboard_enable(int32_t) {}
const unsigned char *camera_get_image(DeviceTag) { return nullptr; }
uint16_t camera_get_width(DeviceTag) { return 0; }
uint16_t camera_get_height(DeviceTag) { return 0; }
char *robot_get_formated_string(void) { return buffer; }
void robot_console_print(const char *text) { printed += text; }
}
