// A reach map's data: the grid's settings, what the robot did in each grid
// point's run, and the counts over all points. The map's tool gathers them
// and its picture draws them.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/geometry.h"
#include "sim/core/world_config.h"
#include "sim/observe/reaches.h"

namespace sim::reach_map {

// A world key a robustness map varies over its sampled robots, uniform from
// low to high (e.g. "robot.friction" from 0.2 to 0.8).
struct Varied {
  std::string key;
  double low = 0.0;
  double high = 0.0;
};

// One sampled robot: a value for each varied key, in their order, and the
// seed of its random factors.
struct Robot {
  std::vector<double> values;
  std::int64_t seed = 0;
};

struct Settings {
  EngineKind engine = EngineKind::kinematic;
  Torso torso = Torso::free;       // the physics robot's
  std::int64_t spacing_um = 5000;  // between grid points; micrometres keep the grid exact
  double radius = 0.006;           // m, of the target disc
  std::int64_t step_bound = 600;   // a run with no reach by then has seen nothing it could reach
  int camera_width = 160;
  int camera_height = 160;
  // A robustness map's: the keys varied, the robots sampled over them (each
  // run at every grid point) and the seed they were drawn from. None for a
  // plain reach map.
  std::vector<Varied> vary;
  std::vector<Robot> robots;
  std::int64_t seed = 0;
  bool varied() const { return !vary.empty(); }
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
  std::optional<int> leg;  // the leg of the first reach, else the side that first saw the disc
  bool seen = false;       // an image the controller fetched showed the disc, or a reach began
  std::optional<ReachOutcome> reach;  // what the run's first reach did, if one began
  // Its reach came to rest and was over.
  bool reached() const {
    return reach == ReachOutcome::on_target || reach == ReachOutcome::off_target;
  }
  bool hit() const { return reach == ReachOutcome::on_target; }
  std::optional<double> miss;                // m, foot to the disc's centre
  std::optional<double> error;               // m, foot to the commanded foot where it came to rest
  std::optional<std::array<int, 2>> window;  // image position of the window in its image
  std::optional<Vec2> window_ground;         // the ground under that window's centre
  std::optional<Vec2> aimed;                 // the commanded foot, across the ground
  std::optional<Vec3> foot;
  // What the body went through in that reach: the torso's largest tilt
  // (rad) and the largest push of the floor on the reaching paw (N).
  std::optional<double> torso_tilt;
  std::optional<double> foot_force;
  std::int64_t steps = 0;
  // The disc's centre lies within the foot's reach of the side's hip (of the
  // nearer hip when no side saw it).
  bool in_reach = false;
  // The whole disc lies inside what one side's view sees and within that
  // side's foot's reach: a target the robot should hit.
  bool well_inside = false;
};

// Counts per side and the misses' spread.
struct SideCounts {
  int seen = 0;
  int reached = 0;     // a reach came to rest
  int hit = 0;         // ... on the disc
  int no_contact = 0;  // a reach never touched the ground
};
struct Summary {
  int points = 0;
  SideCounts left;
  SideCounts right;
  int seen() const { return left.seen + right.seen; }
  int hit() const { return left.hit + right.hit; }
  std::optional<double> miss_median, miss_worst;  // over every reach that came to rest
  // Over those whose disc lies within the foot's reach: what aiming, the
  // image and the robot do, apart from reach limits.
  int clean_reaches = 0;
  std::optional<double> clean_miss_worst, clean_error_worst, clean_aim_offset_worst;
  // The discs well inside a view and the feet's reach, and how many were hit.
  int well_inside = 0;
  int well_inside_hit = 0;
  // Over every reach: the torso's largest tilt and the paw's largest push.
  std::optional<double> torso_tilt_worst, foot_force_worst;
};
Summary summarise(const std::vector<Outcome> &outcomes);

}  // namespace sim::reach_map
