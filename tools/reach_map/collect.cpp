#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/core/legs.h"
#include "sim/record/report_numbers.h"
#include "sim/system/files.h"
#include "tools/reach_map/reach_map.h"

namespace sim::reach_map {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

const char *side_name(int leg) { return leg == 0 ? "left" : "right"; }

// Numbers from a run's report, each checked against what a report can hold:
// a report that says otherwise is a broken one, not a point of the map.
double metres_at(const json &value, const char *what) {
  const double metres = value.get<double>();
  if (!std::isfinite(metres) || std::abs(metres) > 1e3)
    throw MapError(std::string(what) + " is " + value.dump() + ", no length a run reports");
  return metres;
}

Vec2 ground_at(const json &pair, const char *what) {
  return {metres_at(pair.at(0), what), metres_at(pair.at(1), what)};
}

// A whole number of a report within its bounds; a fraction or a number out
// of range (a leg 7, a window at 1e30) is a report no run wrote.
std::int64_t whole(const json &value, const std::string &key, std::int64_t low, std::int64_t high) {
  if (!value.is_number_integer() || value.get<std::int64_t>() < low ||
      value.get<std::int64_t>() > high)
    throw MapError(key + " must be a whole number from " + std::to_string(low) + " to " +
                   std::to_string(high) + ", not " + value.dump());
  return value.get<std::int64_t>();
}

int leg_at(const json &value) {
  const auto leg = whole(value, "reaches[0].leg", 0, 2);
  if (leg == 1) throw MapError("reaches[0].leg must be 0 or 2, not 1");
  return static_cast<int>(leg);
}

int pixel_at(const json &value, const char *what) {
  return static_cast<int>(whole(value, std::string("reaches[0].") + what, 0, 1023));
}

double angle_at(const json &value, const char *what) {
  const double angle = value.get<double>();
  if (!(angle >= 0.0 && angle <= 3.2))
    throw MapError(std::string(what) + " is " + value.dump() + ", no tilt a run reports");
  return angle;
}

double force_at(const json &value, const char *what) {
  const double force = value.get<double>();
  if (!(force >= 0.0 && force < 1e6))
    throw MapError(std::string(what) + " is " + value.dump() + ", no force a run reports");
  return force;
}

ReachOutcome outcome_at(const json &value) {
  for (const ReachOutcome o : {ReachOutcome::on_target, ReachOutcome::off_target,
                               ReachOutcome::no_contact, ReachOutcome::unfinished})
    if (value.get<std::string>() == outcome_name(o)) return o;
  throw MapError("outcome is " + value.dump() + ", which no run reports");
}

ordered_json counts_json(const SideCounts &c) {
  return {{"seen", c.seen}, {"reached", c.reached}, {"hit", c.hit}, {"no_contact", c.no_contact}};
}

std::string millimetres(const std::optional<double> &value) {
  if (!value) return "none";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f mm", *value * 1000.0);
  return text;
}

}  // namespace

std::string read_text(const fs::path &path) {
  try {
    return read_file(path.string());
  } catch (const FileError &error) {
    throw MapError(path.string() + ": " + error.reason);
  }
}

