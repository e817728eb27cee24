// top_view.png: the ground from above with the targets and every placement,
// drawn as top_view_layout lays it out.
#include "sim/draw/top_view.h"

#include <algorithm>
#include <cmath>
#include <set>
#include <tuple>

#include "sim/draw/canvas.h"
#include "sim/draw/ground_map.h"
#include "sim/draw/top_view_layout.h"

namespace sim {

using namespace draw;

namespace {

constexpr std::size_t most_notes = 10;

constexpr Colour on_target_ink{0.05, 0.6, 0.25};
constexpr Colour off_target_ink{0.05, 0.05, 0.05};
constexpr Colour rest_ink{0.35, 0.35, 0.35};
constexpr Colour no_contact_ink{0.55, 0.15, 0.65};
constexpr Colour unfinished_ink{0.85, 0.45, 0.0};
constexpr Colour target_edge{0.25, 0.05, 0.05};
constexpr Colour white{1.0, 1.0, 1.0};

void draw_disc(Canvas &canvas, double x, double y, double radius, Colour fill, Colour edge) {
  canvas.fill_and_stroke(Path().circle(x, y, radius), fill, {edge, 1.2});
}

void draw_edge_arrow(Canvas &canvas, const Map &map, Vec2 direction, const std::string &label,
                     Colour colour) {
  const EdgeArrow arrow = edge_arrow(map, direction);
  canvas.line(arrow.tail.x, arrow.tail.y, arrow.shaft_end.x, arrow.shaft_end.y, {colour, 2.5});
  canvas.fill(Path()
                  .move_to(arrow.tip.x, arrow.tip.y)
                  .line_to(arrow.head_left.x, arrow.head_left.y)
                  .line_to(arrow.head_right.x, arrow.head_right.y)
                  .close(),
              colour);
  canvas.font(12.0, Weight::bold);
  canvas.haloed_text(arrow.label.x, arrow.label.y, label, arrow.label.align, arrow.label.baseline,
                     colour);
}

// The torso's outline, corners in pixels.
void draw_torso(Canvas &canvas, const std::vector<Vec2> &corners) {
  canvas.fill_and_stroke(Path::polygon(corners), {0.3, 0.3, 0.35, 0.12}, {{0.3, 0.3, 0.35}, 1.5});
}

// Each mark is a white halo, which sets it off from the ground, and its ink.
// A hollow triangle: the foot hung in the air there.
Path no_contact_triangle(double x, double y) {
  return Path().move_to(x, y - 6.5).line_to(x + 6.0, y + 4.5).line_to(x - 6.0, y + 4.5).close();
}
// A hollow diamond: the foot was there when the run ended.
Path unfinished_diamond(double x, double y) {
  return Path()
      .move_to(x, y - 6.5)
      .line_to(x + 6.5, y)
      .line_to(x, y + 6.5)
      .line_to(x - 6.5, y)
      .close();
}

void draw_halo(Canvas &canvas, double x, double y, Mark mark) {
  switch (mark) {
    case Mark::rest:
      canvas.dot(x, y, 4.6, white);
      return;
    case Mark::on_target:
      canvas.dot(x, y, 6.6, white);
      return;
    case Mark::off_target:
      canvas.cross(x, y, 5.0, {white, 5.0, Cap::round});
      return;
    case Mark::no_contact:
      canvas.stroke(no_contact_triangle(x, y), {white, 4.5});
      return;
    case Mark::unfinished:
      canvas.stroke(unfinished_diamond(x, y), {white, 4.5});
      return;
  }
}

void draw_ink(Canvas &canvas, double x, double y, Mark mark) {
  switch (mark) {
    case Mark::rest:
      canvas.dot(x, y, 3.5, rest_ink);
      return;
    case Mark::on_target:
      canvas.dot(x, y, 5.2, on_target_ink);
      return;
    case Mark::off_target:
      canvas.cross(x, y, 5.0, {off_target_ink, 2.4, Cap::round});
      return;
    case Mark::no_contact:
      canvas.stroke(no_contact_triangle(x, y), {no_contact_ink, 2.0});
      return;
    case Mark::unfinished:
      canvas.stroke(unfinished_diamond(x, y), {unfinished_ink, 2.0});
      return;
  }
}

void draw_mark(Canvas &canvas, double x, double y, Mark mark) {
  draw_halo(canvas, x, y, mark);
  draw_ink(canvas, x, y, mark);
}

// Marks that share a spot all stay in sight: every halo goes under every
// ink, and the filled marks under the open ones, so a triangle or a cross
// shows over a dot and the dot around its lines.
void draw_placements(Canvas &canvas, const PlacementLayout &layout) {
  // A mark drawn once per spot, however often a foot came back to it.
  std::set<std::tuple<int, long, long>> seen;
  std::vector<Shown> marks;
  for (const Shown &shown : layout.shown)
    if (seen.insert({static_cast<int>(shown.mark), std::lround(shown.x * 2.0),
                     std::lround(shown.y * 2.0)})
            .second)
      marks.push_back(shown);
  for (const Shown &mark : marks) draw_halo(canvas, mark.x, mark.y, mark.mark);
  for (const bool filled : {true, false})
    for (const Shown &mark : marks)
      if ((mark.mark == Mark::rest || mark.mark == Mark::on_target) == filled)
        draw_ink(canvas, mark.x, mark.y, mark.mark);
}

void draw_target_labels(Canvas &canvas, const Map &map, const WorldConfig &world,
                        const std::vector<DrawnDisc> &discs) {
  canvas.font(12.0, Weight::bold);
  const Colour label_ink{0.45, 0.05, 0.05};
  for (std::size_t i = 0; i < discs.size(); ++i) {
    const Target &target = world.targets[i];
    const std::string label = "target " + std::to_string(i);
    const Vec2 towards = direction_to(target.x, target.y, map.extent);
    switch (discs[i].seen) {
      case Seen::inside: {
        const Anchor at = target_label(map, target, canvas.text_width(label));
        canvas.haloed_text(at.x, at.y, label, at.align, at.baseline, label_ink);
        break;
      }
      case Seen::partly:
        draw_edge_arrow(canvas, map, towards, label + ", centre this way", label_ink);
        break;
      case Seen::outside:
        draw_edge_arrow(canvas, map, towards, label, label_ink);
        break;
      default:
        break;
    }
  }
}

void draw_cluster_labels(Canvas &canvas, const Map &map, const std::vector<Cluster> &clusters) {
  for (const Cluster &cluster : clusters) {
    const Colour colour = cluster.mark == Mark::on_target    ? on_target_ink
                          : cluster.mark == Mark::no_contact ? no_contact_ink
                          : cluster.mark == Mark::unfinished ? unfinished_ink
                          : cluster.mark == Mark::rest       ? rest_ink
                                                             : off_target_ink;
    canvas.font(12.0, Weight::bold);
    const Anchor first = cluster_label(map, cluster);
    canvas.haloed_text(first.x, first.y, cluster.label(), first.align, first.baseline, colour);
    if (cluster.count > 3) {
      canvas.font(11.0);
      const Anchor second = cluster_label(map, cluster, 1);
      canvas.haloed_text(second.x, second.y, cluster.how_many(), second.align, second.baseline,
                         colour);
    }
  }
}

std::vector<LegendEntry> top_view_legend(bool torso, bool unfinished) {
  std::vector<LegendEntry> legend{
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, left_view_ink); },
       "ground the camera sees with the head turned left"},
      {[](Canvas &c, double x, double y) { draw_view_swatch(c, x, y, right_view_ink); },
       "ground the camera sees with the head turned right"},
      {draw_reach_swatch, foot_reach_label()},
      {[](Canvas &c, double x, double y) { draw_hip(c, x, y); },
       "front hip; a foot at rest stands right below it"},
      {[](Canvas &c, double x, double y) {
         draw_disc(c, x, y, 7.0, {214 / 255.0, 30 / 255.0, 30 / 255.0}, target_edge);
       },
       "target, numbered from 0 in world-file order"},
      {[](Canvas &c, double x, double y) { draw_mark(c, x, y, Mark::on_target); },
       "a reach that ended on a target"},
      {[](Canvas &c, double x, double y) { draw_mark(c, x, y, Mark::off_target); },
       "a reach that ended off every target"},
      {[](Canvas &c, double x, double y) { draw_mark(c, x, y, Mark::no_contact); },
       "a reach whose foot never came down, where the leg was sent"},
      {[](Canvas &c, double x, double y) { draw_mark(c, x, y, Mark::rest); },
       "rest: a foot put down outside a reach, with how many beside"},
      {[](Canvas &c, double x, double y) {
         c.font(12.0, Weight::bold);
         c.haloed_text(x, y, "1, 2", Align::centre, Baseline::middle, ink);
       },
       "reaches numbered in time order, from 1"},
  };
  if (unfinished)
    legend.insert(legend.end() - 2,
                  {[](Canvas &c, double x, double y) { draw_mark(c, x, y, Mark::unfinished); },
                   "a reach still under way when the run ended, where its foot was"});
  if (torso)
    legend.insert(legend.begin() + 4, {[](Canvas &c, double x, double y) {
                                         draw_torso(c, {{x - 12.0, y - 6.0},
                                                        {x + 12.0, y - 6.0},
                                                        {x + 12.0, y + 6.0},
                                                        {x - 12.0, y + 6.0}});
                                       },
                                       "the torso from above, where it ended"});
  return legend;
}

