#include "tools/reach_map/robustness_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "sim/core/factors.h"
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

// The scale's stops: no hit, half, all.
constexpr Colour none_hit{0.50, 0.0, 0.10};
constexpr Colour half_hit{0.99, 0.72, 0.30};
constexpr Colour all_hit{0.0, 0.40, 0.22};
constexpr Colour outline_ink{0.05, 0.05, 0.30};

// The panels of sensitivity.png.
constexpr Colour inside_ink{0.10, 0.30, 0.65};
constexpr Colour all_points_ink{0.85, 0.45, 0.10};
constexpr Colour robot_ink{0.10, 0.30, 0.65, 0.35};
constexpr Colour model_ink{0.45, 0.45, 0.45};

Colour mix(Colour a, Colour b, double t) {
  t = std::clamp(t, 0.0, 1.0);
  return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

std::string percent(int part, int whole) {
  if (whole == 0) return "none";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f %%", 100.0 * part / whole);
  return text;
}

std::string chance_text(double p) {
  char text[16];
  std::snprintf(text, sizeof text, "%.3f", p);
  return text;
}

std::string range_text(const Varied &v) {
  const FactorKey *key = factor_key(v.key);
  const std::string unit = key && !key->unit.empty() ? " " + std::string(key->unit) : "";
  return number(v.low, 4) + " to " + number(v.high, 4) + unit;
}

const Line outline_line{outline_ink, 1.6, Cap::butt, Join::miter, {6.0, 3.0}};

void draw_outline(Canvas &canvas, const Map &map, const std::vector<Vec2> &outline) {
  if (outline.size() < 3) return;
  Path path;
  for (const Vec2 &corner : outline) path.line_to(map.column(corner.y), map.row(corner.x));
  canvas.stroke(path.close(), outline_line);
}

void draw_outline_swatch(Canvas &canvas, double x, double y) {
  canvas.line(x - 12.0, y, x + 12.0, y, outline_line);
}

// The colour bar, top at (x, y): the share of robots that hit, in percent.
void draw_colour_bar(Canvas &canvas, double x, double y) {
  const Scale to_row{0.0, 100.0, y + bar_length, y};
  const Canvas::Stop stops[] = {{0.0, none_hit}, {0.5, half_hit}, {1.0, all_hit}};
  const Box bar{x, y, bar_width, bar_length};
  canvas.gradient_box(bar, stops);
  canvas.outline_box(bar, {ink, 1.0});
  const Ticks ticks = nice_ticks(0.0, 100.0, 5);
  canvas.font(12.0);
  canvas.colour(ink);
  for (const double value : ticks.values) {
    const double row = to_row(value);
    canvas.line(x + bar_width, row, x + bar_width + 4.0, row, {ink, 1.0});
    canvas.text(x + bar_width + 7.0, row, tick_label(value, ticks.step), Align::left,
                Baseline::middle);
  }
}

constexpr const char *notes_title =
    "Summary; each key's hits lost against its best values, and the chance p of as wide a spread";

std::vector<std::string> notes(const Settings &settings, const Robustness &r) {
  std::vector<std::string> lines;
  lines.push_back(count_text(static_cast<std::int64_t>(r.points.size())) + " grid points \u00d7 " +
                  count_text(static_cast<std::int64_t>(settings.robots.size())) +
                  " robots = " + count_text(r.runs) + " runs");
  lines.push_back("hit: " + percent(r.hits, r.runs) + " of the runs");
  lines.push_back(
      "discs wholly in a view and the feet's reach: " + percent(r.inside_hits, r.inside_runs) +
      " of " + count_text(r.inside_runs) + " runs hit");
  for (const KeyEffect &effect : r.keys)
    lines.push_back(effect.varied.key + ", " + range_text(effect.varied) + ": costs " +
                    count_text(effect.cost) + " hits, p = " + chance_text(effect.chance));
  return lines;
}

// The colour of a hit fraction from 0 to 1: dark red, through amber, to the
// reach map's dark green of a hit.
Colour hit_fraction_colour(double fraction) {
  return fraction < 0.5 ? mix(none_hit, half_hit, fraction / 0.5)
                        : mix(half_hit, all_hit, (fraction - 0.5) / 0.5);
}

}  // namespace

