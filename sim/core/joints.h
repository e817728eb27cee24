// The robot's fifteen joints by index: leg l's joint j is 3 * l + j (hip
// pitch, hip roll, knee), then the three head joints.
#pragma once

namespace sim {

inline constexpr int joint_count = 15;
inline constexpr int head_tilt_joint = 12;  // r1/c1
inline constexpr int head_pan_joint = 13;   // r1/c1/c2
inline constexpr int head_roll_joint = 14;  // r1/c1/c2/c3
constexpr int leg_joint(int leg, int joint) { return 3 * leg + joint; }

}  // namespace sim
