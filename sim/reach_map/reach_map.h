// The reach map: the closed loop run once for each target position on a grid
// over the ground the camera's side views see. `grid` lays out the points and
// writes one world per point; each world is then run as a process of its own
// (scripts/reach-map hands them to a job runner); `collect` reads what each
// run wrote and makes the map.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/ground.h"

namespace sim::reach_map {

// A problem with the map's inputs or folders: the message says what.
struct MapError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

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

// The ground a side view sees: the quadrilateral of its corner pixels'
// ground points (the view's mapping is projective, so edges stay straight).
std::optional<std::array<Vec2, 4>> footprint(const Settings &settings, View view);

// Grid points, multiples of the spacing in x and y, whose disc centre lies in
// either view's footprint; ordered by x, then y.
std::vector<Point> lay_out_grid(const Settings &settings);

// The world file of one point's run: one disc, the run ending after its
// first reach, no records but the report.
std::string world_text(const Settings &settings, const Point &point);

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

// Reads one run's report.json and console; throws MapError naming the file
// if the run left no usable report.
Outcome read_outcome(const Point &point, const std::filesystem::path &job_folder);

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

// reach_map.json: settings, summary and one line per point, in grid order.
std::string map_json(const Settings &settings, const Summary &summary,
                     const std::vector<Outcome> &outcomes);
// The summary line for people.
std::string summary_line(const Settings &settings, const Summary &summary);
// reach_map.png. False if it cannot be written.
bool write_map_picture(const std::string &path, const Settings &settings, const Summary &summary,
                       const std::vector<Outcome> &outcomes);

// The map's own file of settings and points, which collect reads back.
std::string grid_json(const Settings &settings, const std::vector<Point> &points);
void read_grid_json(const std::string &text, Settings &settings, std::vector<Point> &points);

}  // namespace sim::reach_map
