// The step function's mode machine, and the rest posture that opens a cycle.
#include "controller_api/console.h"
#include "controller_api/controller.h"
#include "reacher/blocks.h"
#include "reacher/reacher.h"

int32_t mode = MODE_INIT;
int32_t way = 0;
int32_t e = 0;
int32_t look_left = 1;
int32_t look_right = 0;
float angle = 0.4f;

namespace {
constexpr float pan_ahead = 0.0f;  // rad: the head looks straight ahead

// Solves for the current target and holds a reaching leg there for one
// motion: a step, then its set-points, every round. Joint 1 takes +q2 or -q2
// as the caller says. Through the solver reads xd, yd, zd and writes q1, q2,
// q3; reads them for the set-points.
void place_leg(int leg, float q2_sign) {
  solve_leg_ik();
  const float joint0 = joint0_setpoint();
  const float joint1 = q2_sign * q2;
  const float joint2 = joint2_setpoint();
  for (int round = 0; round < motion_rounds; ++round) {
    robot_step(step_ms);
    servo_set_position(leg_servos[leg][2], joint2);
    servo_set_position(tourne_tete, pan_ahead);
    servo_set_position(leg_servos[leg][1], joint1);
    servo_set_position(leg_servos[leg][0], joint0);
  }
}
}  // namespace

void mode_init_block() {
  console_print("MODE INIT");
  xd = 0.0f;
  yd = 0.0f;
  zd = rest_zd;
  place_leg(0, +1.0f);
  place_leg(2, -1.0f);
  mode = MODE_SEARCH;
}

int run_kinematic() {
  // Each test sees the mode the previous block left, so one call can run
  // the rest posture, a search, a head turn and a reach in turn.
  if (mode == MODE_INIT) mode_init_block();
  if (mode == MODE_SEARCH) mode_search_block();
  if (mode == MODE_TURN_HEAD_LEFT) mode_turn_head_left_block();
  if (mode == MODE_TURN_HEAD_RIGHT) mode_turn_head_right_block();
  if (mode == MODE_KINE) mode_kine_block();
  return 1;
}
