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
// body's origin, so the drawing never sees numbers too large for it.
Vec2 bounded(Vec2 point) {
  constexpr double far = 3.0;  // m
  const double length = std::hypot(point.x, point.y);
  if (length <= far) return point;
  return {point.x / length * far, point.y / length * far};
}

// A view's outline in pixels, closed.
Path outline_path(const Map &map, const std::vector<Vec2> &outline) {
  Path path;
  for (const Vec2 &point : outline) path.line_to(map.column(point.y), map.row(point.x));
  return path.close();
}

// The dashed line of the feet's reach, on the map and in the legend alike.
const Line reach_edge{reach_ink, 1.4, Cap::butt, Join::miter, {6.0, 4.0}};

// How far a front foot reaches around the hip at pixel (x, y): a faint disc,
// and a dashed edge.
void shade_reach(Canvas &canvas, double x, double y, double radius) {
  canvas.dot(x, y, radius, {0.0, 0.0, 0.0, 0.04});
}
void outline_reach(Canvas &canvas, double x, double y, double radius) {
  canvas.ring(x, y, radius, reach_edge);
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

void fill_view(Canvas &canvas, const Map &map, const std::vector<Vec2> &outline, Colour colour) {
  canvas.fill(outline_path(map, outline), colour.with_alpha(0.22));
}

void outline_view(Canvas &canvas, const Map &map, const std::vector<Vec2> &outline, Colour colour,
                  const char *name) {
  if (outline.empty()) return;
  canvas.stroke(outline_path(map, outline), {colour, 1.5});
  // The name just beyond the view's farthest point ahead, outside the area
  // where the targets it sees lie, and kept inside the map.
  Vec2 ahead = outline.front();
  for (const Vec2 &point : outline)
    if (point.x > ahead.x) ahead = point;
  canvas.font(13.0, Weight::bold);
  const double half_width = canvas.text_width(name) / 2.0 + 4.0;
  canvas.haloed_text(
      std::clamp(map.column(ahead.y), map.box.x + half_width, map.box.right() - half_width),
      std::clamp(map.row(ahead.x) - 4.0, map.box.y + 20.0, map.box.bottom() - 4.0), name,
      Align::centre, Baseline::bottom, {colour.r * 0.7, colour.g * 0.7, colour.b * 0.7});
}

void draw_hip(Canvas &canvas, double x, double y) {
  canvas.outline_box({x - 7.5, y - 7.5, 15.0, 15.0}, {hip_ink, 1.6});
}

void draw_body_frame(Canvas &canvas, const Map &map) {
  const double ox = map.column(0.0);
  const double oy = map.row(0.0);
  const double length = 0.02 * map.pixels_per_metre;
  canvas.stroke(
      Path().move_to(ox, oy).line_to(ox, oy - length).move_to(ox, oy).line_to(ox - length, oy),
      {muted_ink, 1.5});
  for (const auto &[tx, ty, dx, dy] :
       {std::tuple{ox, oy - length, 0.0, -1.0}, std::tuple{ox - length, oy, -1.0, 0.0}})
    canvas.fill(Path()
                    .move_to(tx + dx * 5.0, ty + dy * 5.0)
                    .line_to(tx - dy * 4.0, ty - dx * 4.0)
                    .line_to(tx + dy * 4.0, ty + dx * 4.0)
                    .close(),
                muted_ink);
  canvas.font(12.0);
  canvas.colour(muted_ink);
  canvas.text(ox + 4.0, oy - length - 2.0, "x", Align::left, Baseline::bottom);
  canvas.text(ox - length - 2.0, oy + 3.0, "y", Align::right, Baseline::top);
}

ScaleBar scale_bar(const Map &map) {
  // A round length, about a fifth of the map's width.
  const double length = nice_ticks(0.0, map.box.width / map.pixels_per_metre, 5).step;
  const double x0 = map.box.x + 16.0;
  return {length, x0, x0 + length * map.pixels_per_metre, map.box.bottom() - 14.0};
}

void draw_scale_bar(Canvas &canvas, const Map &map) {
  const ScaleBar bar = scale_bar(map);
  const double pixels = bar.x1 - bar.x0;
  canvas.fill_box({bar.x0 - 8.0, bar.y - 26.0, pixels + 16.0, 34.0}, {1.0, 1.0, 1.0, 0.85});
  canvas.stroke(Path()
                    .move_to(bar.x0, bar.y - 5.0)
                    .line_to(bar.x0, bar.y)
                    .line_to(bar.x1, bar.y)
                    .line_to(bar.x1, bar.y - 5.0),
                {ink, 2.0});
  canvas.font(12.0);
  canvas.colour(ink);
  canvas.text(bar.x0 + pixels / 2.0, bar.y - 4.0, tick_label(bar.metres, bar.metres) + " m",
              Align::centre, Baseline::bottom);
}

void draw_view_swatch(Canvas &canvas, double x, double y, Colour colour) {
  canvas.fill_and_stroke(Path().rectangle({x - 12.0, y - 7.0, 24.0, 14.0}), colour.with_alpha(0.22),
                         {colour, 1.5});
}

void draw_reach_swatch(Canvas &canvas, double x, double y) {
  canvas.stroke(Path()
                    .move_to(x - 13.0, y + 7.0)
                    .curve_to(x - 6.0, y - 6.0, x + 6.0, y - 6.0, x + 13.0, y + 7.0),
                reach_edge);
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

GroundAxes ground_axes(const Map &map, double tick_count) {
  const Box &box = map.box;
  const Extent &e = map.extent;
  const double across = e.y_high - e.y_low;
  const double along = e.x_high - e.x_low;
  const double longer = std::max(across, along);
  return {
      {e.x_low, e.x_high, box.bottom(), box.y},
      {e.y_low, e.y_high, box.right(), box.x},
      nice_ticks(e.x_low, e.x_high, std::max(2, static_cast<int>(tick_count * along / longer))),
      nice_ticks(e.y_low, e.y_high, std::max(2, static_cast<int>(tick_count * across / longer)))};
}

void draw_ground(Canvas &canvas, const Map &map, const GroundAxes &axes) {
  canvas.fill_box(map.box, ground_shade);
  canvas.horizontal_grid(map.box, axes.x_to_row, axes.x_ticks);
  canvas.vertical_grid(map.box, axes.y_to_column, axes.y_ticks);
}

void label_ground(Canvas &canvas, const Map &map, const GroundAxes &axes) {
  const Box &box = map.box;
  canvas.frame(box);
  canvas.font(12.0);
  canvas.colour(ink);
  canvas.left_ticks(box, axes.x_to_row, axes.x_ticks);
  canvas.bottom_ticks(box, axes.y_to_column, axes.y_ticks, true);
  canvas.font(13.0);
  canvas.text(box.x + box.width / 2.0, box.bottom() + 30.0,
              "y (m): across the body, positive to the robot's left", Align::centre, Baseline::top);
  canvas.upward_text(30.0, box.y + box.height / 2.0, "x (m): forward");
}

void draw_ground_areas(Canvas &canvas, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view) {
  for (const double hip : {hip_y, -hip_y})
    shade_reach(canvas, map.column(hip), map.row(0.0), foot_reach * map.pixels_per_metre);
  fill_view(canvas, map, left_view, left_view_ink);
  fill_view(canvas, map, right_view, right_view_ink);
}

void draw_ground_edges(Canvas &canvas, const Map &map, const std::vector<Vec2> &left_view,
                       const std::vector<Vec2> &right_view) {
  for (const double hip : {hip_y, -hip_y})
    outline_reach(canvas, map.column(hip), map.row(0.0), foot_reach * map.pixels_per_metre);
  outline_view(canvas, map, left_view, left_view_ink, "left view");
  outline_view(canvas, map, right_view, right_view_ink, "right view");
}

std::string foot_reach_label() {
  return "how far a front foot reaches: " + tick_label(foot_reach, 0.001) + " m from its hip";
}

}  // namespace sim::draw
