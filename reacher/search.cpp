// Looking for red: the head sweeps, the search block and the two head turns.
#include "controller_api/console.h"
#include "controller_api/controller.h"
#include "reacher/blocks.h"
#include "reacher/reacher.h"
#include "vision/red_measures.h"

namespace {
// Holds the head at one pose for a motion: every round gives the three
// set-points, each followed by a step. Reads and writes no state.
void hold_head(float pan, HeadTilt tilt) {
  for (int round = 0; round < motion_rounds; ++round) {
    servo_set_position(tourne_tete, pan);
    robot_step(step_ms);
    servo_set_position(tete_coup, tilt.tete_coup);
    robot_step(step_ms);
    servo_set_position(coup_h, tilt.coup_h);
    robot_step(step_ms);
  }
}
}  // namespace

void turn_head_l() { hold_head(+angle, sweep_tilt); }

void turn_head_r() { hold_head(-angle, sweep_tilt); }

void mode_search_block() {
  console_print(" MODE SEARCH\n");
  if (look_left == 1) turn_head_l();
  if (look_right == 1) turn_head_r();

  console_print("TAKE PICT\n");
  const unsigned char *image = camera_get_image(camera);
  const int32_t width = camera_get_width(camera);
  const int32_t height = camera_get_height(camera);
  robot_step(step_ms);

  e = e + 1;
  console_print("debut search, e=e+1 , e = %d\n", e);

  // The parity of e alone picks the side looked at; look_left and look_right
  // only pick the sweep that opens the next search. The count reads the
  // image after the look's sweep: the library refreshes it in place.
  if (e % 2 == 0) {
    console_print("look at left \n");
    turn_head_l();
    const int32_t red = count_red_pixels(image, width, height, width);
    console_print("red left = %d\n", red);
    if (red > 0) {
      way = 0;
      mode = MODE_TURN_HEAD_LEFT;
    } else {
      look_left = 0;
      look_right = 1;
    }
  } else {
    const unsigned char *right_image = camera_get_image(camera);
    console_print("look at right \n");
    turn_head_r();
    const int32_t red = count_red_pixels(right_image, width, height, width);
    console_print("red right = %d\n", red);
    if (red > 0) {
      way = 1;
      mode = MODE_TURN_HEAD_RIGHT;
    } else {
      look_left = 1;
      look_right = 0;
    }
  }
}

void mode_turn_head_left_block() {
  console_print("MODE TURN_HEAD_LEFT \n");
  turn_head_l();
  mode = MODE_KINE;
}

void mode_turn_head_right_block() {
  console_print("MODE TURN_HEAD_RIGHT \n");
  hold_head(-angle, right_turn_tilt);
  mode = MODE_KINE;
}
