#include "sim/draw/top_view_layout.h"

#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <tuple>

namespace sim::draw {

namespace {
constexpr double longest_side = 640.0;  // pixels of the map's longer side

std::string where(double x, double y) { return "x = " + number(x) + " m, y = " + number(y) + " m"; }
}  // namespace

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

Anchor target_label(const Map &map, const Target &target, double label_width) {
  const double radius = target.radius * map.pixels_per_metre;
  const double below = radius < 20.0 ? std::max(radius, 3.0) + 4.0 : 0.0;
  const double half_width = label_width / 2.0 + 4.0;
  return {std::clamp(map.column(target.y), map.box.x + half_width, map.box.right() - half_width),
          std::clamp(map.row(target.x) + below, map.box.y + 4.0, map.box.bottom() - 20.0),
          Align::centre, Baseline::top};
}

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

EdgeArrow edge_arrow(const Map &map, Vec2 direction) {
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
  return {{tail_x, tail_y},
          {tip_x - sx * 8.0, tip_y - sy * 8.0},
          {tip_x, tip_y},
          {tip_x - sx * 11.0 - sy * 6.0, tip_y - sy * 11.0 + sx * 6.0},
          {tip_x - sx * 11.0 + sy * 6.0, tip_y - sy * 11.0 - sx * 6.0},
          {tail_x - sx * 4.0, tail_y - sy * 4.0,
           sx > 0.3    ? Align::right
           : sx < -0.3 ? Align::left
                       : Align::centre,
           sy > 0.3    ? Baseline::bottom
           : sy < -0.3 ? Baseline::top
                       : Baseline::middle}};
}

std::string Cluster::label() const {
  if (mark == Mark::rest) return count_text(count) + (count == 1 ? " rest" : " rests");
  if (count == 1) return count_text(first);
  if (count == 2) return count_text(first) + ", " + count_text(last);
  if (count == 3) return count_text(first) + ", " + count_text(second) + ", " + count_text(last);
  return count_text(first) + ", " + count_text(second) + ", \u2026, " + count_text(last);
}

std::string Cluster::how_many() const {
  return mark != Mark::rest && count > 3 ? "(" + count_text(count) + " reaches)" : "";
}

Anchor cluster_label(const Map &map, const Cluster &cluster, int line) {
  const bool left_side = cluster.x < map.column(0.0);
  const auto beside = [&](double gap, double y, double next_line, Baseline baseline) {
    return Anchor{cluster.x + (left_side ? -gap : gap), line == 1 ? y + next_line : y,
                  left_side ? Align::right : Align::left, baseline};
  };
  switch (cluster.mark) {
    case Mark::on_target:
      return beside(8.0, cluster.y - 13.0, -15.0, Baseline::bottom);
    case Mark::off_target:
      return beside(8.0, cluster.y + 8.0, 15.0, Baseline::top);
    case Mark::no_contact:
      return beside(11.0, cluster.y, 14.0, Baseline::middle);
    case Mark::unfinished:
      return {cluster.x + (left_side ? 11.0 : -11.0), line == 1 ? cluster.y + 14.0 : cluster.y,
              left_side ? Align::left : Align::right, Baseline::middle};
    case Mark::rest:
      break;
  }
  // Just outside the square of the hip a foot at rest stands under.
  return beside(12.0, cluster.y, 14.0, Baseline::middle);
}

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
      layout.clusters.push_back({shown.x, shown.y, mark, shown.number, 0, 0, 0});
      home = &layout.clusters.back();
    }
    if (home->count == 1) home->second = shown.number;
    home->last = shown.number;
    ++home->count;
  }
  return layout;
}

void Notes::add(std::string words) {
  if (kept_.size() < most_)
    kept_.push_back(std::move(words));
  else
    ++left_out_;
}

std::vector<std::string> Notes::lines() const {
  std::vector<std::string> lines = kept_;
  if (left_out_ > 0) lines.push_back("and " + std::to_string(left_out_) + " more");
  return lines;
}

}  // namespace sim::draw
