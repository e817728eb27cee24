// The four constant tables that turn a target window's position in the square
// view into the first two coordinates of a foot target, and their look-up.
//
// Entry (r, c) is element r * table_columns + c; r is the image column of the
// window centre and c its image row (the tables are keyed column first).
#pragma once

#include <array>
#include <cstdint>

#include "vision/red_measures.h"

inline constexpr int table_rows = 160;
inline constexpr int table_columns = 208;  // declared row length; only the first 160 hold data
inline constexpr int table_filled = 160;   // rows and columns 0..159 hold data, the rest 0.0

// Window positions the tables serve, in each coordinate: 0 up to this (157)
// exclusive, the last whose centre (position + ad / 2) is a filled row and
// column. The window search stops there; the look-up ignores anything beyond.
inline constexpr int32_t window_position_limit = table_filled - ad / 2;

// Lengths in the unit of l1 and l2, whole thousandths. Right side (way = 1):
// yd = -tab_x_right, xd = -tab_y_right; left side (way = 0): yd = tab_x_left,
// xd = -tab_y_left.
extern const std::array<float, table_rows * table_columns> tab_x_right;
extern const std::array<float, table_rows * table_columns> tab_y_right;
extern const std::array<float, table_rows * table_columns> tab_x_left;
extern const std::array<float, table_rows * table_columns> tab_y_left;

// Reads the tables of side `way` (1 right, any other value left) at the centre
// (x + 3, y + 3) of the window at (x, y) and writes xd and yd; zd is untouched.
// A position outside 0..window_position_limit - 1, whose centre would fall
// outside the filled region, writes nothing, as if no window had matched.
void lookup_target(int32_t way, int32_t x, int32_t y);
