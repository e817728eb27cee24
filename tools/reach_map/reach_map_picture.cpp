// reach_map.png: the ground from above, each grid point coloured by how far
// the foot landed from the disc's centre.
#include "tools/reach_map/reach_map_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/draw/canvas.h"
#include "sim/draw/ground_map.h"

namespace sim::reach_map {

using namespace draw;

namespace {

constexpr double longest_side = 720.0;  // pixels of the map's longer side
constexpr double margin = 0.012;        // m of ground around the views and rings
constexpr double bar_length = 280.0;    // pixels of the colour bar
constexpr double bar_width = 18.0;
constexpr double largest_tile = 20.0;  // pixels

// Misses up to the disc's radius are hits, in greens; beyond it, oranges to
// dark red, reaching the darkest at three radii. A reader sees hit or miss at
// a glance and how far at a second look.
constexpr double scale_top = 3.0;  // radii
constexpr Colour hit_near{0.0, 0.40, 0.22};
constexpr Colour hit_edge{0.72, 0.90, 0.42};
constexpr Colour miss_edge{0.99, 0.72, 0.30};
constexpr Colour miss_far{0.50, 0.0, 0.10};
constexpr Colour no_contact_ink{0.0, 0.0, 0.0};
constexpr Colour unreached_ink{0.45, 0.45, 0.45};

Colour mix(Colour a, Colour b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

Colour miss_colour(double miss, double radius) {
  if (miss <= radius) return mix(hit_near, hit_edge, miss / radius);
  return mix(miss_edge, miss_far, (miss - radius) / ((scale_top - 1.0) * radius));
}

// A ring whose outer edge lies at `radius`.
void draw_ring(Canvas &canvas, double x, double y, double radius, Colour colour) {
  canvas.ring(x, y, std::max(radius - 0.75, 1.0), {colour, 1.5});
}

// A point as the map shows it: a tile of the grid, coloured by its miss, or
// marked by why it has none. Tiles keep whole-pixel edges, so the map stays
// crisp and its file small, and on a coarse grid they stay small enough to
// leave the views' edges in sight.
void draw_point(Canvas &canvas, double x, double y, double pitch, const Outcome &o, double radius) {
  const double side =
      std::max(1.0, std::round(std::min(pitch - (pitch >= 8.0 ? 2.0 : 1.0), largest_tile)));
  const double half = side / 2.0;
  if (o.reached())
    canvas.fill_box({std::round(x - half), std::round(y - half), side, side},
                    miss_colour(*o.miss, radius));
  else if (o.reach == ReachOutcome::no_contact)
    canvas.cross(std::round(x), std::round(y), std::round(half * 0.7),
                 {no_contact_ink, 1.6, Cap::butt, Join::miter, {}, false});
  else if (o.seen)
    draw_ring(canvas, x, y, half * 0.8, unreached_ink);
  else
    canvas.dot(x, y, std::max(half * 0.3, 1.2), unreached_ink);
}

// The colour bar, top at (x, y): misses in millimetres, the disc's edge marked.
void draw_colour_bar(Canvas &canvas, double x, double y, double radius) {
  const double top = scale_top * radius;
  const Scale to_row{0.0, top, y + bar_length, y};
  // The same piecewise-linear colours as the points, a sharp step at the edge.
  const double edge_at = 1.0 / scale_top;
  const Canvas::Stop stops[] = {
      {0.0, hit_near}, {edge_at, hit_edge}, {edge_at, miss_edge}, {1.0, miss_far}};
  const Box bar{x, y, bar_width, bar_length};
  canvas.gradient_box(bar, stops);
  canvas.outline_box(bar, {ink, 1.0});
  const Ticks ticks = nice_ticks(0.0, top * 1000.0, 6);
  canvas.font(12.0);
  canvas.colour(ink);
  for (const double mm : ticks.values) {
    const double row = to_row(mm / 1000.0);
    canvas.line(x + bar_width, row, x + bar_width + 4.0, row, {ink, 1.0});
    const bool last = std::abs(mm / 1000.0 - top) < 1e-9;
    canvas.text(x + bar_width + 7.0, row, (last ? "\u2265 " : "") + tick_label(mm, ticks.step),
                Align::left, Baseline::middle);
  }
  const double edge = to_row(radius);
  canvas.line(x - 5.0, edge, x + bar_width + 4.0, edge, {ink, 2.0});
  canvas.font(12.0, Weight::bold);
  canvas.text(x - 8.0, edge - 2.0, "hit", Align::right, Baseline::top);
  canvas.text(x - 8.0, edge - 4.0, "miss", Align::right, Baseline::bottom);
}

std::string mm(const std::optional<double> &metres) {
  if (!metres) return "none";
  char text[32];
  std::snprintf(text, sizeof text, "%.2f mm", *metres * 1000.0);
  return text;
}

std::vector<std::string> summary_notes(const Settings &settings, const Summary &s) {
  std::vector<std::string> notes;
  notes.push_back(count_text(s.points) + " grid points");
  for (const auto &[name, c] : {std::pair{"left", s.left}, std::pair{"right", s.right}})
    notes.push_back(std::string(name) + ": " + count_text(c.seen) + " seen, " +
                    count_text(c.reached) + " reached, " + count_text(c.hit) + " hit, " +
                    count_text(c.no_contact) + " no contact");
  if (s.seen() > 0) {
    char share[64];
    std::snprintf(share, sizeof share, "%.1f %% of the seen points hit",
                  100.0 * s.hit() / s.seen());
    notes.push_back(share);
  }
  notes.push_back("miss: median " + mm(s.miss_median) + ", worst " + mm(s.miss_worst));
  notes.push_back("discs wholly in a view and the feet's reach: " + count_text(s.well_inside_hit) +
                  " of " + count_text(s.well_inside) + " hit");
  if (settings.engine == EngineKind::physics && s.torso_tilt_worst && s.foot_force_worst) {
    char cost[96];
    std::snprintf(cost, sizeof cost, "torso tilt at most %.1f\u00b0, paw push at most %.1f N",
                  *s.torso_tilt_worst * 180.0 / M_PI, *s.foot_force_worst);
    notes.push_back(cost);
  }
  return notes;
}

}  // namespace

std::string map_picture_png(const Settings &settings, const Summary &summary,
                            const std::vector<Outcome> &outcomes) {
  // The ground shown: both views' footprints and both feet's reach.
  Map map;
  Extent &e = map.extent;
  e.x_low = -foot_reach - margin;
  e.x_high = foot_reach + margin;
  e.y_low = -hip_y - foot_reach - margin;
  e.y_high = hip_y + foot_reach + margin;
  std::vector<std::vector<Vec2>> outlines;
  for (const View view : {View::left, View::right}) {
    outlines.push_back(view_outline(settings.camera_width, settings.camera_height, view));
    for (const Vec2 &p : outlines.back()) e.include(p.x, p.y, margin);
  }
  for (const Outcome &o : outcomes) e.include(o.point.x, o.point.y, margin);
  e.clamp();
  fit_map(map, longest_side, 96.0, 104.0);
  const Box &box = map.box;
  const double pitch = settings.spacing() * map.pixels_per_metre;  // pixels between points

  const std::vector<LegendEntry> legend{
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, left_view_ink); },
       "ground the left view sees"},
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, right_view_ink); },
       "ground the right view sees"},
      {draw_reach_swatch, foot_reach_label()},
      {[](Canvas &c, double x, double y) { draw_hip(c, x, y); }, "front hip"},
      {[](Canvas &c, double x, double y) {
         c.cross(x, y, 5.0, {no_contact_ink, 1.6});
       },
       "a reach whose foot never touched the ground"},
      {[](Canvas &c, double x, double y) { draw_ring(c, x, y, 6.0, unreached_ink); },
       "seen, but no reach began"},
      {[](Canvas &c, double x, double y) { c.dot(x, y, 2.5, unreached_ink); },
       "nothing seen before the run's end"},
  };
  const std::vector<std::string> notes = summary_notes(settings, summary);

  // The side column's width, measured on a scratch canvas.
  double side_width = 0.0;
  double legend_height = 0.0;
  {
    Canvas scratch(1, 1);
    const Box measured = scratch.legend_column(0.0, 0.0, legend, 13.0);
    side_width = measured.width;
    legend_height = measured.height;
    scratch.font(13.0);
    for (const std::string &words : notes)
      side_width = std::max(side_width, 12.0 + scratch.text_width(words));
  }
  const double side_x = box.right() + 40.0;
  const double bar_y = box.y + 30.0;
  const double legend_y = bar_y + bar_length + 36.0;
  const double notes_y = legend_y + legend_height + 24.0;
  const double notes_bottom = notes_y + 22.0 + 19.0 * static_cast<double>(notes.size());
  Canvas canvas(static_cast<int>(std::ceil(side_x + side_width + 24.0)),
                static_cast<int>(std::ceil(std::max(box.bottom() + 64.0, notes_bottom + 24.0))));

  canvas.colour(ink);
  canvas.font(20.0, Weight::bold);
  canvas.text(
      24.0, 14.0,
      std::string("Reach map, ") + engine_name(settings.engine) + " engine" +
          (settings.engine == EngineKind::physics
               ? (settings.torso == Torso::free ? ", robot on its feet" : ", robot on a stand")
               : "") +
          ": how far the foot lands from a target placed at each point",
      Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  canvas.text(24.0, 44.0,
              "One run per point: a disc of radius " + number(settings.radius * 1000.0) +
                  " mm centred there, points " + number(settings.spacing() * 1000.0) +
                  " mm apart; each run ends after its first reach or " +
                  count_text(settings.step_bound) + " steps.",
              Align::left, Baseline::top);
  canvas.text(24.0, 63.0, body_frame_caption, Align::left, Baseline::top);

  const GroundAxes axes = ground_axes(map, 7.0);
  {
    const Canvas::Clip clip(canvas, box);
    draw_ground(canvas, map, axes);
    draw_ground_areas(canvas, map, outlines[0], outlines[1]);
    draw_ground_edges(canvas, map, outlines[0], outlines[1]);
    // Points over the areas' edges: the data come first.
    for (const Outcome &o : outcomes)
      draw_point(canvas, map.column(o.point.y), map.row(o.point.x), pitch, o, settings.radius);
    draw_body_frame(canvas, map);
    for (const double hip : {hip_y, -hip_y}) draw_hip(canvas, map.column(hip), map.row(0.0));
    draw_scale_bar(canvas, map);
  }
  label_ground(canvas, map, axes);

  canvas.font(13.0, Weight::bold);
  canvas.text(side_x, box.y, "Miss: foot to the disc's centre (mm)", Align::left, Baseline::top);
  draw_colour_bar(canvas, side_x + 44.0, bar_y, settings.radius);
  canvas.legend_column(side_x, legend_y, legend, 13.0);
  canvas.font(13.0, Weight::bold);
  canvas.colour(ink);
  canvas.text(side_x, notes_y, "Summary", Align::left, Baseline::top);
  canvas.font(13.0);
  double y = notes_y + 22.0;
  for (const std::string &words : notes) {
    canvas.text(side_x + 12.0, y, words, Align::left, Baseline::top);
    y += 19.0;
  }
  return canvas.png();
}

}  // namespace sim::reach_map
