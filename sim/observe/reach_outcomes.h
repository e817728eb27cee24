// A reach map's data: the grid's settings, what the robot did in each grid
// point's run, and the counts over all points. The map's tool gathers them
// and its picture draws them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/model/geometry.h"
#include "sim/model/world_config.h"

namespace sim::reach_map {

struct Settings {
  EngineKind engine = EngineKind::kinematic;
  std::int64_t spacing_um = 5000;  // between grid points; micrometres keep the grid exact
  double radius = 0.006;           // m, of the target disc
  std::int64_t step_bound = 600;   // a run with no reach by then has seen nothing it could reach
  int camera_width = 160;
  int camera_height = 160;
  double spacing() const { return static_cast<double>(spacing_um) / 1e6; }  // m
};

// One target position: the disc's centre on the ground, body frame (m).
struct Point {
  double x = 0.0;
  double y = 0.0;
};

// What one point's run did.
struct Outcome {
  Point point;
  std::optional<int> leg;       // the leg that reached, else the side whose look first saw red
  bool seen = false;            // a look counted red
  bool reached = false;         // a reach came to rest away from the foot's rest point
  bool hit = false;             // ... on the disc
  bool solver_message = false;  // the leg solver said a target was impossible
  std::optional<double> miss;   // m, foot to the disc's centre
  std::optional<double> error;  // m, foot to the ground point the controller aimed at
  std::optional<std::array<int, 2>> window;  // image position of the window reached for
  std::optional<Vec2> aimed;
  std::optional<Vec3> foot;
  std::int64_t steps = 0;
  // The disc's centre lies within the foot's reach of the side's hip (of the
  // nearer hip when no side saw it).
  bool in_reach = false;
};

// Counts per side and the misses' spread.
struct SideCounts {
  int seen = 0;
  int reached = 0;
  int hit = 0;
  int solver_messages = 0;
};
struct Summary {
  int points = 0;
  SideCounts left;
  SideCounts right;
  int seen() const { return left.seen + right.seen; }
  int hit() const { return left.hit + right.hit; }
  std::optional<double> miss_median, miss_worst;  // over every reach
  // Over reaches whose disc lies within the foot's reach and that the solver
  // did not refuse: what aiming and the tables do, apart from reach limits.
  int clean_reaches = 0;
  std::optional<double> clean_miss_worst, clean_error_worst, clean_aim_offset_worst;
};
Summary summarise(const std::vector<Outcome> &outcomes);

}  // namespace sim::reach_map
