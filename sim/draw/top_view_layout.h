// top_view.png's layout, apart from its drawing: the ground it shows and
// where each ground point lands, what it marks and where, which reaches share
// a label and where the labels go, and what cannot be shown where it is.
// Plain functions of the run's record, so that each is tested on its own.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/core/world_config.h"
#include "sim/draw/canvas.h"
#include "sim/draw/ground_map.h"
#include "sim/observe/placements.h"
#include "sim/observe/reaches.h"

namespace sim::draw {

// How the map marks a spot: a reach by its outcome, or a foot put down
// outside every reach. A new kind of outcome gets a mark of its own: a value
// here, its case in spots_of and cluster_label, and its look and legend line
// in top_view.cpp.
enum class Mark { rest, on_target, off_target, no_contact, unfinished };
inline constexpr std::size_t mark_kinds = 5;

// What the map marks: each reach where its foot came to rest (or, without a
// rest, where the leg was sent; cut off by the run's end, where its foot was
// then), and each rest of a foot outside every reach.
struct Spot {
  std::int64_t step = 0;
  Mark mark = Mark::rest;
  Vec2 at;  // m
};
// The spots of a run, in time order.
std::vector<Spot> spots_of(const std::vector<Placement> &placements,
                           const std::vector<Reach> &reaches);

// The ground shown: the feet's reach and the views, grown to hold the
// targets, the spots and the torso's footprint.
Map top_view_map(const WorldConfig &world, const std::vector<Spot> &spots,
                 const std::vector<Vec2> &torso_footprint);

// A target as it can be drawn: the same inside the picture, but with bounded
// numbers. A disc too large to draw is replaced by one of bounded radius that
// shares its edge where the edge crosses the picture.
enum class Seen { inside, partly, covers_all, outside, unusable };
struct DrawnDisc {
  Seen seen = Seen::unusable;
  double x = 0.0, y = 0.0, radius = 0.0;  // m
};
DrawnDisc drawable(const Target &target, const Extent &extent);
// Why each target not drawn whole where it is was left so, in file order.
std::vector<std::string> target_notes(const WorldConfig &world,
                                      const std::vector<DrawnDisc> &discs);

// Where a label goes: its anchor point and how the text sits on it.
struct Anchor {
  double x = 0.0, y = 0.0;  // pixels
  Align align = Align::left;
  Baseline baseline = Baseline::top;
};
// A target's label, `label_width` pixels wide: below a small disc, on a
// large one, and always inside the map.
Anchor target_label(const Map &map, const Target &target, double label_width);

// An arrow just inside the picture's edge, from the picture's middle
// towards something beyond it in ground direction `direction`: its tail, its
// tip, its head's two back corners, and its label beside the tail.
struct EdgeArrow {
  Vec2 tail, shaft_end, tip, head_left, head_right;  // pixels
  Anchor label;
};
EdgeArrow edge_arrow(const Map &map, Vec2 direction);
// The unit direction from the picture's middle to a far point, without
// overflowing on huge coordinates.
Vec2 direction_to(double x, double y, const Extent &extent);

// Nearby spots of one kind share one label: reaches their numbers, rests
// how many they were.
struct Cluster {
  double x = 0.0, y = 0.0;  // pixels, of its first spot
  Mark mark = Mark::on_target;
  int first = 0, second = 0, last = 0;  // reach numbers
  std::int64_t count = 0;
  // The reaches' numbers (past three, the first two and the last), or "3 rests".
  std::string label() const;
  // How many reaches there were, for a second line past three.
  std::string how_many() const;
};
// A cluster's label, on the side of its mark away from the body's midline
// so that the two legs' labels do not run into each other, and each kind on
// a side of its own so that marks at one spot keep their labels apart: above
// the mark for reaches on a target, below it for reaches off target, level
// with it for reaches that never came down (whose target's own label lies
// below) and for rests (beside the hip they stand under), and level on the
// midline's side for reaches the run's end cut off. `line` 1 is the second
// line.
Anchor cluster_label(const Map &map, const Cluster &cluster, int line = 0);

// A spot as the map shows it.
struct Shown {
  Mark mark = Mark::rest;
  int number = 0;           // reaches from 1; 0 for rests
  double x = 0.0, y = 0.0;  // pixels
};
struct PlacementLayout {
  std::vector<Shown> shown;                       // in time order
  std::vector<Cluster> clusters;                  // in order of their first reach
  std::array<std::int64_t, mark_kinds> counts{};  // per Mark, shown or not
};
// Places each spot, groups nearby spots of one kind (within 12 pixels of a
// cluster's first), and says through `note` why a spot is not shown.
PlacementLayout lay_out(const Map &map, const std::vector<Spot> &spots,
                        const std::function<void(std::string)> &note);

// The side column's notes: at most `most` of them, then how many more.
class Notes {
 public:
  explicit Notes(std::size_t most) : most_(most) {}
  void add(std::string words);
  std::vector<std::string> lines() const;

 private:
  std::size_t most_;
  std::vector<std::string> kept_;
  std::size_t left_out_ = 0;
};

}  // namespace sim::draw
