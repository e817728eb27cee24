// The mode blocks of the step function, one per mode, in reacher/*.cpp.
#pragma once

void mode_init_block();             // rest posture of both reaching legs
void mode_search_block();           // sweep, look to one side, count red
void mode_turn_head_left_block();   // point the head at the left side
void mode_turn_head_right_block();  // point the head at the right side
void mode_kine_block();             // reach the target with the seen side's leg

// Rounds of one joint motion, and of settling after a reach.
inline constexpr int motion_rounds = 7;
inline constexpr int settle_rounds = 20;
