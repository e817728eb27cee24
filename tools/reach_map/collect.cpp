#include <algorithm>
#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>

#include "sim/model/legs.h"
#include "sim/record/report_numbers.h"
#include "sim/system/files.h"
#include "tools/reach_map/reach_map.h"

namespace sim::reach_map {

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using nlohmann::ordered_json;

const char *side_name(int leg) { return leg == 0 ? "left" : "right"; }

// The side of the first look that counted red, from the console's "red left =
// N" and "red right = N" lines.
std::optional<int> first_side_seen(const std::string &console) {
  std::istringstream lines(console);
  std::string line;
  while (std::getline(lines, line))
    for (const auto &[prefix, leg] : {std::pair{"red left = ", 0}, std::pair{"red right = ", 2}}) {
      const std::size_t at = line.find(prefix);
      if (at != std::string::npos && std::atoi(line.c_str() + at + std::string(prefix).size()) > 0)
        return leg;
    }
  return std::nullopt;
}

ordered_json optional_metres(const std::optional<double> &value) {
  return value ? ordered_json(report_metres(*value)) : ordered_json(nullptr);
}

ordered_json counts_json(const SideCounts &c) {
  return {{"seen", c.seen},
          {"reached", c.reached},
          {"hit", c.hit},
          {"solver_messages", c.solver_messages}};
}

// A whole number of a report within its bounds; a fraction or a number out
// of range (a leg 7, a window at 1e30) is a report no run wrote.
std::int64_t whole(const json &value, const fs::path &report, const std::string &key,
                   std::int64_t low, std::int64_t high) {
  if (!value.is_number_integer() || value.get<std::int64_t>() < low ||
      value.get<std::int64_t>() > high)
    throw MapError(report.string() + ": " + key + " must be a whole number from " +
                   std::to_string(low) + " to " + std::to_string(high) + ", not " + value.dump());
  return value.get<std::int64_t>();
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
  json report;
  try {
    report = json::parse(read_text(report_path));
    outcome.steps = whole(report.at("steps"), report_path, "steps", 0, 100'000'000);
    if (report.at("interrupted").get<bool>())
      throw MapError(report_path.string() + ": the run was interrupted");
    const json &reaches = report.at("reaches");
    if (!reaches.empty()) {
      const json &reach = reaches.front();
      outcome.reached = true;
      const std::int64_t leg = whole(reach.at("leg"), report_path, "reaches[0].leg", 0, 2);
      if (leg == 1) throw MapError(report_path.string() + ": reaches[0].leg must be 0 or 2, not 1");
      outcome.leg = static_cast<int>(leg);
      outcome.hit = !reach.at("target").is_null();
      const json &foot = reach.at("foot");
      outcome.foot =
          Vec3{foot.at(0).get<double>(), foot.at(1).get<double>(), foot.at(2).get<double>()};
      outcome.miss = std::hypot(outcome.foot->x - point.x, outcome.foot->y - point.y);
      if (!reach.at("error").is_null()) outcome.error = reach.at("error").get<double>();
      if (const json &w = reach.at("window"); !w.is_null())
        outcome.window = std::array<int, 2>{
            static_cast<int>(whole(w.at("x"), report_path, "reaches[0].window.x", 0, 1023)),
            static_cast<int>(whole(w.at("y"), report_path, "reaches[0].window.y", 0, 1023))};
      if (const json &a = reach.at("aimed"); !a.is_null())
        outcome.aimed = Vec2{a.at(0).get<double>(), a.at(1).get<double>()};
    }
  } catch (const json::exception &e) {
    throw MapError(report_path.string() + ": " + e.what());
  }
  const std::string console = read_text(job_folder / "console.txt");
  outcome.solver_message = console.find("impossible") != std::string::npos;
  if (!outcome.leg) outcome.leg = first_side_seen(console);
  outcome.seen = outcome.reached || outcome.leg.has_value();
  outcome.in_reach = outcome.leg ? from_rest_point(*outcome.leg, point.x, point.y) <= foot_reach
                                 : std::min(from_rest_point(0, point.x, point.y),
                                            from_rest_point(2, point.x, point.y)) <= foot_reach;
  return outcome;
}

std::string map_json(const Settings &settings, const Summary &summary,
                     const std::vector<Outcome> &outcomes) {
  ordered_json head;
  head["engine"] = engine_name(settings.engine);
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
      {"in_reach_without_solver_message",
       {{"reached", summary.clean_reaches},
        {"miss_worst", optional_metres(summary.clean_miss_worst)},
        {"error_worst", optional_metres(summary.clean_error_worst)},
        {"aim_offset_worst", optional_metres(summary.clean_aim_offset_worst)}}}};

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
    p["reached"] = o.reached;
    p["hit"] = o.hit;
    p["miss"] = optional_metres(o.miss);
    p["error"] = optional_metres(o.error);
    p["solver_message"] = o.solver_message;
    p["in_reach"] = o.in_reach;
    p["window"] = o.window ? ordered_json(*o.window) : ordered_json(nullptr);
    p["aimed"] = o.aimed ? ordered_json({report_metres(o.aimed->x), report_metres(o.aimed->y)})
                         : ordered_json(nullptr);
    p["foot"] = o.foot ? ordered_json({report_metres(o.foot->x), report_metres(o.foot->y),
                                       report_metres(o.foot->z)})
                       : ordered_json(nullptr);
    p["steps"] = o.steps;
    out += (i == 0 ? "\n    " : ",\n    ") + p.dump();
  }
  out += outcomes.empty() ? "]\n}\n" : "\n  ]\n}\n";
  return out;
}

std::string summary_line(const Settings &settings, const Summary &summary) {
  char head[160];
  std::snprintf(head, sizeof head,
                "reach map (%s engine, %g mm grid, %d points): ", engine_name(settings.engine),
                settings.spacing() * 1000.0, summary.points);
  std::string line = head;
  for (const auto &[name, c] : {std::pair{"left", summary.left}, std::pair{"right", summary.right}})
    line += std::string(name) + " " + std::to_string(c.seen) + " seen, " +
            std::to_string(c.reached) + " reached, " + std::to_string(c.hit) + " hit; ";
  const int seen = summary.seen();
  if (seen > 0) {
    char share[64];
    std::snprintf(share, sizeof share, "%.1f %% of seen points hit; ",
                  100.0 * summary.hit() / seen);
    line += share;
  }
  line += "miss median " + millimetres(summary.miss_median) + ", worst " +
          millimetres(summary.miss_worst);
  return line;
}

}  // namespace sim::reach_map
