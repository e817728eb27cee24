#include "vision/target_tables.h"

#include <cstddef>

#include "kinematics/leg_ik.h"

namespace {
using Table = std::array<float, table_rows * table_columns>;

// value(r, c) = (n0 + nr * r + nc * c) / (1 + dr * r + dc * c): a fit of the
// camera's view of the ground for one head pose, so no optics are computed at
// run time.
struct Rule {
  double n0;  // length unit
  double nr;  // length unit per table row
  double nc;  // length unit per table column
  double dr;  // per table row
  double dc;  // per table column
};

// Entries that the tables hold apart from the rounded rule.
struct Override {
  int row;
  int column;
  float value;
};

// The rule rounded to the nearest thousandth and stored as the nearest float:
// a float quotient of two exact values is correctly rounded, which a double
// rounded again to float need not be. The rule is evaluated in double because
// its value nearest a half-thousandth (-0.10849999 at tab_y_left (55, 23))
// would land on the tie if scaled by 1000 in float.
constexpr float rounded_rule(const Rule &rule, int r, int c) {
  const double value = (rule.n0 + rule.nr * r + rule.nc * c) / (1.0 + rule.dr * r + rule.dc * c);
  const double thousandths = value * 1000.0;
  const auto whole =
      static_cast<int32_t>(thousandths < 0.0 ? thousandths - 0.5 : thousandths + 0.5);
  return static_cast<float>(whole) / 1000.0f;
}

template <std::size_t N>
constexpr Table build_table(const Rule &rule, const std::array<Override, N> &overrides) {
  Table table{};  // columns table_filled.. stay 0.0
  for (int r = 0; r < table_filled; ++r) {
    for (int c = 0; c < table_filled; ++c) table[r * table_columns + c] = rounded_rule(rule, r, c);
  }
  for (const Override &entry : overrides)
    table[entry.row * table_columns + entry.column] = entry.value;
  return table;
}

constexpr Rule x_right_rule{-0.03953646, 0.0004182125, -0.00001674954, -0.00171374, -0.0004149986};
constexpr Rule y_right_rule{-0.09113835, 0.0001328035, 0.0004119929, -0.001734998, -0.000426217};
constexpr Rule x_left_rule{-0.07332442, 0.0009051759, 0.00008225272, 0.003457706, 0.00007208251};
constexpr Rule y_left_rule{-0.1296386, -0.0003427546, 0.0008144595, 0.003544184, 0.00004313039};

// The non-zero overrides are recorded values the rule does not reproduce:
// each lies 0.001 from the rounded rule, and the tables hold them as recorded.
// Row 159, columns 146 and 147 of both left tables hold 0.0, far from the rule
// (0.053 and -0.042 / -0.041); they are read only by a window at x = 156.
constexpr std::array<Override, 1> x_right_overrides{{{3, 0, -0.039f}}};
constexpr std::array<Override, 2> y_right_overrides{{{80, 80, -0.058f}, {155, 0, -0.096f}}};
constexpr std::array<Override, 3> x_left_overrides{
    {{0, 0, -0.074f}, {159, 146, 0.0f}, {159, 147, 0.0f}}};
constexpr std::array<Override, 2> y_left_overrides{{{159, 146, 0.0f}, {159, 147, 0.0f}}};

constexpr int32_t centre_offset = ad / 2;  // from a window's position to its centre
static_assert(table_filled <= table_rows && table_filled <= table_columns);
}  // namespace

constexpr Table tab_x_right = build_table(x_right_rule, x_right_overrides);
constexpr Table tab_y_right = build_table(y_right_rule, y_right_overrides);
constexpr Table tab_x_left = build_table(x_left_rule, x_left_overrides);
constexpr Table tab_y_left = build_table(y_left_rule, y_left_overrides);
static_assert(tab_x_right.size() == 33'280 && tab_y_left.size() == 33'280);

void lookup_target(int32_t way, int32_t x, int32_t y) {
  if (x < 0 || y < 0 || x >= window_position_limit || y >= window_position_limit) return;
  const std::size_t entry =
      static_cast<std::size_t>((x + centre_offset) * table_columns + (y + centre_offset));
  // Plain negation: a 0.0 entry gives -0.0. It compares equal to 0, but the
  // solver's atan(zd / xd) sees its sign, so no sign is normalised here.
  if (way == 1) {
    yd = -tab_x_right[entry];
    xd = -tab_y_right[entry];
  } else {
    yd = tab_x_left[entry];
    xd = -tab_y_left[entry];
  }
}