std::string robustness_picture_png(const Settings &settings, const Robustness &r) {
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
  for (const PointRuns &p : r.points) e.include(p.point.x, p.point.y, margin);
  e.clamp();
  fit_map(map, longest_side, 96.0, 104.0);
  const Box &box = map.box;
  const double pitch = settings.spacing() * map.pixels_per_metre;

  const std::vector<LegendEntry> legend{
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, left_view_ink); },
       "ground the left view sees"},
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, right_view_ink); },
       "ground the right view sees"},
      {draw_reach_swatch, foot_reach_label()},
      {[](Canvas &c, double x, double y) { draw_hip(c, x, y); }, "front hip"},
      {draw_outline_swatch, "where a disc lies wholly in a view and the reach"},
  };
  const std::vector<std::string> lines = notes(settings, r);
  const std::string title =
      std::string("Robustness map, ") + engine_name(settings.engine) + " engine" +
      (settings.engine == EngineKind::physics
           ? (settings.torso == Torso::free ? ", robot on its feet" : ", robot on a stand")
           : "") +
      ": the share of " + count_text(static_cast<std::int64_t>(settings.robots.size())) +
      " robots unlike the model that hit a target at each point";

  double side_width = 0.0, legend_height = 0.0, title_width = 0.0;
  {
    Canvas scratch(1, 1);
    const Box measured = scratch.legend_column(0.0, 0.0, legend, 13.0);
    side_width = measured.width;
    legend_height = measured.height;
    scratch.font(13.0);
    for (const std::string &words : lines)
      side_width = std::max(side_width, 12.0 + scratch.text_width(words));
    scratch.font(13.0, Weight::bold);
    side_width = std::max(side_width, scratch.text_width(notes_title));
    scratch.font(20.0, Weight::bold);
    title_width = scratch.text_width(title);
  }
  const double side_x = box.right() + 40.0;
  const double bar_y = box.y + 30.0;
  const double legend_y = bar_y + bar_length + 30.0;
  const double notes_y = legend_y + legend_height + 24.0;
  const double notes_bottom = notes_y + 22.0 + 19.0 * static_cast<double>(lines.size());
  Canvas canvas(
      static_cast<int>(std::ceil(std::max(side_x + side_width, 24.0 + title_width) + 24.0)),
      static_cast<int>(std::ceil(std::max(box.bottom() + 64.0, notes_bottom + 24.0))));

  canvas.colour(ink);
  canvas.font(20.0, Weight::bold);
  canvas.text(24.0, 14.0, title, Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  canvas.text(
      24.0, 44.0,
      "Every robot at every point: a disc of radius " + number(settings.radius * 1000.0) +
          " mm centred there, points " + number(settings.spacing() * 1000.0) +
          " mm apart; the robots sampled over the varied keys (right) by Latin hypercube, seed " +
          std::to_string(settings.seed) + ".",
      Align::left, Baseline::top);
  canvas.text(24.0, 63.0, body_frame_caption, Align::left, Baseline::top);

  const GroundAxes axes = ground_axes(map, 7.0);
  {
    const Canvas::Clip clip(canvas, box);
    draw_ground(canvas, map, axes);
    draw_ground_areas(canvas, map, outlines[0], outlines[1]);
    draw_ground_edges(canvas, map, outlines[0], outlines[1]);
    const double side =
        std::max(1.0, std::round(std::min(pitch - (pitch >= 8.0 ? 2.0 : 1.0), largest_tile)));
    for (const PointRuns &p : r.points) {
      const double x = map.column(p.point.y), y = map.row(p.point.x);
      canvas.fill_box({std::round(x - side / 2.0), std::round(y - side / 2.0), side, side},
                      hit_fraction_colour(p.runs > 0 ? static_cast<double>(p.hits) / p.runs : 0.0));
    }
    for (const View view : {View::left, View::right})
      draw_outline(canvas, map, well_inside_outline(settings, view));
    draw_body_frame(canvas, map);
    for (const double hip : {hip_y, -hip_y}) draw_hip(canvas, map.column(hip), map.row(0.0));
    draw_scale_bar(canvas, map);
  }
  label_ground(canvas, map, axes);

  canvas.font(13.0, Weight::bold);
  canvas.colour(ink);
  canvas.text(side_x, box.y, "Robots that hit a disc there (%)", Align::left, Baseline::top);
  draw_colour_bar(canvas, side_x + 44.0, bar_y);
  canvas.legend_column(side_x, legend_y, legend, 13.0);
  canvas.font(13.0, Weight::bold);
  canvas.colour(ink);
  canvas.text(side_x, notes_y, notes_title, Align::left, Baseline::top);
  canvas.font(13.0);
  double y = notes_y + 22.0;
  for (const std::string &words : lines) {
    canvas.text(side_x + 12.0, y, words, Align::left, Baseline::top);
    y += 19.0;
  }
  return canvas.png();
}