Outcome read_outcome(const Point &point, const fs::path &job_folder) {
  Outcome outcome;
  outcome.point = point;
  const fs::path report_path = job_folder / "report.json";
  try {
    const json report = json::parse(read_text(report_path));
    outcome.steps = whole(report.at("steps"), "steps", 0, 100'000'000);
    if (report.at("interrupted").get<bool>()) throw MapError("the run was interrupted");
    const json &reaches = report.at("reaches");
    if (!reaches.empty()) {
      const json &reach = reaches.front();
      outcome.reach = outcome_at(reach.at("outcome"));
      outcome.leg = leg_at(reach.at("leg"));
      outcome.aimed = ground_at(reach.at("aimed"), "aimed");
      // A reach the step bound cut off has no landing yet, whatever its foot
      // did so far: the map counts its point as seen and not reached.
      const bool over = *outcome.reach != ReachOutcome::unfinished;
      if (const json &foot = reach.at("foot"); over && !foot.is_null()) {
        outcome.foot = Vec3{metres_at(foot.at(0), "foot"), metres_at(foot.at(1), "foot"),
                            metres_at(foot.at(2), "foot")};
        outcome.miss = std::hypot(outcome.foot->x - point.x, outcome.foot->y - point.y);
      }
      if (const json &e = reach.at("error"); over && !e.is_null())
        outcome.error = metres_at(e, "error");
      if (const json &w = reach.at("window"); !w.is_null())
        outcome.window =
            std::array<int, 2>{pixel_at(w.at("x"), "window.x"), pixel_at(w.at("y"), "window.y")};
      if (const json &g = reach.at("window_ground"); !g.is_null())
        outcome.window_ground = ground_at(g, "window_ground");
      if (const auto tilt = reach.find("torso_tilt"); tilt != reach.end() && !tilt->is_null())
        outcome.torso_tilt = angle_at(*tilt, "torso_tilt");
      if (const auto force = reach.find("foot_force"); force != reach.end() && !force->is_null())
        outcome.foot_force = force_at(*force, "foot_force");
      if (outcome.reached() != outcome.foot.has_value())
        throw MapError("a reach that came to rest has no foot, or one that did not has one");
    }
    const json &targets = report.at("targets");
    if (targets.size() != 1)
      throw MapError("a map's run has one target, not " + std::to_string(targets.size()));
    if (const json &seen = targets.front().at("seen"); !seen.is_null()) {
      outcome.seen = true;
      const std::string side = seen.at("side").get<std::string>();
      if (side != "left" && side != "right" && side != "forward")
        throw MapError("seen.side is \"" + side + "\", not a side");
      if (!outcome.leg && side != "forward") outcome.leg = side == "left" ? 0 : 2;
    }
  } catch (const json::exception &e) {
    throw MapError(report_path.string() + ": " + e.what());
  } catch (const MapError &e) {
    throw MapError(report_path.string() + ": " + e.what());
  }
  outcome.seen = outcome.seen || outcome.reach.has_value();
  outcome.in_reach = outcome.leg ? from_rest_point(*outcome.leg, point.x, point.y) <= foot_reach
                                 : std::min(from_rest_point(0, point.x, point.y),
                                            from_rest_point(2, point.x, point.y)) <= foot_reach;
  return outcome;
}