// Counts and notes under the legend, from (x, y) down; returns the bottom.
double draw_side_notes(Canvas &canvas, double x, double y, std::size_t reaches,
                       const std::array<std::int64_t, mark_kinds> &counts,
                       const std::vector<std::string> &notes) {
  canvas.font(13.0, Weight::bold);
  canvas.colour(ink);
  canvas.text(
      x, y,
      count_text(static_cast<std::int64_t>(reaches)) + (reaches == 1 ? " reach:" : " reaches:"),
      Align::left, Baseline::top);
  canvas.font(13.0);
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
    canvas.text(x + 12.0, y, count_text(count) + " " + (count == 1 ? one : many), Align::left,
                Baseline::top);
    y += 18.0;
  }
  if (notes.empty()) return y;
  y += 10.0;
  canvas.font(13.0, Weight::bold);
  canvas.text(x, y, "Not drawn where they are:", Align::left, Baseline::top);
  canvas.font(12.0);
  y += 20.0;
  for (const std::string &words : notes) {
    canvas.text(x + 12.0, y, words, Align::left, Baseline::top);
    y += 17.0;
  }
  return y;
}

}  // namespace

std::string top_view_png(const WorldConfig &world, const std::vector<Placement> &placements,
                         const std::vector<Reach> &reaches,
                         const std::vector<Vec2> &torso_footprint) {
  const std::vector<Spot> spots = spots_of(placements, reaches);
  const Map map = top_view_map(world, spots, torso_footprint);
  const Box &box = map.box;

  std::vector<DrawnDisc> discs;
  for (const Target &target : world.targets) discs.push_back(drawable(target, map.extent));
  // Whatever the map cannot show where it is gets a note beside it.
  Notes side_notes(most_notes);
  for (std::string &words : target_notes(world, discs)) side_notes.add(std::move(words));
  const PlacementLayout layout =
      lay_out(map, spots, [&](std::string words) { side_notes.add(std::move(words)); });
  const std::vector<std::string> notes = side_notes.lines();

  // The side column's size, measured by drawing it on a scratch canvas.
  const std::vector<LegendEntry> legend = top_view_legend(
      !torso_footprint.empty(), layout.counts[static_cast<std::size_t>(Mark::unfinished)] > 0);
  double side_width = 0.0;
  double side_height = 0.0;
  {
    Canvas scratch(1, 1);
    const Box measured = scratch.legend_column(0.0, 0.0, legend, 13.0);
    side_width = measured.width;
    scratch.font(12.0);
    for (const std::string &words : notes)
      side_width = std::max(side_width, 12.0 + scratch.text_width(words));
    side_height = draw_side_notes(scratch, 0.0, measured.bottom() + 24.0, reaches.size(),
                                  layout.counts, notes);
  }
  const double side_x = box.right() + 36.0;
  Canvas canvas(
      static_cast<int>(std::ceil(side_x + side_width + 24.0)),
      static_cast<int>(std::ceil(std::max(box.bottom() + 64.0, box.y + side_height + 24.0))));

  canvas.colour(ink);
  canvas.font(20.0, Weight::bold);
  canvas.text(24.0, 14.0, "The ground from above: targets, and where each reach put its foot",
              Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  canvas.text(24.0, 44.0, body_frame_caption, Align::left, Baseline::top);

  const GroundAxes axes = ground_axes(map, 6.0);
  {
    const Canvas::Clip clip(canvas, box);
    draw_ground(canvas, map, axes);
    // Areas first, then the targets, then the areas' edges: a target keeps
    // its true colour, and even a target covering the whole map hides no edge.
    const std::vector<Vec2> left_view =
        view_outline(world.camera_width, world.camera_height, View::left);
    const std::vector<Vec2> right_view =
        view_outline(world.camera_width, world.camera_height, View::right);
    draw_ground_areas(canvas, map, left_view, right_view);
    // Discs drawn last to first, so where they overlap the first is on top,
    // as the camera shows them.
    for (std::size_t i = discs.size(); i-- > 0;) {
      const DrawnDisc &disc = discs[i];
      if (disc.seen == Seen::outside || disc.seen == Seen::unusable) continue;
      const auto &c = world.targets[i].color;
      // At least a few pixels across, so a tiny target is still seen.
      draw_disc(canvas, map.column(disc.y), map.row(disc.x),
                std::max(disc.radius * map.pixels_per_metre, 3.0),
                {c[0] / 255.0, c[1] / 255.0, c[2] / 255.0}, target_edge);
    }
    draw_ground_edges(canvas, map, left_view, right_view);
    if (!torso_footprint.empty()) {
      std::vector<Vec2> corners;
      for (const Vec2 &corner : torso_footprint)
        corners.push_back({map.column(corner.y), map.row(corner.x)});
      draw_torso(canvas, corners);
    }
    draw_body_frame(canvas, map);
    for (const double hip : {hip_y, -hip_y}) draw_hip(canvas, map.column(hip), map.row(0.0));
    canvas.font(12.0);
    canvas.haloed_text(map.column(hip_y), map.row(0.0) + 11.0, "left hip", Align::centre,
                       Baseline::top, muted_ink);
    canvas.haloed_text(map.column(-hip_y), map.row(0.0) + 11.0, "right hip", Align::centre,
                       Baseline::top, muted_ink);
    draw_placements(canvas, layout);
    // Labels last, so no mark covers them.
    draw_target_labels(canvas, map, world, discs);
    draw_cluster_labels(canvas, map, layout.clusters);
    draw_scale_bar(canvas, map);
  }
  label_ground(canvas, map, axes);

  const Box legend_box = canvas.legend_column(side_x, box.y, legend, 13.0);
  draw_side_notes(canvas, side_x, legend_box.bottom() + 24.0, reaches.size(), layout.counts, notes);
  return canvas.png();
}

}  // namespace sim
