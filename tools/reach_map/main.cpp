// reacher_reach_map grid --out DIR [--engine physics|kinematic] [--torso free|fixed]
//                        [--spacing MM]
//                        [--radius MM] [--steps N]
//                        [--vary KEY=LOW:HIGH ... --samples N [--seed S]]
//   Lays out the grid: DIR/jobs/NNNNNN/world.toml for each point (for each
//   point and sampled robot, with --vary), DIR/jobs.txt listing those
//   folders, and DIR/grid.json.
// reacher_reach_map collect --out DIR
//   Reads each job's report.json; writes DIR/reach_map.json and
//   DIR/reach_map.png (DIR/robustness.json, robustness.png and
//   sensitivity.png, with --vary) and prints the summary line.
#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sim/core/factors.h"
#include "tools/reach_map/reach_map.h"
#include "tools/reach_map/reach_map_picture.h"
#include "tools/reach_map/robustness.h"
#include "tools/reach_map/robustness_picture.h"

namespace {

namespace fs = std::filesystem;
using namespace sim::reach_map;

constexpr const char *usage =
    "usage: reacher_reach_map grid --out DIR [--engine physics|kinematic] [--torso free|fixed]\n"
    "                              [--spacing MM]\n"
    "                              [--radius MM] [--steps N]\n"
    "                              [--vary KEY=LOW:HIGH ... --samples N [--seed S]]\n"
    "       reacher_reach_map collect --out DIR\n";

// The files a map's folder may hold from an earlier map, and nothing else.
const char *const map_files[] = {
    "jobs",       "jobs.txt",        "grid.json",      "reach_map.json", "reach_map.png",
    "joblog.txt", "robustness.json", "robustness.png", "sensitivity.png"};

std::string job_folder(std::size_t index) {
  char name[32];
  std::snprintf(name, sizeof name, "jobs/%06zu", index);
  return name;
}

// Written under a temporary name and renamed when whole.
void write_file(const fs::path &path, const std::string &content) {
  const fs::path partial = path.string() + ".partial";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out << content;
    if (!out.flush()) throw MapError(partial.string() + ": cannot be written");
  }
  std::error_code error;
  fs::rename(partial, path, error);
  if (error) throw MapError(path.string() + ": " + error.message());
}

// An option's number, within what a world file can take. The message names
// both bounds, so the way back into range is plain.
double number_between(const std::string &option, const std::string &text, double low, double high,
                      const char *unit) {
  std::size_t used = 0;
  double value = NAN;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception &) {
  }
  if (used != text.size() || !(value >= low && value <= high)) {
    char bounds[96];
    std::snprintf(bounds, sizeof bounds, " wants a number from %.10g to %.10g%s, not '", low, high,
                  unit);
    throw MapError(option + bounds + text + "'");
  }
  return value;
}

// A whole number of an option's, from low to high.
std::int64_t whole_number(const std::string &option, const std::string &text, std::int64_t low,
                          std::int64_t high) {
  std::int64_t value = 0;
  const char *end = text.data() + text.size();
  const std::from_chars_result read = std::from_chars(text.data(), end, value);
  if (text.empty() || read.ec != std::errc() || read.ptr != end || value < low || value > high)
    throw MapError(option + " wants a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not '" + text + "'");
  return value;
}

// Steps until the first reach of a run is over, at the soonest: a cycle
// whose first look sees red (119 steps), and the rest posture that ends it.
constexpr double fewest_steps_for_a_reach = 120;
// A world's step bound.
constexpr double most_steps = 100'000'000;

// Makes room for a new map: an earlier map's files go, but a folder holding
// anything else is left alone.
void clear_map_folder(const fs::path &out) {
  if (!fs::exists(out)) {
    fs::create_directories(out);
    return;
  }
  for (const auto &entry : fs::directory_iterator(out)) {
    const std::string name = entry.path().filename().string();
    const std::string whole = name.ends_with(".partial") ? name.substr(0, name.size() - 8) : name;
    if (std::find(std::begin(map_files), std::end(map_files), whole) == std::end(map_files))
      throw MapError(out.string() + " holds " + name +
                     ", which is no reach map's; give an empty or new folder");
  }
  for (const auto &entry : fs::directory_iterator(out)) fs::remove_all(entry.path());
}

