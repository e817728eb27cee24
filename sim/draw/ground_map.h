// The robot's ground drawn from above, forward up and left to the left: the
// part of the ground shown, the views' footprints, the hips and how far each
// front foot reaches. Shared by the run's top view and the reach map.
#pragma once

#include <string>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/core/legs.h"
#include "sim/draw/canvas.h"

namespace sim::draw {

inline constexpr Colour ground_shade{0.965, 0.965, 0.95};
inline constexpr Colour left_view_ink{0.25, 0.45, 0.85};
inline constexpr Colour right_view_ink{0.85, 0.6, 0.15};
inline constexpr Colour reach_ink{0.35, 0.35, 0.35};
inline constexpr Colour hip_ink{0.15, 0.15, 0.15};

// The part of the ground shown, in metres: by default the front legs' reach
// and the views around them; it grows to hold what must be shown, up to
// largest_extent from the origin on every side.
struct Extent {
  static constexpr double largest_extent = 0.5;  // m
  double x_low = -0.09, x_high = 0.16;
  double y_low = -0.17, y_high = 0.17;
  void include(double x, double y, double margin);
  void clamp();
  bool holds(double x, double y) const {
    return x >= x_low && x <= x_high && y >= y_low && y <= y_high;
  }
  double middle_x() const { return (x_low + x_high) / 2.0; }
  double middle_y() const { return (y_low + y_high) / 2.0; }
  double half_diagonal() const;
};

// Ground to pixels: forward is up and the robot's left is to the left.
struct Map {
  Extent extent;
  Box box;
  double pixels_per_metre = 1.0;
  double column(double y) const { return box.x + (extent.y_high - y) * pixels_per_metre; }
  double row(double x) const { return box.y + (extent.x_high - x) * pixels_per_metre; }
};

// Sizes the map so that its longer side is longest_side pixels, with its
// box's top-left corner at (left, top).
void fit_map(Map &map, double longest_side, double left, double top);
// The line under each such picture's title that says how to read it.
extern const char *const body_frame_caption;

// The map's grid and ticks, about tick_count along its longer side.
struct GroundAxes {
  Scale x_to_row;
  Scale y_to_column;
  Ticks x_ticks;
  Ticks y_ticks;
};
GroundAxes ground_axes(const Map &map, double tick_count);
// The map's ground and grid, drawn while the canvas is clipped to its box;
// then, the clip lifted, its frame and both axes' ticks and names.
void draw_ground(Canvas &canvas, const Map &map, const GroundAxes &axes);
void label_ground(Canvas &canvas, const Map &map, const GroundAxes &axes);

// What a side view of a width x height camera sees of the ground: its border
// walked through the camera's mapping. Pixels past the horizon see no ground
// and are left out; points far away are brought in to a few metres.
std::vector<Vec2> view_outline(int width, int height, View view);
// A view's ground, lightly tinted in its colour.
void fill_view(Canvas &canvas, const Map &map, const std::vector<Vec2> &outline, Colour colour);
// A view's edge, named just beyond its farthest point ahead.
void outline_view(Canvas &canvas, const Map &map, const std::vector<Vec2> &outline, Colour colour,
                  const char *name);
// A front hip, centred on pixel (x, y).
void draw_hip(Canvas &canvas, double x, double y);
// The feet's reach and the views' ground, lightly tinted; then the edges of
// both, drawn apart so that a caller can lay its own marks between them.
void draw_ground_areas(Canvas &canvas, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view);
void draw_ground_edges(Canvas &canvas, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view);
// The body frame's x and y arrows at the origin.
void draw_body_frame(Canvas &canvas, const Map &map);
// A scale bar in the map's bottom-left corner: its length in metres, and
// where it lies.
struct ScaleBar {
  double metres = 0.0;
  double x0 = 0.0, x1 = 0.0, y = 0.0;  // pixels: its ends, and its line
};
ScaleBar scale_bar(const Map &map);
void draw_scale_bar(Canvas &canvas, const Map &map);

// Legend swatches for a view and for the reach's edge, centred on (x, y).
void draw_view_swatch(Canvas &canvas, double x, double y, Colour colour);
void draw_reach_swatch(Canvas &canvas, double x, double y);
// "how far a front foot reaches: 0.070 m from its hip"
std::string foot_reach_label();

}  // namespace sim::draw
