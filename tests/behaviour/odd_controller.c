/* A controller that does what a careless one does, chosen by the variable
 * ODD_CONTROLLER:
 *   bytes           prints text and asks for a device whose names are not
 *                   UTF-8 (Latin-1 and stray bytes), then steps on;
 *   unknown_device  asks for the device "" at every step, and drives, enables
 *                   and reads what it got back (tag 0). */
#include <stdlib.h>
#include <string.h>

#include "controller_api/controller.h"

static const char *mode = "";

static int step(void) {
  if (strcmp(mode, "bytes") == 0) {
    robot_console_print("caf\xe9 \xff\xfe au lait\n");
    robot_console_print("d\xc3\xa9j\xc3\xa0 vu, then a cut sequence \xe2\x82\n");
    robot_get_device("t\xe9te");
  } else if (strcmp(mode, "unknown_device") == 0) {
    const DeviceTag tag = robot_get_device("");
    servo_set_position(tag, 0.1f);
    camera_enable(tag, 32);
  }
  robot_step(32);
  return 0;
}

int main(void) {
  const char *chosen = getenv("ODD_CONTROLLER");
  if (chosen != NULL) mode = chosen;
  robot_live(NULL);
  robot_run(step);
  return 0;
}
