// The parts of the step function, in reacher/*.cpp, and what they share. Each
// says which controller state (reacher.h, kinematics/leg_ik.h) it reads and
// which it writes; the device table, fixed after init, is read by all.
#pragma once

#include <cstdint>

// Rest posture of both reaching legs.
// Writes xd, yd, zd; through the solver reads them and writes q1, q2, q3;
// writes mode.
void mode_init_block();
// Sweep, look to one side, count red.
// Reads look_left, look_right, e, angle; writes e, and way, mode, look_left,
// look_right as the count decides.
void mode_search_block();
// Point the head at the left side: the left sweep once more.
// Reads angle; writes mode.
void mode_turn_head_left_block();
// Point the head at the right side.
// Reads angle; writes mode.
void mode_turn_head_right_block();
// Reach the target with the seen side's leg.
// Reads way; writes xd, yd (when a window matches); through the solver reads
// xd, yd, zd and writes q1, q2, q3; writes mode.
void mode_kine_block();

// Every motion advances the simulation one step of this length at a time.
inline constexpr int32_t step_ms = 1;
// Rounds of one joint motion, and of settling after a reach.
inline constexpr int motion_rounds = 7;
inline constexpr int settle_rounds = 20;

// Tilt (tete_coup) and roll (coup_h) of a head pose, rad; the pan is +angle or
// -angle, the caller's.
struct HeadTilt {
  float tete_coup;
  float coup_h;
};
// While looking: both sweeps and the left turn.
inline constexpr HeadTilt sweep_tilt{-1.24f, -0.26f};
// The right turn, which differs from the sweeps, and the head's first
// set-points in init. -8.35 lies beyond the joint's range on purpose: it drives
// the joint to its limit.
inline constexpr HeadTilt right_turn_tilt{-8.35f, -0.2f};
