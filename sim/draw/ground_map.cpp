#include "sim/draw/ground_map.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <tuple>

#include "sim/core/calibration_rule.h"
#include "sim/core/legs.h"

namespace sim::draw {

namespace {

// A point far beyond the picture brought in along its direction from the
// body's origin, so the drawing never sees numbers cairo cannot hold.
Vec2 bounded(Vec2 point) {
  constexpr double far = 3.0;  // m
  const double length = std::hypot(point.x, point.y);
  if (length <= far) return point;
  return {point.x / length * far, point.y / length * far};
}

void trace_outline(cairo_t *cr, const Map &map, const std::vector<Vec2> &outline) {
  for (const Vec2 &point : outline) cairo_line_to(cr, map.column(point.y), map.row(point.x));
  cairo_close_path(cr);
}

// The dashed line of the feet's reach, on the map and in the legend alike.
void stroke_reach_edge(cairo_t *cr) {
  set_colour(cr, reach_ink);
  cairo_set_line_width(cr, 1.4);
  const double dashes[] = {6.0, 4.0};
  cairo_set_dash(cr, dashes, 2, 0.0);
  cairo_stroke(cr);
  cairo_set_dash(cr, nullptr, 0, 0.0);
}

}  // namespace

void Extent::include(double x, double y, double margin) {
  if (!std::isfinite(x) || !std::isfinite(y) || !std::isfinite(margin)) return;
  x_low = std::min(x_low, x - margin);
  x_high = std::max(x_high, x + margin);
  y_low = std::min(y_low, y - margin);
  y_high = std::max(y_high, y + margin);
}

void Extent::clamp() {
  x_low = std::max(x_low, -largest_extent);
  y_low = std::max(y_low, -largest_extent);
  x_high = std::min(x_high, largest_extent);
  y_high = std::min(y_high, largest_extent);
}

double Extent::half_diagonal() const { return std::hypot(x_high - x_low, y_high - y_low) / 2.0; }

std::vector<Vec2> view_outline(int width, int height, View view) {
  std::vector<Vec2> outline;
  const double right = width - 1;
  const double bottom = height - 1;
  constexpr double spacing = 0.5;  // pixels
  auto walk = [&](double u0, double v0, double u1, double v1) {
    const double length = std::max(std::abs(u1 - u0), std::abs(v1 - v0));
    const int samples = std::max(1, static_cast<int>(std::ceil(length / spacing)));
    for (int i = 0; i < samples; ++i) {
      const double t = static_cast<double>(i) / samples;
      if (const auto point = ground_point(view, u0 + (u1 - u0) * t, v0 + (v1 - v0) * t))
        outline.push_back(bounded(*point));
    }
  };
  walk(0.0, 0.0, right, 0.0);
  walk(right, 0.0, right, bottom);
  walk(right, bottom, 0.0, bottom);
  walk(0.0, bottom, 0.0, 0.0);
  return outline;
}

void fill_view(cairo_t *cr, const Map &map, const std::vector<Vec2> &outline, Colour colour) {
  trace_outline(cr, map, outline);
  set_colour(cr, {colour.r, colour.g, colour.b, 0.22});
  cairo_fill(cr);
}

void outline_view(cairo_t *cr, const Map &map, const std::vector<Vec2> &outline, Colour colour,
                  const char *name) {
  if (outline.empty()) return;
  trace_outline(cr, map, outline);
  set_colour(cr, colour);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
  // The name just beyond the view's farthest point ahead, outside the area
  // where the targets it sees lie, and kept inside the map.
  Vec2 ahead = outline.front();
  for (const Vec2 &point : outline)
    if (point.x > ahead.x) ahead = point;
  use_font(cr, 13.0, Weight::bold);
  const double half_width = text_width(cr, name) / 2.0 + 4.0;
  haloed_text(cr,
              std::clamp(map.column(ahead.y), map.box.x + half_width, map.box.right() - half_width),
              std::clamp(map.row(ahead.x) - 4.0, map.box.y + 20.0, map.box.bottom() - 4.0), name,
              Align::centre, Baseline::bottom, {colour.r * 0.7, colour.g * 0.7, colour.b * 0.7});
}

void shade_reach(cairo_t *cr, double x, double y, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0.0, 2.0 * std::numbers::pi);
  set_colour(cr, {0.0, 0.0, 0.0, 0.04});
  cairo_fill(cr);
}

void outline_reach(cairo_t *cr, double x, double y, double radius) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0.0, 2.0 * std::numbers::pi);
  stroke_reach_edge(cr);
}

void draw_hip(cairo_t *cr, double x, double y) {
  cairo_rectangle(cr, x - 7.5, y - 7.5, 15.0, 15.0);
  set_colour(cr, hip_ink);
  cairo_set_line_width(cr, 1.6);
  cairo_stroke(cr);
}

void draw_body_frame(cairo_t *cr, const Map &map) {
  const double ox = map.column(0.0);
  const double oy = map.row(0.0);
  const double length = 0.02 * map.pixels_per_metre;
  set_colour(cr, muted_ink);
  cairo_set_line_width(cr, 1.5);
  cairo_move_to(cr, ox, oy);
  cairo_line_to(cr, ox, oy - length);
  cairo_move_to(cr, ox, oy);
  cairo_line_to(cr, ox - length, oy);
  cairo_stroke(cr);
  for (const auto &[tx, ty, dx, dy] :
       {std::tuple{ox, oy - length, 0.0, -1.0}, std::tuple{ox - length, oy, -1.0, 0.0}}) {
    cairo_move_to(cr, tx + dx * 5.0, ty + dy * 5.0);
    cairo_line_to(cr, tx - dy * 4.0, ty - dx * 4.0);
    cairo_line_to(cr, tx + dy * 4.0, ty + dx * 4.0);
    cairo_close_path(cr);
    cairo_fill(cr);
  }
  use_font(cr, 12.0);
  text(cr, ox + 4.0, oy - length - 2.0, "x", Align::left, Baseline::bottom);
  text(cr, ox - length - 2.0, oy + 3.0, "y", Align::right, Baseline::top);
}

