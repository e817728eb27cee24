// reacher_reach_map grid --out DIR [--engine physics|kinematic] [--spacing MM]
//                        [--radius MM] [--steps N]
//   Lays out the grid: DIR/jobs/NNNNNN/world.toml for each point, DIR/jobs.txt
//   listing those folders, and DIR/grid.json.
// reacher_reach_map collect --out DIR
//   Reads each job's report.json; writes DIR/reach_map.json and
//   DIR/reach_map.png and prints the summary line.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "sim/draw/reach_map_picture.h"
#include "tools/reach_map/reach_map.h"

namespace {

namespace fs = std::filesystem;
using namespace sim::reach_map;

constexpr const char *usage =
    "usage: reacher_reach_map grid --out DIR [--engine physics|kinematic] [--spacing MM]\n"
    "                              [--radius MM] [--steps N]\n"
    "       reacher_reach_map collect --out DIR\n";

// The files a map's folder may hold from an earlier map, and nothing else.
const char *const map_files[] = {"jobs",           "jobs.txt",      "grid.json",
                                 "reach_map.json", "reach_map.png", "joblog.txt"};

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

double positive_number(const std::string &option, const std::string &text) {
  std::size_t used = 0;
  double value = NAN;
  try {
    value = std::stod(text, &used);
  } catch (const std::exception &) {
  }
  if (used != text.size() || !(value > 0.0) || !std::isfinite(value))
    throw MapError(option + " wants a number above 0, not '" + text + "'");
  return value;
}

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
  clear_map_folder(out);
  std::string list;
  for (std::size_t i = 0; i < points.size(); ++i) {
    const std::string folder = job_folder(i);
    fs::create_directories(out / folder);
    write_file(out / folder / "world.toml", world_text(settings, points[i]));
    list += folder + "\n";
  }
  write_file(out / "jobs.txt", list);
  // Last: its presence says the grid is whole.
  write_file(out / "grid.json", grid_json(settings, points));
  std::cerr << "reach map: " << points.size() << " points\n";
  return 0;
}

int collect(const fs::path &out) {
  Settings settings;
  std::vector<Point> points;
  read_grid_json(read_text(out / "grid.json"), settings, points);
  std::vector<Outcome> outcomes;
  outcomes.reserve(points.size());
  for (std::size_t i = 0; i < points.size(); ++i)
    outcomes.push_back(read_outcome(points[i], out / job_folder(i)));
  const Summary summary = summarise(outcomes);
  write_file(out / "reach_map.json", map_json(settings, summary, outcomes));
  if (!write_map_picture((out / "reach_map.png").string(), settings, summary, outcomes))
    throw MapError((out / "reach_map.png").string() + ": cannot be written");
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
      } else if (option == "--spacing") {
        settings.spacing_um = std::llround(positive_number(option, value) * 1000.0);
        if (settings.spacing_um < 1) throw MapError("--spacing is at least 0.001 mm");
      } else if (option == "--radius") {
        settings.radius = positive_number(option, value) / 1000.0;
      } else if (option == "--steps") {
        const double steps = positive_number(option, value);
        if (steps != std::floor(steps)) throw MapError("--steps wants a whole number");
        settings.step_bound = std::llround(steps);
      } else {
        throw MapError("unknown option " + option);
      }
    }
    if (out.empty()) throw MapError("--out is needed");
    if (args[0] == "grid") return grid(out, settings);
    if (args[0] == "collect") return collect(out);
    throw MapError("unknown command " + args[0]);
  } catch (const std::exception &e) {
    std::cerr << "reach map: " << e.what() << "\n" << usage;
    return 2;
  }
}
