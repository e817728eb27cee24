// The controller library's C functions: each one hands over to this process's
// world, created at the first call.
#include <cstdlib>

#include "controller_api/controller.h"
#include "sim/world.h"

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

SIM_EXPORT void robot_live(void (*init)(void)) { sim::the_world().live(init); }
SIM_EXPORT void robot_run(int (*step)(void)) { sim::the_world().run(step); }
SIM_EXPORT int robot_step(int32_t ms) {
  // The simulator ends the controller when its steps are done, as a real one
  // does when it stops.
  sim::World &world = sim::the_world();
  if (!world.step(ms)) std::exit(world.exit_status());
  return 0;
}
SIM_EXPORT DeviceTag robot_get_device(const char *name) {
  return sim::the_world().get_device(name);
}
SIM_EXPORT void servo_set_position(DeviceTag servo, float position) {
  sim::the_world().set_position(servo, position);
}
SIM_EXPORT void camera_enable(DeviceTag camera, int32_t ms) {
  sim::the_world().enable_camera(camera, ms);
}
SIM_EXPORT void receiver_enable(DeviceTag receiver, int32_t ms) {
  sim::the_world().enable_receiver(receiver, ms);
}
SIM_EXPORT void robot_keyboard_enable(int32_t ms) { sim::the_world().enable_keyboard(ms); }
SIM_EXPORT const unsigned char *camera_get_image(DeviceTag camera) {
  return sim::the_world().camera_image(camera);
}
SIM_EXPORT uint16_t camera_get_width(DeviceTag camera) {
  return sim::the_world().camera_width(camera);
}
SIM_EXPORT uint16_t camera_get_height(DeviceTag camera) {
  return sim::the_world().camera_height(camera);
}
SIM_EXPORT char *robot_get_formated_string(void) { return sim::the_world().text_buffer(); }
SIM_EXPORT void robot_console_print(const char *text) { sim::the_world().console_print(text); }