int grid(const fs::path &out, const Settings &settings) {
  const std::vector<Point> points = lay_out_grid(settings);
  // Every sampled robot at every point, the robots of a point together.
  const std::size_t robots = settings.varied() ? settings.robots.size() : 1;
  if (static_cast<double>(points.size()) * static_cast<double>(robots) >
      static_cast<double>(most_runs))
    throw MapError(std::to_string(points.size()) + " points x " + std::to_string(robots) +
                   " robots are more than " + std::to_string(most_runs) + " runs");
  clear_map_folder(out);
  std::string list;
  for (std::size_t i = 0; i < points.size() * robots; ++i) {
    const std::string folder = job_folder(i);
    fs::create_directories(out / folder);
    const Robot *robot = settings.varied() ? &settings.robots[i % robots] : nullptr;
    write_file(out / folder / "world.toml", world_text(settings, points[i / robots], robot));
    list += folder + "\n";
  }
  write_file(out / "jobs.txt", list);
  // Last: its presence says the grid is whole.
  write_file(out / "grid.json", grid_json(settings, points));
  std::cerr << "reach map: " << points.size() << " points";
  if (settings.varied()) std::cerr << " x " << robots << " robots";
  std::cerr << "\n";
  return 0;
}

// A robustness map's runs: each robot's values must be the ones its run
// reports, or the folder holds runs of another map.
void check_robot(const fs::path &job, const Settings &settings, const Robot &robot) {
  const fs::path report = job / "report.json";
  try {
    const nlohmann::json factors =
        nlohmann::json::parse(read_text(report)).value("factors", nlohmann::json());
    for (std::size_t k = 0; k < settings.vary.size(); ++k) {
      const std::string &key = settings.vary[k].key;
      const double reported = factors.is_object() && factors.contains(key)
                                  ? factors[key].get<double>()
                                  : sim::factor_key(key)->model();
      if (reported != robot.values[k])
        throw MapError(key + " is " + sim::exact_number(reported) + ", not the sampled robot's " +
                       sim::exact_number(robot.values[k]) + "; is this another map's run?");
    }
  } catch (const nlohmann::json::exception &e) {
    throw MapError(report.string() + ": " + e.what());
  } catch (const MapError &e) {
    throw MapError(report.string() + ": " + e.what());
  }
}

int collect_robustness(const fs::path &out, const Settings &settings,
                       const std::vector<Point> &points) {
  const std::size_t robots = settings.robots.size();
  std::vector<Outcome> outcomes;
  outcomes.reserve(points.size() * robots);
  for (std::size_t i = 0; i < points.size() * robots; ++i) {
    const Point &point = points[i / robots];
    check_robot(out / job_folder(i), settings, settings.robots[i % robots]);
    outcomes.push_back(read_outcome(point, out / job_folder(i)));
    outcomes.back().well_inside = well_inside(settings, point);
  }
  const Robustness robustness = assess(settings, outcomes);
  write_file(out / "robustness.json", robustness_json(settings, robustness));
  for (const auto &[name, png] :
       {std::pair{"robustness.png", robustness_picture_png(settings, robustness)},
        std::pair{"sensitivity.png", sensitivity_picture_png(settings, robustness)}}) {
    if (png.empty()) throw MapError((out / name).string() + ": could not be drawn");
    write_file(out / name, png);
  }
  std::cout << robustness_summary_line(settings, robustness) << "\n";
  return 0;
}