void draw_scale_bar(cairo_t *cr, const Map &map) {
  // A round length, about a fifth of the map's width.
  const double length = nice_ticks(0.0, map.box.width / map.pixels_per_metre, 5).step;
  const double pixels = length * map.pixels_per_metre;
  const double x0 = map.box.x + 16.0;
  const double y0 = map.box.bottom() - 14.0;
  set_colour(cr, {1.0, 1.0, 1.0, 0.85});
  cairo_rectangle(cr, x0 - 8.0, y0 - 26.0, pixels + 16.0, 34.0);
  cairo_fill(cr);
  set_colour(cr, ink);
  cairo_set_line_width(cr, 2.0);
  cairo_move_to(cr, x0, y0 - 5.0);
  cairo_line_to(cr, x0, y0);
  cairo_line_to(cr, x0 + pixels, y0);
  cairo_line_to(cr, x0 + pixels, y0 - 5.0);
  cairo_stroke(cr);
  use_font(cr, 12.0);
  text(cr, x0 + pixels / 2.0, y0 - 4.0, tick_label(length, length) + " m", Align::centre,
       Baseline::bottom);
}

void draw_view_swatch(cairo_t *cr, double x, double y, Colour colour) {
  cairo_rectangle(cr, x - 12.0, y - 7.0, 24.0, 14.0);
  set_colour(cr, {colour.r, colour.g, colour.b, 0.22});
  cairo_fill_preserve(cr);
  set_colour(cr, colour);
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

void draw_reach_swatch(cairo_t *cr, double x, double y) {
  cairo_move_to(cr, x - 13.0, y + 7.0);
  cairo_curve_to(cr, x - 6.0, y - 6.0, x + 6.0, y - 6.0, x + 13.0, y + 7.0);
  stroke_reach_edge(cr);
}

void fit_map(Map &map, double longest_side, double left, double top) {
  const double across = map.extent.y_high - map.extent.y_low;
  const double along = map.extent.x_high - map.extent.x_low;
  map.pixels_per_metre = longest_side / std::max(across, along);
  map.box = {left, top, std::round(across * map.pixels_per_metre),
             std::round(along * map.pixels_per_metre)};
}

const char *const body_frame_caption =
    "Body frame in metres, seen from above: forward (x) is up, the robot's left (y) is to the "
    "left; the origin lies midway between the front hips.";

GroundAxes begin_ground(cairo_t *cr, const Map &map, double tick_count) {
  const Box &box = map.box;
  const Extent &e = map.extent;
  cairo_save(cr);
  clip_to(cr, box);
  set_colour(cr, ground_shade);
  cairo_rectangle(cr, box.x, box.y, box.width, box.height);
  cairo_fill(cr);
  const double across = e.y_high - e.y_low;
  const double along = e.x_high - e.x_low;
  const double longer = std::max(across, along);
  const GroundAxes axes{
      {e.x_low, e.x_high, box.bottom(), box.y},
      {e.y_low, e.y_high, box.right(), box.x},
      nice_ticks(e.x_low, e.x_high, std::max(2, static_cast<int>(tick_count * along / longer))),
      nice_ticks(e.y_low, e.y_high, std::max(2, static_cast<int>(tick_count * across / longer)))};
  horizontal_grid(cr, box, axes.x_to_row, axes.x_ticks);
  vertical_grid(cr, box, axes.y_to_column, axes.y_ticks);
  return axes;
}

void end_ground(cairo_t *cr, const Map &map, const GroundAxes &axes) {
  const Box &box = map.box;
  cairo_restore(cr);
  frame(cr, box);
  use_font(cr, 12.0);
  set_colour(cr, ink);
  left_ticks(cr, box, axes.x_to_row, axes.x_ticks);
  bottom_ticks(cr, box, axes.y_to_column, axes.y_ticks, true);
  use_font(cr, 13.0);
  text(cr, box.x + box.width / 2.0, box.bottom() + 30.0,
       "y (m): across the body, positive to the robot's left", Align::centre, Baseline::top);
  upward_text(cr, 30.0, box.y + box.height / 2.0, "x (m): forward");
}

void draw_ground_areas(cairo_t *cr, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view) {
  for (const double hip : {hip_y, -hip_y})
    shade_reach(cr, map.column(hip), map.row(0.0), foot_reach * map.pixels_per_metre);
  fill_view(cr, map, left_view, left_view_ink);
  fill_view(cr, map, right_view, right_view_ink);
}

void draw_ground_edges(cairo_t *cr, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view) {
  for (const double hip : {hip_y, -hip_y})
    outline_reach(cr, map.column(hip), map.row(0.0), foot_reach * map.pixels_per_metre);
  outline_view(cr, map, left_view, left_view_ink, "left view");
  outline_view(cr, map, right_view, right_view_ink, "right view");
}

std::string foot_reach_label() {
  return "how far a front foot reaches: " + tick_label(foot_reach, 0.001) + " m from its hip";
}

}  // namespace sim::draw
