#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "sim/core/calibration_rule.h"
#include "sim/core/factors.h"
#include "sim/core/legs.h"
#include "tools/reach_map/reach_map.h"

namespace sim::reach_map {

namespace {

// Whether p lies inside or on the edge of a convex quadrilateral, whichever
// way round its corners go.
bool inside(const std::array<Vec2, 4> &corners, Vec2 p) {
  bool some_left = false;
  bool some_right = false;
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Vec2 &a = corners[i];
    const Vec2 &b = corners[(i + 1) % corners.size()];
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    if (cross > 0.0) some_left = true;
    if (cross < 0.0) some_right = true;
  }
  return !(some_left && some_right);
}

// How far p lies inside a convex quadrilateral: its distance to the nearest
// edge, negative outside.
double depth_inside(const std::array<Vec2, 4> &corners, Vec2 p) {
  double area = 0.0;  // its sign says which way round the corners go
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Vec2 &a = corners[i];
    const Vec2 &b = corners[(i + 1) % corners.size()];
    area += a.x * b.y - b.x * a.y;
  }
  double depth = INFINITY;
  for (std::size_t i = 0; i < corners.size(); ++i) {
    const Vec2 &a = corners[i];
    const Vec2 &b = corners[(i + 1) % corners.size()];
    const double cross = (b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x);
    depth = std::min(depth, (area > 0.0 ? cross : -cross) / std::hypot(b.x - a.x, b.y - a.y));
  }
  return depth;
}

// Micrometres, so that a grid point's coordinates print as few digits as
// they need.
double metres(std::int64_t micrometres) { return static_cast<double>(micrometres) / 1e6; }

std::string toml_number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.6f", value);
  return text;
}

}  // namespace

std::optional<std::array<Vec2, 4>> footprint(const Settings &settings, View view) {
  const double right = settings.camera_width - 1;
  const double bottom = settings.camera_height - 1;
  const std::array<std::array<double, 2>, 4> pixels{
      {{0.0, 0.0}, {right, 0.0}, {right, bottom}, {0.0, bottom}}};
  std::array<Vec2, 4> corners;
  for (std::size_t i = 0; i < pixels.size(); ++i) {
    const std::optional<Vec2> point = ground_point(view, pixels[i][0], pixels[i][1]);
    if (!point) return std::nullopt;
    corners[i] = *point;
  }
  return corners;
}

std::vector<Point> lay_out_grid(const Settings &settings) {
  if (settings.spacing_um <= 0) throw MapError("the grid's spacing must be above 0");
  std::vector<std::array<Vec2, 4>> views;
  for (const View view : {View::left, View::right})
    if (const auto corners = footprint(settings, view)) views.push_back(*corners);
  if (views.empty()) throw MapError("neither side view sees the ground at its corners");

  double x_low = INFINITY, x_high = -INFINITY, y_low = INFINITY, y_high = -INFINITY;
  for (const auto &corners : views)
    for (const Vec2 &c : corners) {
      x_low = std::min(x_low, c.x);
      x_high = std::max(x_high, c.x);
      y_low = std::min(y_low, c.y);
      y_high = std::max(y_high, c.y);
    }
  const double step = settings.spacing();
  const auto first = [&](double low) { return static_cast<std::int64_t>(std::ceil(low / step)); };
  const auto last = [&](double high) { return static_cast<std::int64_t>(std::floor(high / step)); };
  constexpr std::int64_t most_points = 1'000'000;
  if ((last(x_high) - first(x_low) + 1) * (last(y_high) - first(y_low) + 1) > most_points)
    throw MapError("a spacing of " + std::to_string(settings.spacing_um) +
                   " um gives more than a million grid points");

  std::vector<Point> points;
  for (std::int64_t i = first(x_low); i <= last(x_high); ++i)
    for (std::int64_t j = first(y_low); j <= last(y_high); ++j) {
      const Point point{metres(i * settings.spacing_um), metres(j * settings.spacing_um)};
      if (std::any_of(views.begin(), views.end(), [&](const auto &corners) {
            return inside(corners, {point.x, point.y});
          }))
        points.push_back(point);
    }
  if (points.empty()) {
    char spacing[32];
    std::snprintf(spacing, sizeof spacing, "%g", step * 1000.0);
    throw MapError(std::string("a spacing of ") + spacing +
                   " mm puts no grid point on the ground either view sees");
  }
  return points;
}

bool well_inside(const Settings &settings, const Point &point) {
  for (const auto &[view, leg] : {std::pair{View::left, 0}, std::pair{View::right, 2}}) {
    const std::optional<std::array<Vec2, 4>> corners = footprint(settings, view);
    if (corners && depth_inside(*corners, {point.x, point.y}) >= settings.radius &&
        from_rest_point(leg, point.x, point.y) <= foot_reach - settings.radius)
      return true;
  }
  return false;
}