namespace {

constexpr double panel_width = 420.0;
constexpr double panel_height = 302.0;
constexpr double plot_left = 62.0;  // within a panel: room for the y labels
constexpr double plot_top = 60.0;   // for the panel's title
constexpr double plot_width = 310.0;
constexpr double plot_height = 180.0;

void draw_marker(Canvas &canvas, double x, double y, double radius, Colour colour, bool filled) {
  canvas.fill_and_stroke(Path().circle(x, y, radius), filled ? colour : paper, {colour, 1.6});
}

void draw_error_bar(Canvas &canvas, double x, double top, double bottom, Colour colour) {
  Path bar;
  bar.move_to(x, top).line_to(x, bottom);
  for (const double end : {top, bottom}) bar.move_to(x - 4.0, end).line_to(x + 4.0, end);
  canvas.stroke(bar, {colour, 1.4});
}

void draw_model_line(Canvas &canvas, double x, double top, double bottom) {
  canvas.line(x, top, x, bottom, {model_ink, 1.4, Cap::butt, Join::miter, {5.0, 3.0}});
}

void draw_panel(Canvas &canvas, double left, double top, const Settings &settings,
                const Robustness &r, std::size_t k) {
  const KeyEffect &effect = r.keys[k];
  const Varied &v = effect.varied;
  const FactorKey *key = factor_key(v.key);
  const Box plot{left + plot_left, top + plot_top, plot_width, plot_height};
  // A range of one value still gets an axis around it.
  const double pad = v.high > v.low ? 0.0 : std::max(std::abs(v.low) * 0.1, 0.1);
  const Scale x{v.low - pad, v.high + pad, plot.x, plot.right()};
  const Scale y{0.0, 100.0, plot.bottom(), plot.y};
  const Ticks x_ticks = nice_ticks(x.low, x.high, 5);
  const Ticks y_ticks = nice_ticks(0.0, 100.0, 5);

  canvas.colour(ink);
  canvas.font(14.0, Weight::bold);
  canvas.text(left + plot_left, top + 8.0, v.key, Align::left, Baseline::top);
  canvas.font(12.0);
  canvas.colour(muted_ink);
  canvas.text(left + plot_left, top + 27.0,
              "costs " + count_text(effect.cost) +
                  " hits against its best bin, p = " + chance_text(effect.chance) +
                  (effect.beyond_chance() ? ": beyond chance" : ": within chance"),
              Align::left, Baseline::top);

  canvas.horizontal_grid(plot, y, y_ticks);
  canvas.vertical_grid(plot, x, x_ticks);
  // The model's value, where the range holds it.
  const bool model_shown = key && key->model() >= x.low && key->model() <= x.high;
  {
    const Canvas::Clip clip(canvas,
                            {plot.x - 6.0, plot.y - 6.0, plot.width + 12.0, plot.height + 12.0});
    if (model_shown) draw_model_line(canvas, x(key->model()), plot.y, plot.bottom());
    // Each robot's own well-inside hit rate, at its value; where robots
    // overlap, their dots darken.
    for (std::size_t s = 0; s < settings.robots.size(); ++s) {
      const RobotRuns &robot = r.robots[s];
      if (robot.inside_runs == 0) continue;
      canvas.dot(x(settings.robots[s].values[k]), y(100.0 * robot.inside_hits / robot.inside_runs),
                 2.2, robot_ink);
    }
    for (const Bin &bin : effect.bins) {
      const double middle = x((bin.low + bin.high) / 2.0);
      if (const std::optional<double> rate = bin.rate())
        draw_marker(canvas, middle, y(100.0 * *rate), 4.0, all_points_ink, false);
      if (const std::optional<double> rate = bin.inside_rate()) {
        if (bin.inside_error)
          draw_error_bar(canvas, middle, y(std::min(100.0, 100.0 * (*rate + *bin.inside_error))),
                         y(std::max(0.0, 100.0 * (*rate - *bin.inside_error))), inside_ink);
        draw_marker(canvas, middle, y(100.0 * *rate), 4.5, inside_ink, true);
      }
    }
  }
  canvas.frame(plot);
  if (model_shown) {
    canvas.font(11.0);
    canvas.colour(model_ink);
    // Over its line, kept within the plot's width at either end.
    const double at = x(key->model());
    const Align align = at < plot.x + 20.0         ? Align::left
                        : at > plot.right() - 20.0 ? Align::right
                                                   : Align::centre;
    canvas.text(at, plot.y - 3.0, "model", align, Baseline::bottom);
  }
  canvas.font(12.0);
  canvas.bottom_ticks(plot, x, x_ticks, true);
  canvas.left_ticks(plot, y, y_ticks);
  canvas.colour(ink);
  const std::string unit = key && !key->unit.empty() ? " (" + std::string(key->unit) + ")" : "";
  canvas.text(plot.x + plot.width / 2.0, plot.bottom() + 26.0,
              (key ? std::string(key->what) : v.key) + unit, Align::centre, Baseline::top);
  canvas.upward_text(left + 16.0, plot.y + plot.height / 2.0, "hit rate (%)");
  if (key && !(key->model() >= x.low && key->model() <= x.high)) {
    canvas.colour(muted_ink);
    canvas.text(plot.right(), plot.y - 4.0,
                "model: " + number(key->model()) + ", outside the range", Align::right,
                Baseline::bottom);
  }
}

std::vector<LegendEntry> sensitivity_legend() {
  return {
      {[](Canvas &c, double x, double y) {
         draw_error_bar(c, x, y - 8.0, y + 8.0, inside_ink);
         draw_marker(c, x, y, 4.5, inside_ink, true);
       },
       "discs well inside a view and the reach, \u00b11 standard error over the bin's robots"},
      {[](Canvas &c, double x, double y) { draw_marker(c, x, y, 4.0, all_points_ink, false); },
       "all grid points"},
      {[](Canvas &c, double x, double y) { c.dot(x, y, 2.2, robot_ink); },
       "one robot, well inside"},
      {[](Canvas &c, double x, double y) { draw_model_line(c, x, y - 9.0, y + 9.0); }, "model"},
  };
}

}  // namespace

