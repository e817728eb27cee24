// top_view.png: the ground from above with the targets and every placement.
#include "sim/draw/top_view.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <functional>
#include <iterator>
#include <map>
#include <numbers>
#include <set>
#include <tuple>

#include "sim/core/geometry.h"
#include "sim/draw/canvas.h"
#include "sim/draw/ground_map.h"
#include "sim/observe/placements.h"
#include "sim/observe/reaches.h"

namespace sim {

using namespace draw;

namespace {

// A placement this close to its foot's rest point, right under the hip, is
// the rest posture rather than a reach.
constexpr double longest_side = 640.0;  // pixels of the map's longer side
constexpr std::size_t most_notes = 10;

constexpr Colour on_target_ink{0.05, 0.6, 0.25};
constexpr Colour off_target_ink{0.05, 0.05, 0.05};
constexpr Colour rest_ink{0.45, 0.45, 0.45};
constexpr Colour no_contact_ink{0.55, 0.15, 0.65};
constexpr Colour unfinished_ink{0.85, 0.45, 0.0};

// A target as it can be drawn: the same inside the picture, but with bounded
// numbers. A disc too large to draw is replaced by one of bounded radius that
// shares its edge where the edge crosses the picture.
enum class Seen { inside, partly, covers_all, outside, unusable };
struct DrawnDisc {
  Seen seen = Seen::unusable;
  double x = 0.0, y = 0.0, radius = 0.0;  // m
};

DrawnDisc drawable(const Target &target, const Extent &extent) {
  if (!std::isfinite(target.x) || !std::isfinite(target.y) || !std::isfinite(target.radius) ||
      !(target.radius > 0.0))
    return {};
  const double dx = target.x - extent.middle_x();
  const double dy = target.y - extent.middle_y();
  const double distance = std::hypot(dx, dy);
  const double gap = distance - target.radius;  // from the picture's middle to the edge
  const double half = extent.half_diagonal();
  if (gap > half) return {Seen::outside};
  constexpr double drawable_radius = 1000.0;  // m
  if (gap < -half) return {Seen::covers_all, extent.middle_x(), extent.middle_y(), 2.0 * half};
  const Seen seen = extent.holds(target.x, target.y) ? Seen::inside : Seen::partly;
  if (target.radius <= drawable_radius) return {seen, target.x, target.y, target.radius};
  const double ux = dx / distance;
  const double uy = dy / distance;
  return {seen, extent.middle_x() + ux * (gap + drawable_radius),
          extent.middle_y() + uy * (gap + drawable_radius), drawable_radius};
}

// The unit direction from the picture's middle to a far point, without
// overflowing on huge coordinates.
Vec2 direction_to(double x, double y, const Extent &extent) {
  double dx = x - extent.middle_x();
  double dy = y - extent.middle_y();
  const double largest = std::max(std::abs(dx), std::abs(dy));
  if (!(largest > 0.0)) return {1.0, 0.0};
  dx /= largest;
  dy /= largest;
  const double length = std::hypot(dx, dy);
  return {dx / length, dy / length};
}

// An arrow just inside the picture's edge, pointing at something beyond it.
void draw_edge_arrow(cairo_t *cr, const Map &map, Vec2 direction, const std::string &label,
                     Colour colour) {
  const double cx = map.box.x + map.box.width / 2.0;
  const double cy = map.box.y + map.box.height / 2.0;
  const double sx = -direction.y;  // on the screen: left is +y, up is +x
  const double sy = -direction.x;
  constexpr double inset = 16.0;
  double reach = 1e9;
  if (std::abs(sx) > 1e-12) reach = std::min(reach, (map.box.width / 2.0 - inset) / std::abs(sx));
  if (std::abs(sy) > 1e-12) reach = std::min(reach, (map.box.height / 2.0 - inset) / std::abs(sy));
  const double tip_x = cx + sx * (reach + inset - 4.0);
  const double tip_y = cy + sy * (reach + inset - 4.0);
  const double tail_x = cx + sx * (reach - 22.0);
  const double tail_y = cy + sy * (reach - 22.0);
  set_colour(cr, colour);
  cairo_set_line_width(cr, 2.5);
  cairo_move_to(cr, tail_x, tail_y);
  cairo_line_to(cr, tip_x - sx * 8.0, tip_y - sy * 8.0);
  cairo_stroke(cr);
  cairo_move_to(cr, tip_x, tip_y);
  cairo_line_to(cr, tip_x - sx * 11.0 - sy * 6.0, tip_y - sy * 11.0 + sx * 6.0);
  cairo_line_to(cr, tip_x - sx * 11.0 + sy * 6.0, tip_y - sy * 11.0 - sx * 6.0);
  cairo_close_path(cr);
  cairo_fill(cr);
  use_font(cr, 12.0, Weight::bold);
  haloed_text(cr, tail_x - sx * 4.0, tail_y - sy * 4.0, label,
              sx > 0.3    ? Align::right
              : sx < -0.3 ? Align::left
                          : Align::centre,
              sy > 0.3    ? Baseline::bottom
              : sy < -0.3 ? Baseline::top
                          : Baseline::middle,
              colour);
}

void draw_disc(cairo_t *cr, double x, double y, double radius, Colour fill, Colour edge) {
  cairo_new_sub_path(cr);
  cairo_arc(cr, x, y, radius, 0.0, 2.0 * std::numbers::pi);
  set_colour(cr, fill);
  cairo_fill_preserve(cr);
  set_colour(cr, edge);
  cairo_set_line_width(cr, 1.2);
  cairo_stroke(cr);
}

// The torso's outline, corners in pixels.
void draw_torso(cairo_t *cr, const std::vector<Vec2> &corners) {
  for (const Vec2 &corner : corners) cairo_line_to(cr, corner.x, corner.y);
  cairo_close_path(cr);
  set_colour(cr, {0.3, 0.3, 0.35, 0.12});
  cairo_fill_preserve(cr);
  set_colour(cr, {0.3, 0.3, 0.35});
  cairo_set_line_width(cr, 1.5);
  cairo_stroke(cr);
}

enum class Mark { rest, on_target, off_target, no_contact, unfinished };
constexpr std::size_t mark_kinds = 5;

// What the map marks, in time order: each reach where its foot came to rest
// (or, without a rest, where the leg was sent; cut off by the run's end,
// where its foot was), and each rest of a foot outside every reach.
struct Spot {
  std::int64_t step = 0;
  Mark mark = Mark::rest;
  Vec2 at;  // m
};

std::vector<Spot> spots_of(const std::vector<Placement> &placements,
                           const std::vector<Reach> &reaches) {
  std::vector<Spot> spots;
  for (const Reach &r : reaches) {
    switch (r.outcome()) {
      case ReachOutcome::on_target:
        spots.push_back(
            {r.start_step, Mark::on_target, {r.placement->foot.x, r.placement->foot.y}});
        break;
      case ReachOutcome::off_target:
        spots.push_back(
            {r.start_step, Mark::off_target, {r.placement->foot.x, r.placement->foot.y}});
        break;
      case ReachOutcome::no_contact:
        spots.push_back({r.start_step, Mark::no_contact, {r.aimed.x, r.aimed.y}});
        break;
      case ReachOutcome::unfinished:
        spots.push_back({r.start_step, Mark::unfinished, {r.end_foot.x, r.end_foot.y}});
        break;
    }
  }
  // A leg's reaches follow one another in time, so the only one a placement
  // can belong to is the last of its leg's that began before it.
  std::array<std::vector<const Reach *>, 4> by_leg;
  for (const Reach &r : reaches)
    if (r.leg >= 0 && r.leg < 4) by_leg[static_cast<std::size_t>(r.leg)].push_back(&r);
  for (const Placement &p : placements) {
    bool in_a_reach = false;
    if (p.leg >= 0 && p.leg < 4) {
      const std::vector<const Reach *> &mine = by_leg[static_cast<std::size_t>(p.leg)];
      const auto after = std::partition_point(
          mine.begin(), mine.end(), [&](const Reach *r) { return r->start_step < p.step; });
      if (after != mine.begin()) {
        const Reach &r = **std::prev(after);
        in_a_reach = !r.end_step || p.step <= *r.end_step;
      }
    }
    if (!in_a_reach) spots.push_back({p.step, Mark::rest, {p.foot.x, p.foot.y}});
  }
  std::stable_sort(spots.begin(), spots.end(),
                   [](const Spot &a, const Spot &b) { return a.step < b.step; });
  return spots;
}

void draw_mark(cairo_t *cr, double x, double y, Mark mark) {
  switch (mark) {
    case Mark::rest:
      draw_disc(cr, x, y, 3.0, rest_ink, {1.0, 1.0, 1.0});
      return;
    case Mark::on_target:
      cairo_new_sub_path(cr);
      cairo_arc(cr, x, y, 5.5, 0.0, 2.0 * std::numbers::pi);
      set_colour(cr, on_target_ink);
      cairo_fill_preserve(cr);
      set_colour(cr, {1.0, 1.0, 1.0});
      cairo_set_line_width(cr, 1.8);
      cairo_stroke(cr);
      return;
    case Mark::off_target:
      cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
      for (const auto &[width, colour] :
           {std::pair{5.0, Colour{1.0, 1.0, 1.0}}, std::pair{2.4, off_target_ink}}) {
        cairo_move_to(cr, x - 5.0, y - 5.0);
        cairo_line_to(cr, x + 5.0, y + 5.0);
        cairo_move_to(cr, x - 5.0, y + 5.0);
        cairo_line_to(cr, x + 5.0, y - 5.0);
        set_colour(cr, colour);
        cairo_set_line_width(cr, width);
        cairo_stroke(cr);
      }
      return;
    case Mark::no_contact:
      // A hollow triangle: the foot hung in the air there.
      cairo_move_to(cr, x, y - 6.5);
      cairo_line_to(cr, x + 6.0, y + 4.5);
      cairo_line_to(cr, x - 6.0, y + 4.5);
      cairo_close_path(cr);
      set_colour(cr, {1.0, 1.0, 1.0});
      cairo_set_line_width(cr, 4.5);
      cairo_stroke_preserve(cr);
      set_colour(cr, no_contact_ink);
      cairo_set_line_width(cr, 2.0);
      cairo_stroke(cr);
      return;
    case Mark::unfinished:
      // A hollow diamond: the foot was there when the run ended.
      cairo_move_to(cr, x, y - 6.5);
      cairo_line_to(cr, x + 6.5, y);
      cairo_line_to(cr, x, y + 6.5);
      cairo_line_to(cr, x - 6.5, y);
      cairo_close_path(cr);
      set_colour(cr, {1.0, 1.0, 1.0});
      cairo_set_line_width(cr, 4.5);
      cairo_stroke_preserve(cr);
      set_colour(cr, unfinished_ink);
      cairo_set_line_width(cr, 2.0);
      cairo_stroke(cr);
      return;
  }
}

// Nearby reaches of one kind share one label listing their numbers.
struct Cluster {
  double x = 0.0, y = 0.0;  // pixels, of its first reach
  Mark mark = Mark::on_target;
  int first = 0, second = 0, last = 0;
  std::int64_t count = 0;
  // The reaches' numbers; past three, the first two and the last, and how
  // many there were on a second line.
  std::string label() const {
    if (count == 1) return count_text(first);
    if (count == 2) return count_text(first) + ", " + count_text(last);
    if (count == 3) return count_text(first) + ", " + count_text(second) + ", " + count_text(last);
    return count_text(first) + ", " + count_text(second) + ", \u2026, " + count_text(last);
  }
  std::string how_many() const { return count > 3 ? "(" + count_text(count) + " reaches)" : ""; }
};

std::string where(double x, double y) { return "x = " + number(x) + " m, y = " + number(y) + " m"; }

}  // namespace

namespace {

// The placements as the map shows them, in time order.
struct Shown {
  Mark mark = Mark::rest;
  int number = 0;           // reaches from 1; 0 for rests
  double x = 0.0, y = 0.0;  // pixels
};
struct PlacementLayout {
  std::vector<Shown> shown;
  std::vector<Cluster> clusters;
  std::array<std::int64_t, mark_kinds> counts{};  // per Mark
};

PlacementLayout lay_out(const Map &map, const std::vector<Spot> &spots,
                        const std::function<void(std::string)> &note) {
  PlacementLayout layout;
  // Cells of the picture, so that grouping nearby reaches stays fast for
  // millions of them.
  constexpr double cluster_pixels = 12.0;
  std::map<std::tuple<int, long, long>, std::vector<std::size_t>> cells;
  int reaches = 0;
  for (const Spot &spot : spots) {
    const Mark mark = spot.mark;
    ++layout.counts[static_cast<std::size_t>(mark)];
    if (mark != Mark::rest) ++reaches;
    // Named only for a note: most spots need no name.
    const auto name = [&] {
      return mark == Mark::rest ? "the rest at step " + std::to_string(spot.step)
                                : "reach " + std::to_string(reaches);
    };
    if (!std::isfinite(spot.at.x) || !std::isfinite(spot.at.y)) {
      note(name() + " has no finite position");
      continue;
    }
    if (!map.extent.holds(spot.at.x, spot.at.y)) {
      note(name() + " lies outside the picture (" + where(spot.at.x, spot.at.y) + ")");
      continue;
    }
    const Shown shown{mark, mark == Mark::rest ? 0 : reaches, map.column(spot.at.y),
                      map.row(spot.at.x)};
    layout.shown.push_back(shown);
    if (mark == Mark::rest) continue;
    const long cell_x = std::lround(std::floor(shown.x / cluster_pixels));
    const long cell_y = std::lround(std::floor(shown.y / cluster_pixels));
    Cluster *home = nullptr;
    for (long nx = cell_x - 1; nx <= cell_x + 1 && home == nullptr; ++nx)
      for (long ny = cell_y - 1; ny <= cell_y + 1 && home == nullptr; ++ny) {
        const auto found = cells.find({static_cast<int>(mark), nx, ny});
        if (found == cells.end()) continue;
        for (const std::size_t c : found->second)
          if (std::hypot(layout.clusters[c].x - shown.x, layout.clusters[c].y - shown.y) <=
              cluster_pixels) {
            home = &layout.clusters[c];
            break;
          }
      }
    if (home == nullptr) {
      cells[{static_cast<int>(mark), cell_x, cell_y}].push_back(layout.clusters.size());
      layout.clusters.push_back({shown.x, shown.y, mark, reaches, 0, 0, 0});
      home = &layout.clusters.back();
    }
    if (home->count == 1) home->second = reaches;
    home->last = reaches;
    ++home->count;
  }
  return layout;
}

void draw_placements(cairo_t *cr, const PlacementLayout &layout) {
  // A mark drawn once per spot, however often a foot came back to it.
  std::set<std::tuple<int, long, long>> drawn;
  for (const Shown &shown : layout.shown)
    if (drawn
            .insert({static_cast<int>(shown.mark), std::lround(shown.x * 2.0),
                     std::lround(shown.y * 2.0)})
            .second)
      draw_mark(cr, shown.x, shown.y, shown.mark);
}

void draw_target_labels(cairo_t *cr, const Map &map, const WorldConfig &world,
                        const std::vector<DrawnDisc> &discs) {
  use_font(cr, 12.0, Weight::bold);
  const Colour label_ink{0.45, 0.05, 0.05};
  for (std::size_t i = 0; i < discs.size(); ++i) {
    const Target &target = world.targets[i];
    const std::string label = "target " + std::to_string(i);
    const Vec2 towards = direction_to(target.x, target.y, map.extent);
    switch (discs[i].seen) {
      case Seen::inside: {
        // Below a small disc, on a large one; always inside the map.
        const double radius = target.radius * map.pixels_per_metre;
        const double below = radius < 20.0 ? std::max(radius, 3.0) + 4.0 : 0.0;
        const double half_width = text_width(cr, label) / 2.0 + 4.0;
        haloed_text(
            cr,
            std::clamp(map.column(target.y), map.box.x + half_width, map.box.right() - half_width),
            std::clamp(map.row(target.x) + below, map.box.y + 4.0, map.box.bottom() - 20.0), label,
            Align::centre, Baseline::top, label_ink);
        break;
      }
      case Seen::partly:
        draw_edge_arrow(cr, map, towards, label + ", centre this way", label_ink);
        break;
      case Seen::outside:
        draw_edge_arrow(cr, map, towards, label, label_ink);
        break;
      default:
        break;
    }
  }
}

std::vector<std::string> target_notes(const WorldConfig &world,
                                      const std::vector<DrawnDisc> &discs) {
  std::vector<std::string> notes;
  for (std::size_t i = 0; i < discs.size(); ++i) {
    const Target &target = world.targets[i];
    const std::string label = "target " + std::to_string(i);
    const std::string place =
        " (" + where(target.x, target.y) + ", radius " + number(target.radius) + " m)";
    switch (discs[i].seen) {
      case Seen::partly:
        notes.push_back(label + " has its centre outside the picture" + place);
        break;
      case Seen::covers_all:
        notes.push_back(label + " covers the whole picture" + place);
        break;
      case Seen::outside:
        notes.push_back(label + " lies outside the picture" + place);
        break;
      case Seen::unusable:
        notes.push_back(label + " has no finite position or size");
        break;
      default:
        break;
    }
  }
  return notes;
}

std::vector<LegendEntry> top_view_legend(bool torso, bool unfinished) {
  std::vector<LegendEntry> legend{
      {[](cairo_t *c, double x, double y) { draw_view_swatch(c, x, y, left_view_ink); },
       "ground the camera sees with the head turned left"},
      {[](cairo_t *c, double x, double y) { draw_view_swatch(c, x, y, right_view_ink); },
       "ground the camera sees with the head turned right"},
      {draw_reach_swatch, foot_reach_label()},
      {[](cairo_t *c, double x, double y) { draw_hip(c, x, y); },
       "front hip; a foot at rest stands right below it"},
      {[](cairo_t *c, double x, double y) {
         draw_disc(c, x, y, 7.0, {214 / 255.0, 30 / 255.0, 30 / 255.0}, {0.25, 0.05, 0.05});
       },
       "target, numbered from 0 in world-file order"},
      {[](cairo_t *c, double x, double y) { draw_mark(c, x, y, Mark::on_target); },
       "a reach that ended on a target"},
      {[](cairo_t *c, double x, double y) { draw_mark(c, x, y, Mark::off_target); },
       "a reach that ended off every target"},
      {[](cairo_t *c, double x, double y) { draw_mark(c, x, y, Mark::no_contact); },
       "a reach whose foot never came down, where the leg was sent"},
      {[](cairo_t *c, double x, double y) { draw_mark(c, x, y, Mark::rest); },
       "rest: a foot put down outside a reach"},
      {[](cairo_t *c, double x, double y) {
         use_font(c, 12.0, Weight::bold);
         haloed_text(c, x, y, "1, 2", Align::centre, Baseline::middle, ink);
       },
       "reaches numbered in time order, from 1"},
  };
  if (unfinished)
    legend.insert(legend.end() - 2,
                  {[](cairo_t *c, double x, double y) { draw_mark(c, x, y, Mark::unfinished); },
                   "a reach still under way when the run ended, where its foot was"});
  if (torso)
    legend.insert(legend.begin() + 4, {[](cairo_t *c, double x, double y) {
                                         draw_torso(c, {{x - 12.0, y - 6.0},
                                                        {x + 12.0, y - 6.0},
                                                        {x + 12.0, y + 6.0},
                                                        {x - 12.0, y + 6.0}});
                                       },
                                       "the torso from above, where it ended"});
  return legend;
}

// Counts and notes under the legend, from (x, y) down; returns the bottom.
double draw_side_notes(cairo_t *cr, double x, double y, std::size_t reaches,
                       const std::array<std::int64_t, mark_kinds> &counts,
                       const std::vector<std::string> &notes) {
  use_font(cr, 13.0, Weight::bold);
  set_colour(cr, ink);
  text(cr, x, y,
       count_text(static_cast<std::int64_t>(reaches)) + (reaches == 1 ? " reach:" : " reaches:"),
       Align::left, Baseline::top);
  use_font(cr, 13.0);
  y += 20.0;
  std::vector<std::tuple<std::int64_t, const char *, const char *>> lines{
      {counts[1], "on a target", "on a target"},
      {counts[2], "off target", "off target"},
      {counts[3], "never touched the ground", "never touched the ground"}};
  // Told only when the run ended mid-reach.
  if (counts[4] > 0)
    lines.emplace_back(counts[4], "still under way when the run ended",
                       "still under way when the run ended");
  lines.emplace_back(counts[0], "rest outside a reach", "rests outside a reach");
  for (const auto &[count, one, many] : lines) {
    text(cr, x + 12.0, y, count_text(count) + " " + (count == 1 ? one : many), Align::left,
         Baseline::top);
    y += 18.0;
  }
  if (notes.empty()) return y;
  y += 10.0;
  use_font(cr, 13.0, Weight::bold);
  text(cr, x, y, "Not drawn where they are:", Align::left, Baseline::top);
  use_font(cr, 12.0);
  y += 20.0;
  for (const std::string &words : notes) {
    text(cr, x + 12.0, y, words, Align::left, Baseline::top);
    y += 17.0;
  }
  return y;
}

}  // namespace

namespace {
// The ground shown: the feet's reach and the views, grown to hold the
// targets and the placements.
Map top_view_map(const WorldConfig &world, const std::vector<Spot> &spots,
                 const std::vector<Vec2> &torso_footprint) {
  Map map;
  for (const Vec2 &corner : torso_footprint) map.extent.include(corner.x, corner.y, 0.01);
  for (const Target &target : world.targets)
    map.extent.include(target.x, target.y, std::min(target.radius, 0.1) + 0.015);
  for (const Spot &spot : spots) map.extent.include(spot.at.x, spot.at.y, 0.015);
  map.extent.clamp();
  fit_map(map, longest_side, 96.0, 92.0);
  return map;
}
}  // namespace

Vec2 top_view_pixel(const WorldConfig &world, const std::vector<Placement> &placements,
                    const std::vector<Reach> &reaches, Vec2 ground,
                    const std::vector<Vec2> &torso_footprint) {
  const Map map = top_view_map(world, spots_of(placements, reaches), torso_footprint);
  return {map.column(ground.y), map.row(ground.x)};
}

std::string top_view_png(const WorldConfig &world, const std::vector<Placement> &placements,
                         const std::vector<Reach> &reaches,
                         const std::vector<Vec2> &torso_footprint) {
  const std::vector<Spot> spots = spots_of(placements, reaches);
  const Map map = top_view_map(world, spots, torso_footprint);
  const Box &box = map.box;

  std::vector<DrawnDisc> discs;
  for (const Target &target : world.targets) discs.push_back(drawable(target, map.extent));
  // Whatever the map cannot show where it is gets a note beside it.
  std::vector<std::string> notes = target_notes(world, discs);
  std::size_t notes_left_out = 0;
  if (notes.size() > most_notes) {
    notes_left_out = notes.size() - most_notes;
    notes.resize(most_notes);
  }
  const PlacementLayout layout = lay_out(map, spots, [&](std::string words) {
    if (notes.size() < most_notes)
      notes.push_back(std::move(words));
    else
      ++notes_left_out;
  });
  if (notes_left_out > 0) notes.push_back("and " + std::to_string(notes_left_out) + " more");

  // The side column's size, measured by drawing it on a scratch canvas.
  const std::vector<LegendEntry> legend =
      top_view_legend(!torso_footprint.empty(), layout.counts[4] > 0);
  double side_width = 0.0;
  double side_height = 0.0;
  {
    const Canvas scratch(1, 1);
    const Box measured = legend_column(scratch.cr(), 0.0, 0.0, legend, 13.0);
    side_width = measured.width;
    use_font(scratch.cr(), 12.0);
    for (const std::string &words : notes)
      side_width = std::max(side_width, 12.0 + text_width(scratch.cr(), words));
    side_height = draw_side_notes(scratch.cr(), 0.0, measured.bottom() + 24.0, reaches.size(),
                                  layout.counts, notes);
  }
  const double side_x = box.right() + 36.0;
  Canvas canvas(
      static_cast<int>(std::ceil(side_x + side_width + 24.0)),
      static_cast<int>(std::ceil(std::max(box.bottom() + 64.0, box.y + side_height + 24.0))));
  cairo_t *cr = canvas.cr();

  set_colour(cr, ink);
  use_font(cr, 20.0, Weight::bold);
  text(cr, 24.0, 14.0, "The ground from above: targets, and where each reach put its foot",
       Align::left, Baseline::top);
  use_font(cr, 13.0);
  set_colour(cr, muted_ink);
  text(cr, 24.0, 44.0, body_frame_caption, Align::left, Baseline::top);

  const GroundAxes axes = begin_ground(cr, map, 6.0);

  // Areas first, then the targets, then the areas' edges: a target keeps its
  // true colour, and even a target covering the whole map hides no edge.
  const std::vector<Vec2> left_view =
      view_outline(world.camera_width, world.camera_height, View::left);
  const std::vector<Vec2> right_view =
      view_outline(world.camera_width, world.camera_height, View::right);
  draw_ground_areas(cr, map, left_view, right_view);
  // Discs drawn last to first, so where they overlap the first is on top, as
  // the camera shows them.
  for (std::size_t i = discs.size(); i-- > 0;) {
    const DrawnDisc &disc = discs[i];
    if (disc.seen == Seen::outside || disc.seen == Seen::unusable) continue;
    const auto &c = world.targets[i].color;
    // At least a few pixels across, so a tiny target is still seen.
    draw_disc(cr, map.column(disc.y), map.row(disc.x),
              std::max(disc.radius * map.pixels_per_metre, 3.0),
              {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0}, {0.25, 0.05, 0.05});
  }
  draw_ground_edges(cr, map, left_view, right_view);
  if (!torso_footprint.empty()) {
    std::vector<Vec2> corners;
    for (const Vec2 &corner : torso_footprint)
      corners.push_back({map.column(corner.y), map.row(corner.x)});
    draw_torso(cr, corners);
  }
  draw_body_frame(cr, map);
  for (const double hip : {hip_y, -hip_y}) draw_hip(cr, map.column(hip), map.row(0.0));
  use_font(cr, 12.0);
  haloed_text(cr, map.column(hip_y), map.row(0.0) + 11.0, "left hip", Align::centre, Baseline::top,
              muted_ink);
  haloed_text(cr, map.column(-hip_y), map.row(0.0) + 11.0, "right hip", Align::centre,
              Baseline::top, muted_ink);
  draw_placements(cr, layout);
  // Labels last, so no mark covers them.
  draw_target_labels(cr, map, world, discs);
  for (const Cluster &cluster : layout.clusters) {
    // Beside the mark, on the side away from the body's midline, so the two
    // legs' labels do not run into each other.
    const bool on = cluster.mark == Mark::on_target;
    const bool left_side = cluster.x < map.column(0.0);
    const double x = cluster.x + (left_side ? -8.0 : 8.0);
    const Align align = left_side ? Align::right : Align::left;
    const Colour colour = on                                 ? on_target_ink
                          : cluster.mark == Mark::no_contact ? no_contact_ink
                          : cluster.mark == Mark::unfinished ? unfinished_ink
                                                             : off_target_ink;
    use_font(cr, 12.0, Weight::bold);
    haloed_text(cr, x, cluster.y + (on ? -13.0 : 8.0), cluster.label(), align,
                on ? Baseline::bottom : Baseline::top, colour);
    if (cluster.count > 3) {
      use_font(cr, 11.0);
      haloed_text(cr, x, cluster.y + (on ? -13.0 : 8.0) + (on ? -15.0 : 15.0), cluster.how_many(),
                  align, on ? Baseline::bottom : Baseline::top, colour);
    }
  }
  draw_scale_bar(cr, map);
  end_ground(cr, map, axes);

  const Box legend_box = legend_column(cr, side_x, box.y, legend, 13.0);
  draw_side_notes(cr, side_x, legend_box.bottom() + 24.0, reaches.size(), layout.counts, notes);
  return canvas.png();
}

}  // namespace sim
