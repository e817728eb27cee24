// The robustness map: the reach map run under a sample of robots that differ
// from the model (scripts/reach-map --vary), every sampled robot at every
// grid point. Here: the --vary settings checked, the robots sampled, and
// each point's and each key's hits counted.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "tools/reach_map/reach_outcomes.h"

namespace sim::reach_map {

// "KEY=LOW:HIGH" as --vary gives it: a known world key that means something
// to the map's engine and robot, LOW at most HIGH, both within the key's
// range. Throws MapError saying what is wrong.
Varied parse_vary(const std::string &text, EngineKind engine, Torso torso);

// Most robots a map samples, and most runs it makes.
inline constexpr int most_robots = 10'000;
inline constexpr std::int64_t most_runs = 1'000'000;

// `count` robots over the varied keys by Latin hypercube sampling: each
// key's range cut into `count` equal strata, every stratum sampled once,
// uniformly within it, the strata of different keys paired at random. Values
// are rounded to 1e-6, so a world file gives them exactly. Each robot gets a
// seed of its own for its random factors. The same seed, the same robots.
// Throws MapError for no keys, a key given twice or a count out of range.
std::vector<Robot> sample_robots(const std::vector<Varied> &vary, int count, std::int64_t seed);

// The bins a key's values are counted in: half as many as robots, so that
// each holds two or more, and at most eight.
int bin_count(int robots);

// One grid point over all robots.
struct PointRuns {
  Point point;
  std::optional<int> leg;  // the side most of its runs saw the disc on, if any did
  int runs = 0;
  int hits = 0;
  bool well_inside = false;
};

// One robot over all grid points.
struct RobotRuns {
  int runs = 0;
  int hits = 0;
  int inside_runs = 0;  // at points well inside a view and the feet's reach
  int inside_hits = 0;
};

// The runs of the robots whose value of one key fell in [low, high).
struct Bin {
  double low = 0.0;
  double high = 0.0;
  int robots = 0;
  int runs = 0;
  int hits = 0;
  int inside_runs = 0;
  int inside_hits = 0;
  // The standard error of the bin's well-inside hit rate: the spread of its
  // robots' own rates over the square root of their number; none for fewer
  // than two robots.
  std::optional<double> inside_error;
  std::optional<double> rate() const;
  std::optional<double> inside_rate() const;
};

struct KeyEffect {
  Varied varied;
  std::vector<Bin> bins;
  // Hits lost against the key's best bin: what the runs of the other bins
  // would have gained at that bin's hit rate.
  int cost = 0;
  // The chance that the bins' hit rates spread as far as they do with the
  // key's values dealt to the robots at random (a permutation test of 999
  // deals): below 0.05, the key is shown to matter. With few robots a bin,
  // or hits in few robots, chance alone spreads the bins far.
  double chance = 1.0;
  bool beyond_chance() const { return chance < 0.05; }
  std::optional<std::size_t> best;
};

struct Robustness {
  std::vector<PointRuns> points;
  std::vector<RobotRuns> robots;
  int runs = 0;
  int hits = 0;
  int inside_points = 0;
  int inside_runs = 0;
  int inside_hits = 0;
  std::vector<KeyEffect> keys;
  // The key that costs most hits beyond chance, or failing any, the one that
  // costs most; none when no key costs a hit.
  std::optional<std::size_t> costliest;
};

// Counts a map's runs: outcomes[point * robots + robot], in grid order.
Robustness assess(const Settings &settings, const std::vector<Outcome> &outcomes);

// robustness.json: the settings, the robots, each key's bins, each point.
std::string robustness_json(const Settings &settings, const Robustness &robustness);
// The summary line for people.
std::string robustness_summary_line(const Settings &settings, const Robustness &robustness);

// The ground where a disc lies wholly inside a side view's footprint and
// within that side's foot's reach less its radius (where well_inside holds),
// as a convex outline; empty where there is none.
std::vector<Vec2> well_inside_outline(const Settings &settings, View view);

// A varied key's label for people: "robot.friction", "camera.noise (levels)".
std::string key_label(const std::string &key);

}  // namespace sim::reach_map
