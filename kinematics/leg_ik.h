// Closed-form inverse kinematics of a three-joint reaching leg, and the mapping
// of its angles to joint set-points.
#pragma once

// Foot target (length unit of l1 and l2). Written by the rest posture and by
// the table look-up; read by solve_leg_ik.
extern float xd;
extern float yd;
extern float zd;  // -0.115 at start, and again at every rest posture

// The last joint angles computed (radians), written by solve_leg_ik. They
// survive between solves: a failed step keeps its angle, and the steps after
// it use that old value.
extern float q1;
extern float q2;
extern float q3;

inline constexpr float l1 = 0.0649f;       // first segment length
inline constexpr float l2 = 0.0696f;       // second segment length
inline constexpr float rest_zd = -0.115f;  // height of the ground under the hips

// Reads xd, yd, zd; updates q1, q2, q3; prints one console line for each step
// that cannot be solved and goes on with the angle it already had.
void solve_leg_ik();

// Set-points of joints 0 and 2 from the current q1 and q3 (joint 1 gets +q2 or
// -q2, the caller's choice). Computed in double, rounded once to float.
float joint0_setpoint();
float joint2_setpoint();