std::string world_text(const Settings &settings, const Point &point, const Robot *robot) {
  // A robot's varied keys of one table of the world file, a line each.
  const auto varied_in = [&](std::string_view table) {
    std::string lines;
    for (std::size_t k = 0; robot != nullptr && k < settings.vary.size(); ++k) {
      const FactorKey *key = factor_key(settings.vary[k].key);
      if (key != nullptr && key->table() == table)
        lines += std::string(key->name()) + " = " + exact_number(robot->values[k]) + "\n";
    }
    return lines;
  };
  std::string text = "# One point of a reach map: a target disc at x = " + toml_number(point.x) +
                     " m, y = " + toml_number(point.y) + " m.\n";
  if (robot != nullptr)
    text = "# One point of a robustness map: a target disc at x = " + toml_number(point.x) +
           " m, y = " + toml_number(point.y) + " m, seen by one of its sampled robots.\n";
  text += "engine = \"" + std::string(engine_name(settings.engine)) + "\"\n";
  text += "steps = " + std::to_string(settings.step_bound) + "\n";
  text += "stop_after_reaches = 1\n";
  if (robot != nullptr) text += "seed = " + std::to_string(robot->seed) + "\n";
  text += "\n[camera]\nwidth = " + std::to_string(settings.camera_width) +
          "\nheight = " + std::to_string(settings.camera_height) + "\n" + varied_in("camera") +
          "\n";
  text += "[output]\ntrace = false\nstate = false\npictures = false\n";
  if (settings.engine == EngineKind::physics)
    text += "video = false\nmodel = false\n\n[robot]\ntorso = \"" +
            std::string(torso_name(settings.torso)) + "\"\n" + varied_in("robot");
  text += "\n[[target]]\nx = " + toml_number(point.x) + "\ny = " + toml_number(point.y) +
          "\nradius = " + toml_number(settings.radius) + "\n";
  return text;
}

std::string grid_json(const Settings &settings, const std::vector<Point> &points) {
  nlohmann::ordered_json grid;
  grid["engine"] = engine_name(settings.engine);
  grid["torso"] = torso_name(settings.torso);
  grid["spacing_um"] = settings.spacing_um;
  grid["radius"] = settings.radius;
  grid["step_bound"] = settings.step_bound;
  grid["camera"] = {{"width", settings.camera_width}, {"height", settings.camera_height}};
  if (settings.varied()) {
    nlohmann::ordered_json vary = nlohmann::ordered_json::array();
    for (const Varied &v : settings.vary) vary.push_back({v.key, v.low, v.high});
    grid["vary"] = std::move(vary);
    grid["seed"] = settings.seed;
    nlohmann::ordered_json robots = nlohmann::ordered_json::array();
    for (const Robot &robot : settings.robots) robots.push_back({robot.values, robot.seed});
    grid["robots"] = std::move(robots);
  }
  nlohmann::ordered_json list = nlohmann::ordered_json::array();
  for (const Point &p : points) list.push_back({p.x, p.y});
  grid["points"] = std::move(list);
  return grid.dump(1) + "\n";
}

void read_grid_json(const std::string &text, Settings &settings, std::vector<Point> &points) {
  try {
    const nlohmann::json grid = nlohmann::json::parse(text);
    const std::string engine = grid.at("engine").get<std::string>();
    const std::optional<EngineKind> kind = engine_named(engine);
    if (!kind) throw MapError("grid.json names an unknown engine: " + engine);
    settings.engine = *kind;
    const std::string torso = grid.value("torso", std::string("free"));
    const std::optional<Torso> mount = torso_named(torso);
    if (!mount) throw MapError("grid.json names an unknown torso: " + torso);
    settings.torso = *mount;
    settings.spacing_um = grid.at("spacing_um").get<std::int64_t>();
    settings.radius = grid.at("radius").get<double>();
    settings.step_bound = grid.at("step_bound").get<std::int64_t>();
    settings.camera_width = grid.at("camera").at("width").get<int>();
    settings.camera_height = grid.at("camera").at("height").get<int>();
    settings.vary.clear();
    settings.robots.clear();
    if (const auto vary = grid.find("vary"); vary != grid.end()) {
      for (const auto &v : *vary)
        settings.vary.push_back(
            {v.at(0).get<std::string>(), v.at(1).get<double>(), v.at(2).get<double>()});
      settings.seed = grid.at("seed").get<std::int64_t>();
      for (const auto &robot : grid.at("robots")) {
        settings.robots.push_back(
            {robot.at(0).get<std::vector<double>>(), robot.at(1).get<std::int64_t>()});
        if (settings.robots.back().values.size() != settings.vary.size())
          throw MapError("grid.json holds a robot without a value for each varied key");
      }
      if (settings.robots.empty()) throw MapError("grid.json varies keys over no robot");
    }
    points.clear();
    for (const auto &p : grid.at("points"))
      points.push_back({p.at(0).get<double>(), p.at(1).get<double>()});
  } catch (const nlohmann::json::exception &e) {
    throw MapError(std::string("grid.json cannot be read: ") + e.what());
  }
}

}  // namespace sim::reach_map
