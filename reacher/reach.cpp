// The reach that ends a cycle: from the target window to a foot placement.
#include "controller_api/console.h"
#include "controller_api/controller.h"
#include "reacher/blocks.h"
#include "reacher/reacher.h"
#include "vision/red_measures.h"
#include "vision/target_tables.h"

namespace {
// One joint at a time: each round is a step, then the set-point. Reads and
// writes no state.
void move_joint(DeviceTag joint, float setpoint) {
  for (int round = 0; round < motion_rounds; ++round) {
    robot_step(step_ms);
    servo_set_position(joint, setpoint);
  }
}
}  // namespace

void mode_kine_block() {
  console_print(" MODE KINE \n");

  // The tables were made for a square image; the square view is its top-left
  // S x S corner, read with the image's own row length, so a wide or tall
  // camera never mixes rows or reads past the image.
  const unsigned char *image = camera_get_image(camera);
  const int32_t width = camera_get_width(camera);
  const int32_t size = square_view_size(width, camera_get_height(camera));

  const int32_t red = count_red_pixels(image, size, size, width);
  console_print("nb_red = %d, ad*ag = %d\n", red, ad * ag);

  // Without a matching window the target stays where the rest posture put
  // it, so the leg goes back to rest.
  const TargetWindow window = find_target_window(image, size, width);
  if (window.found) lookup_target(way, window.x, window.y);

  solve_leg_ik();
  const float joint0 = joint0_setpoint();
  const float joint1 = -q2;  // on both sides in the reach
  const float joint2 = joint2_setpoint();

  const int leg = (way == 1) ? 2 : 0;
  move_joint(leg_servos[leg][2], joint2);
  move_joint(leg_servos[leg][1], joint1);
  move_joint(leg_servos[leg][0], joint0);
  for (int round = 0; round < settle_rounds; ++round) robot_step(step_ms);

  mode = MODE_INIT;
}
