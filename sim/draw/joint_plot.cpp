#include "sim/draw/joint_plot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <limits>
#include <numbers>
#include <optional>
#include <string>
#include <vector>

#include "sim/draw/canvas.h"

namespace sim {

using namespace draw;

namespace {

constexpr Colour set_point_ink{1.0, 0.62, 0.2};
constexpr Colour position_ink{0.1, 0.25, 0.7};
constexpr Colour reach_ink{0.55, 0.15, 0.6};
constexpr Colour not_run_shade{0.93, 0.93, 0.93};
constexpr Colour limit_ink{0.7, 0.1, 0.1};

constexpr double joint_plot_width = 1400.0;
constexpr double joint_plot_left = 120.0;  // room for tick labels and the unit
constexpr double panel_height = 108.0;
constexpr double panel_title_height = 24.0;
constexpr double panel_gap = 8.0;
constexpr double group_gap = 16.0;  // between the left leg, the right leg, the head, the torso
constexpr double reach_strip_height = 18.0;
constexpr double panels_top = 130.0;

double panel_top(std::size_t panel) {
  return panels_top + static_cast<double>(panel) * (panel_title_height + panel_height + panel_gap) +
         static_cast<double>(panel / 3) * group_gap + panel_title_height;
}

void draw_line_swatch(Canvas &canvas, double x, double y, Colour colour, double width) {
  canvas.line(x - 12.0, y, x + 12.0, y, {colour, width, Cap::round});
}

constexpr double band_alpha = 0.45;

void draw_band_swatch(Canvas &canvas, double x, double y, Colour colour) {
  canvas.fill_box({x - 12.0, y - 6.0, 24.0, 12.0}, colour.with_alpha(band_alpha));
}

void draw_reach_marker(Canvas &canvas, double x, double top) {
  canvas.fill(Path().move_to(x - 5.0, top).line_to(x + 5.0, top).line_to(x, top + 8.0).close(),
              reach_ink);
}

// What a panel shows: one plotted joint's set-point and position, or one of
// the torso's quantities, in the unit it is read in.
struct Panel {
  std::string title;
  std::string unit;
  double scale = 1.0;  // the stored value to the unit shown
  std::optional<std::size_t> joint;
  bool torso_height = false;
  const JointHistory::Span &set_point(const JointHistory::Column &c) const {
    return c.set_points[*joint];
  }
  const JointHistory::Span &position(const JointHistory::Column &c) const {
    if (joint) return c.positions[*joint];
    return torso_height ? c.torso_height : c.torso_tilt;
  }
};

std::vector<Panel> panels_of() {
  std::vector<Panel> panels;
  for (std::size_t j = 0; j < plotted_joints.size(); ++j)
    panels.push_back({plotted_joint_names[j], "angle (rad)", 1.0, j, false});
  panels.push_back(
      {"torso height, from where the run began", "height (mm)", 1000.0, std::nullopt, true});
  panels.push_back(
      {"torso tilt from upright", "tilt (\u00b0)", 180.0 / std::numbers::pi, std::nullopt, false});
  return panels;
}

// The value range a panel shows: all it drew, with a margin, and never less
// than a fifth of a radian (or 2 mm, or 2 degrees) so a still joint does not
// fill the panel with noise. Set-points beyond the joint's range count only
// as far as the limit they drive it to.
std::pair<double, double> panel_range(const JointHistory &history, const Panel &panel) {
  double low = std::numeric_limits<double>::infinity();
  double high = -low;
  const auto take = [&](const JointHistory::Span &span, const std::optional<JointRange> &range) {
    if (!span.seen) return;
    double lo = span.low, hi = span.high;
    if (range) {
      lo = std::clamp(lo, range->low, range->high);
      hi = std::clamp(hi, range->low, range->high);
    }
    low = std::min(low, lo * panel.scale);
    high = std::max(high, hi * panel.scale);
  };
  const std::optional<JointRange> range =
      panel.joint ? history.ranges()[*panel.joint] : std::nullopt;
  for (const JointHistory::Column &column : history.columns()) {
    if (panel.joint) take(panel.set_point(column), range);
    take(panel.position(column), std::nullopt);
  }
  if (!(low <= high)) low = high = 0.0;
  const double middle = (low + high) / 2.0;
  const double half = std::max((high - low) / 2.0 * 1.12, panel.joint ? 0.1 : 1.0);
  return {middle - half, middle + half};
}

// The set-point furthest beyond the joint's range, if one was given.
std::optional<double> beyond_range(const JointHistory &history, const Panel &panel) {
  if (!panel.joint || !history.ranges()[*panel.joint]) return std::nullopt;
  const JointRange range = *history.ranges()[*panel.joint];
  std::optional<double> furthest;
  for (const JointHistory::Column &column : history.columns()) {
    const JointHistory::Span &span = panel.set_point(column);
    if (!span.seen) continue;
    for (const double value : {static_cast<double>(span.low), static_cast<double>(span.high)}) {
      const double past = std::max(range.low - value, value - range.high);
      if (past > 1e-9 &&
          (!furthest || past > std::max(range.low - *furthest, *furthest - range.high)))
        furthest = value;
    }
  }
  return furthest;
}

// One series as a band from its lowest to its highest value in each column;
// where a column holds one value the band is a line. Columns without a value
// break it. Values beyond `clamp` are drawn at its edge.
template <typename SpanOf>
void draw_series(Canvas &canvas, const JointHistory &history, SpanOf span_of, bool positions,
                 const Scale &x_of_step, const Scale &y, double scale,
                 std::optional<JointRange> clamp) {
  const auto &columns = history.columns();
  const std::int64_t per_column = history.steps_per_column();
  auto x_of = [&](std::size_t c) {
    const auto first = static_cast<std::int64_t>(c) * per_column + 1;
    const std::int64_t last = std::min(first + per_column - 1, history.total_steps());
    return x_of_step(static_cast<double>(first + last) / 2.0);
  };
  auto y_of = [&](float value) {
    double v = value;
    if (clamp) v = std::clamp(v, clamp->low, clamp->high);
    return y(v * scale);
  };
  const Colour colour = positions ? position_ink : set_point_ink;
  const Line edge{colour, positions ? 1.5 : 3.5, Cap::round, Join::round};
  for (std::size_t start = 0; start < columns.size();) {
    if (!span_of(columns[start]).seen) {
      ++start;
      continue;
    }
    std::size_t end = start;
    while (end < columns.size() && span_of(columns[end]).seen) ++end;
    Path band;
    for (std::size_t c = start; c < end; ++c) band.line_to(x_of(c), y_of(span_of(columns[c]).high));
    for (std::size_t c = end; c-- > start;) band.line_to(x_of(c), y_of(span_of(columns[c]).low));
    canvas.fill_and_stroke(band.close(), colour.with_alpha(band_alpha), edge);
    start = end;
  }
}

}  // namespace

std::string joint_plot_png(const JointHistory &history) {
  const double data_width = JointHistory::plot_columns;
  const std::vector<Panel> panels = panels_of();
  const double bottom = panel_top(panels.size() - 1) + panel_height;
  Canvas canvas(static_cast<int>(joint_plot_width), static_cast<int>(bottom + 62.0));

  const std::int64_t total = history.total_steps();
  const bool banded = history.steps_per_column() > 1;
  const double seconds_per_step =
      history.seconds_per_step() > 0.0 ? history.seconds_per_step() : 1.0;
  const double seconds = static_cast<double>(total) * seconds_per_step;
  canvas.colour(ink);
  canvas.font(20.0, Weight::bold);
  canvas.text(joint_plot_left, 14.0,
              "Joint angles over the run, set-point and position, and the torso's height and tilt",
              Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  std::string about = count_text(total) + " steps of " + number(seconds_per_step * 1000.0, 4) +
                      " ms (" + number(seconds, 4) + " s" + ")";
  if (banded)
    about += "; each pixel column covers " + count_text(history.steps_per_column()) +
             " steps and shows the lowest to highest value in them, so no sample is left out";
  else
    about += "; every step drawn";
  if (history.last_step() < total)
    about += "; the run ended after step " + count_text(history.last_step()) + " (grey: not run)";
  canvas.text(joint_plot_left, 42.0, about, Align::left, Baseline::top);

  // With bands, each line's swatch shows its band behind it.
  std::vector<LegendEntry> legend{
      {[banded](Canvas &c, double x, double y) {
         if (banded) draw_band_swatch(c, x, y, set_point_ink);
         draw_line_swatch(c, x, y, set_point_ink, 3.5);
       },
       "set-point: the angle the controller asked for"},
      {[banded](Canvas &c, double x, double y) {
         if (banded) draw_band_swatch(c, x, y, position_ink);
         draw_line_swatch(c, x, y, position_ink, 1.5);
       },
       "position: the angle the joint was at"},
  };
  if (banded)
    legend.push_back({[](Canvas &c, double x, double y) {
                        draw_band_swatch(c, x, y, set_point_ink);
                        draw_band_swatch(c, x, y, position_ink);
                      },
                      "both bands over each other"});
  legend.push_back({[](Canvas &c, double x, double y) { draw_reach_marker(c, x, y - 4.0); },
                    "a reach begins (" + count_text(history.reaches()) + " in the run)"});
  canvas.legend_row(joint_plot_left, 64.0, legend, 13.0);

  const Scale x_of_step{0.0, static_cast<double>(total), joint_plot_left,
                        joint_plot_left + data_width};
  const Scale x_of_time{0.0, seconds, joint_plot_left, joint_plot_left + data_width};
  const Ticks time_ticks = nice_ticks(0.0, seconds, 14);

  // Where reaches began: a strip above the panels, and dashed lines through
  // them while the reaches lie far enough apart for the lines not to hide
  // the angles.
  std::vector<double> reach_x;
  std::int64_t first_step = 1;
  for (const JointHistory::Column &column : history.columns()) {
    if (column.reach_began)
      reach_x.push_back(std::round(x_of_step(static_cast<double>(first_step))) + 0.5);
    first_step += history.steps_per_column();
  }
  const bool reach_lines = reach_x.size() * 8 <= history.columns().size();
  const double strip_top = panel_top(0) - panel_title_height - reach_strip_height;
  canvas.colour(reach_ink);
  canvas.font(12.0);
  canvas.text(joint_plot_left - 8.0, strip_top + 4.0, "reaches", Align::right, Baseline::middle);
  for (const double x : reach_x) draw_reach_marker(canvas, x, strip_top);

  for (std::size_t index = 0; index < panels.size(); ++index) {
    const Panel &panel = panels[index];
    const Box box{joint_plot_left, panel_top(index), data_width, panel_height};
    canvas.colour(ink);
    canvas.font(14.0, Weight::bold);
    canvas.text(box.x, box.y - 5.0, panel.title, Align::left, Baseline::bottom);
    canvas.font(12.0);
    canvas.colour(muted_ink);
    canvas.upward_text(26.0, box.y + box.height / 2.0, panel.unit);

    const auto [low, high] = panel_range(history, panel);
    const Scale y{low, high, box.bottom(), box.y};
    const Ticks value_ticks = nice_ticks(low, high, 4);
    const std::optional<JointRange> range =
        panel.joint ? history.ranges()[*panel.joint] : std::nullopt;
    const std::optional<double> beyond = beyond_range(history, panel);
    // The limit a set-point beyond the range drives the joint to, where the
    // set-point is drawn.
    double limit = 0.0;
    if (beyond) limit = *beyond < range->low ? range->low : range->high;

    {
      const Canvas::Clip clip(canvas, box);
      if (history.last_step() < total) {
        const double from = x_of_step(static_cast<double>(history.last_step()));
        canvas.fill_box({from, box.y, box.right() - from, box.height}, not_run_shade);
      }
      canvas.vertical_grid(box, x_of_time, time_ticks);
      canvas.horizontal_grid(box, y, value_ticks);
      if (low < 0.0 && high > 0.0)
        canvas.line(box.x, std::round(y(0.0)) + 0.5, box.right(), std::round(y(0.0)) + 0.5,
                    {{0.6, 0.6, 0.6}, 1.0});
      if (reach_lines) {
        Path lines;
        for (const double x : reach_x) lines.move_to(x, box.y).line_to(x, box.bottom());
        canvas.stroke(lines, {reach_ink.with_alpha(0.55), 1.0, Cap::butt, Join::miter, {4.0, 3.0}});
      }
      if (beyond)
        canvas.line(box.x, std::round(y(limit)) + 0.5, box.right(), std::round(y(limit)) + 0.5,
                    {limit_ink, 1.0, Cap::butt, Join::miter, {6.0, 3.0}});
      if (panel.joint)
        draw_series(
            canvas, history,
            [&](const JointHistory::Column &c) -> const JointHistory::Span & {
              return panel.set_point(c);
            },
            false, x_of_step, y, panel.scale, range);
      draw_series(
          canvas, history,
          [&](const JointHistory::Column &c) -> const JointHistory::Span & {
            return panel.position(c);
          },
          true, x_of_step, y, panel.scale, std::nullopt);
      if (beyond) {
        canvas.font(12.0, Weight::bold);
        canvas.haloed_text(box.right() - 8.0, y(limit) + (limit == range->low ? -6.0 : 6.0),
                           "set-point " + number(*beyond) + " lies beyond the joint's limit, " +
                               number(limit, 4) + ": drawn at the limit",
                           Align::right, limit == range->low ? Baseline::bottom : Baseline::top,
                           limit_ink);
      }
    }

    canvas.frame(box);
    canvas.font(12.0);
    canvas.colour(ink);
    canvas.left_ticks(box, y, value_ticks);
    canvas.bottom_ticks(box, x_of_time, time_ticks, index + 1 == panels.size());
  }
  canvas.font(13.0);
  canvas.colour(ink);
  canvas.text(joint_plot_left + data_width / 2.0, bottom + 28.0,
              "time since the run began (s), " + number(seconds_per_step, 4) + " s" + " a step",
              Align::centre, Baseline::top);
  return canvas.png();
}

}  // namespace sim