std::string map_json(const Settings &settings, const Summary &summary,
                     const std::vector<Outcome> &outcomes) {
  ordered_json head;
  head["engine"] = engine_name(settings.engine);
  if (settings.engine == EngineKind::physics) head["torso"] = torso_name(settings.torso);
  head["spacing"] = report_metres(settings.spacing());
  head["radius"] = report_metres(settings.radius);
  head["step_bound"] = settings.step_bound;
  head["camera"] = {{"width", settings.camera_width}, {"height", settings.camera_height}};
  const int seen = summary.seen();
  head["summary"] = {
      {"points", summary.points},
      {"left", counts_json(summary.left)},
      {"right", counts_json(summary.right)},
      {"hit_share", seen > 0 ? ordered_json(std::round(1e4 * summary.hit() / seen) / 1e4)
                             : ordered_json(nullptr)},
      {"miss_median", optional_metres(summary.miss_median)},
      {"miss_worst", optional_metres(summary.miss_worst)},
      {"in_reach",
       {{"reached", summary.clean_reaches},
        {"miss_worst", optional_metres(summary.clean_miss_worst)},
        {"error_worst", optional_metres(summary.clean_error_worst)},
        {"aim_offset_worst", optional_metres(summary.clean_aim_offset_worst)}}},
      {"well_inside", {{"points", summary.well_inside}, {"hit", summary.well_inside_hit}}},
      {"torso_tilt_worst", rounded_or_null(summary.torso_tilt_worst, report_radians)},
      {"foot_force_worst", rounded_or_null(summary.foot_force_worst, report_newtons)}};

  // One point a line, so the file reads and greps as a table.
  std::string out = head.dump(2);
  out.erase(out.rfind('}'));
  while (!out.empty() && (out.back() == '\n' || out.back() == ' ')) out.pop_back();
  out += ",\n  \"points\": [";
  for (std::size_t i = 0; i < outcomes.size(); ++i) {
    const Outcome &o = outcomes[i];
    ordered_json p;
    p["x"] = report_metres(o.point.x);
    p["y"] = report_metres(o.point.y);
    p["side"] = o.leg ? ordered_json(side_name(*o.leg)) : ordered_json(nullptr);
    p["seen"] = o.seen;
    p["outcome"] = o.reach ? ordered_json(outcome_name(*o.reach)) : ordered_json(nullptr);
    p["reached"] = o.reached();
    p["hit"] = o.hit();
    p["miss"] = optional_metres(o.miss);
    p["error"] = optional_metres(o.error);
    p["in_reach"] = o.in_reach;
    p["well_inside"] = o.well_inside;
    p["window"] = o.window ? ordered_json(*o.window) : ordered_json(nullptr);
    p["window_ground"] =
        o.window_ground
            ? ordered_json({report_metres(o.window_ground->x), report_metres(o.window_ground->y)})
            : ordered_json(nullptr);
    p["aimed"] = o.aimed ? ordered_json({report_metres(o.aimed->x), report_metres(o.aimed->y)})
                         : ordered_json(nullptr);
    p["foot"] = o.foot ? ordered_json({report_metres(o.foot->x), report_metres(o.foot->y),
                                       report_metres(o.foot->z)})
                       : ordered_json(nullptr);
    p["torso_tilt"] = o.torso_tilt ? ordered_json(*o.torso_tilt) : ordered_json(nullptr);
    p["foot_force"] = o.foot_force ? ordered_json(*o.foot_force) : ordered_json(nullptr);
    p["steps"] = o.steps;
    out += (i == 0 ? "\n    " : ",\n    ") + p.dump();
  }
  out += outcomes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string summary_line(const Settings &settings, const Summary &summary) {
  char head[160];
  std::snprintf(head, sizeof head,
                "reach map (%s engine%s, %g mm grid, %d points): ", engine_name(settings.engine),
                settings.engine != EngineKind::physics ? ""
                : settings.torso == Torso::fixed       ? ", robot on a stand"
                                                       : ", robot on its feet",
                settings.spacing() * 1000.0, summary.points);
  std::string line = head;
  for (const auto &[name, c] : {std::pair{"left", summary.left}, std::pair{"right", summary.right}})
    line += std::string(name) + " " + std::to_string(c.seen) + " seen, " +
            std::to_string(c.reached) + " reached, " + std::to_string(c.hit) + " hit, " +
            std::to_string(c.no_contact) + " never touched the ground; ";
  const int seen = summary.seen();
  if (seen > 0) {
    char share[64];
    std::snprintf(share, sizeof share, "%.1f %% of seen points hit; ",
                  100.0 * summary.hit() / seen);
    line += share;
  }
  line += "miss median " + millimetres(summary.miss_median) + ", worst " +
          millimetres(summary.miss_worst);
  line += "; discs well inside a view and the feet's reach: " +
          std::to_string(summary.well_inside_hit) + " of " + std::to_string(summary.well_inside) +
          " hit";
  // The physics robot's cost of reaching: how far it tipped and how hard a paw pressed.
  if (settings.engine == EngineKind::physics && summary.torso_tilt_worst &&
      summary.foot_force_worst) {
    char cost[128];
    std::snprintf(cost, sizeof cost, "; torso tilt at most %.1f deg, paw push at most %.1f N",
                  *summary.torso_tilt_worst * 180.0 / M_PI, *summary.foot_force_worst);
    line += cost;
  }
  return line;
}

}  // namespace sim::reach_map