std::string sensitivity_picture_png(const Settings &settings, const Robustness &r) {
  const std::size_t count = std::max<std::size_t>(r.keys.size(), 1);
  const std::size_t columns = std::min<std::size_t>(count, 3);
  const std::size_t rows = (count + columns - 1) / columns;
  constexpr double header = 118.0;
  const std::vector<LegendEntry> legend = sensitivity_legend();
  const std::string title = "Sensitivity: the hit rate against each varied key's value, over " +
                            count_text(static_cast<std::int64_t>(settings.robots.size())) +
                            " robots";
  const std::string subtitle =
      "Each key's range cut into " +
      std::to_string(r.keys.empty() ? 0 : r.keys.front().bins.size()) +
      " bins; every robot ran at every grid point, with the other keys at its own sampled values.";
  double width = 36.0 + panel_width * static_cast<double>(columns);
  {
    Canvas scratch(1, 1);
    width = std::max(width, 48.0 + scratch.legend_row(0.0, 0.0, legend, 12.0).width);
    scratch.font(20.0, Weight::bold);
    width = std::max(width, 48.0 + scratch.text_width(title));
    scratch.font(13.0);
    width = std::max(width, 48.0 + scratch.text_width(subtitle));
  }
  Canvas canvas(static_cast<int>(std::ceil(width)),
                static_cast<int>(header + panel_height * static_cast<double>(rows) + 16.0));
  canvas.colour(ink);
  canvas.font(20.0, Weight::bold);
  canvas.text(24.0, 14.0, title, Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  canvas.text(24.0, 44.0, subtitle, Align::left, Baseline::top);
  canvas.legend_row(24.0, 66.0, legend, 12.0);
  for (std::size_t k = 0; k < r.keys.size(); ++k)
    draw_panel(canvas, 12.0 + panel_width * static_cast<double>(k % columns),
               header + panel_height * static_cast<double>(k / columns), settings, r, k);
  return canvas.png();
}

}  // namespace sim::reach_map
