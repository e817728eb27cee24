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

#include "tools/reach_map/reach_outcomes.h"

namespace sim::reach_map {

// A problem with the map's inputs or folders: the message says what.
struct MapError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The ground a side view sees: the quadrilateral of its corner pixels'
// ground points (the view's mapping is projective, so edges stay straight).
std::optional<std::array<Vec2, 4>> footprint(const Settings &settings, View view);

// Grid points, multiples of the spacing in x and y, whose disc centre lies in
// either view's footprint; ordered by x, then y. Throws MapError when there
// are none.
std::vector<Point> lay_out_grid(const Settings &settings);

// The world file of one point's run: one disc, the run ending after its
// first reach, no records but the report; on a robustness map, with one
// sampled robot's values of the varied keys and its seed.
std::string world_text(const Settings &settings, const Point &point, const Robot *robot = nullptr);

// The whole text of a file of the map's. Throws MapError naming the file.
std::string read_text(const std::filesystem::path &path);

// Whether the whole disc at point lies inside a view's footprint, and within
// the foot's reach of that side's hip: a target the robot can see whole and
// put its foot on anywhere.
bool well_inside(const Settings &settings, const Point &point);

// Reads one run's report.json; throws MapError naming the file
// if the run left no usable report.
Outcome read_outcome(const Point &point, const std::filesystem::path &job_folder);

// reach_map.json: settings, summary and one line per point, in grid order.
std::string map_json(const Settings &settings, const Summary &summary,
                     const std::vector<Outcome> &outcomes);
// The summary line for people.
std::string summary_line(const Settings &settings, const Summary &summary);
// The map's own file of settings and points, which collect reads back.
std::string grid_json(const Settings &settings, const std::vector<Point> &points);
void read_grid_json(const std::string &text, Settings &settings, std::vector<Point> &points);

}  // namespace sim::reach_map
