// The controller: its whole state, and the procedures the library calls.
// Constant data (device names, posture set-points, tables) is const; what
// changes during a run is listed here, each with the part that writes it.
#pragma once

#include <cstdint>

#include "controller_api/controller.h"
#include "kinematics/leg_ik.h"  // foot target xd, yd, zd and angles q1, q2, q3

// Device table: looked up once in init, never changed.
extern DeviceTag leg_servos[4][3];  // leg 0..3 (0 left reaching, 2 right), joint 0..2
extern DeviceTag tete_coup;         // head joint r1/c1
extern DeviceTag tourne_tete;       // head pan joint r1/c1/c2: + looks left, - right
extern DeviceTag coup_h;            // head joint r1/c1/c2/c3
extern DeviceTag camera;
extern DeviceTag receiver;

// Behaviour modes. There is no mode 4: the head turns lead to 5.
inline constexpr int32_t MODE_INIT = 0;
inline constexpr int32_t MODE_SEARCH = 1;
inline constexpr int32_t MODE_TURN_HEAD_LEFT = 2;
inline constexpr int32_t MODE_TURN_HEAD_RIGHT = 3;
inline constexpr int32_t MODE_KINE = 5;

// Behaviour state, each with what writes it.
extern int32_t mode;        // current mode; each mode block hands on to the next
extern int32_t way;         // side where red was seen: 0 left, 1 right; the search
extern int32_t e;           // searches so far, its parity picks the side looked at; the search
extern int32_t look_left;   // the next search starts with a sweep to the left; the search
extern int32_t look_right;  // the next search starts with a sweep to the right; the search
extern float angle;         // head pan amplitude of sweeps and turns (rad); nothing writes it

// Called once by the library: looks up the devices, gives the supporting legs
// and the head their first set-points, enables camera, receiver and keyboard.
// Writes the device table.
void init();

// Called again and again by the library: reads mode and runs the blocks of the
// current mode (reacher/blocks.h says what each reads and writes), each
// advancing the simulation itself. Always returns 1.
int run_kinematic();

// Head sweeps of 21 steps each, towards +angle (left) or -angle (right).
// Read angle; write no state.
void turn_head_l();
void turn_head_r();