int collect(const fs::path &out) {
  Settings settings;
  std::vector<Point> points;
  read_grid_json(read_text(out / "grid.json"), settings, points);
  if (settings.varied()) return collect_robustness(out, settings, points);
  std::vector<Outcome> outcomes;
  outcomes.reserve(points.size());
  for (std::size_t i = 0; i < points.size(); ++i) {
    outcomes.push_back(read_outcome(points[i], out / job_folder(i)));
    outcomes.back().well_inside = well_inside(settings, points[i]);
  }
  const Summary summary = summarise(outcomes);
  write_file(out / "reach_map.json", map_json(settings, summary, outcomes));
  const std::string picture = map_picture_png(settings, summary, outcomes);
  if (picture.empty()) throw MapError((out / "reach_map.png").string() + ": could not be drawn");
  write_file(out / "reach_map.png", picture);
  std::cout << summary_line(settings, summary) << "\n";
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.empty() || args[0] == "--help" || args[0] == "-h") {
    std::cout << usage;
    return args.empty() ? 2 : 0;
  }
  try {
    Settings settings;
    fs::path out;
    bool torso_given = false;
    std::vector<std::string> vary;
    std::optional<int> samples;
    std::optional<std::int64_t> seed;
    for (std::size_t i = 1; i < args.size(); i += 2) {
      const std::string &option = args[i];
      if (i + 1 >= args.size()) throw MapError(option + " wants a value");
      const std::string &value = args[i + 1];
      if (option == "--out") {
        out = value;
      } else if (option == "--engine") {
        const std::optional<sim::EngineKind> kind = sim::engine_named(value);
        if (!kind) throw MapError("--engine is physics or kinematic, not '" + value + "'");
        settings.engine = *kind;
      } else if (option == "--torso") {
        const std::optional<sim::Torso> torso = sim::torso_named(value);
        if (!torso) throw MapError("--torso is free or fixed, not '" + value + "'");
        settings.torso = *torso;
        torso_given = true;
      } else if (option == "--spacing") {
        // Grid points are whole micrometres; a metre is wider than the ground
        // either view sees.
        settings.spacing_um =
            std::llround(number_between(option, value, 0.001, 1000, " mm") * 1000);
      } else if (option == "--radius") {
        // The world files give the radius to the micrometre.
        settings.radius = static_cast<double>(std::llround(
                              number_between(option, value, 0.001, 1000, " mm") * 1000)) /
                          1e6;
      } else if (option == "--steps") {
        const double steps = number_between(option, value, 1, most_steps, "");
        if (steps != std::floor(steps))
          throw MapError("--steps wants a whole number, not " + value);
        if (steps < fewest_steps_for_a_reach)
          throw MapError("--steps " + value + " is too few for any reach: a run's first reach is " +
                         "over at step 120 at the soonest");
        settings.step_bound = std::llround(steps);
      } else if (option == "--vary") {
        vary.push_back(value);
      } else if (option == "--samples") {
        samples = static_cast<int>(whole_number(option, value, 1, most_robots));
      } else if (option == "--seed") {
        seed = whole_number(option, value, 0, std::numeric_limits<std::int64_t>::max());
      } else {
        throw MapError("unknown option " + option);
      }
    }
    if (out.empty()) throw MapError("--out is needed");
    if (torso_given && settings.engine != sim::EngineKind::physics)
      throw MapError("--torso means nothing to the kinematic engine, whose robot has no body");
    // The robots are sampled here, once: grid.json keeps them for collect.
    for (const std::string &text : vary)
      settings.vary.push_back(parse_vary(text, settings.engine, settings.torso));
    if (vary.empty() && (samples || seed))
      throw MapError(std::string(samples ? "--samples" : "--seed") +
                     " means nothing without --vary KEY=LOW:HIGH");
    if (!vary.empty() && !samples)
      throw MapError("--vary wants --samples N: how many robots to sample over the keys");
    if (!vary.empty()) {
      settings.seed = seed.value_or(0);
      settings.robots = sample_robots(settings.vary, *samples, settings.seed);
    }
    if (args[0] == "grid") return grid(out, settings);
    if (args[0] == "collect") return collect(out);
    throw MapError("unknown command " + args[0]);
  } catch (const std::exception &e) {
    std::cerr << "reach map: " << e.what() << "\n" << usage;
    return 2;
  }
}
