#include "sim/record/run_report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "sim/record/report_numbers.h"

namespace sim {

namespace {
using nlohmann::ordered_json;

ordered_json optional_metres(const std::optional<double> &value) {
  return value ? ordered_json(report_metres(*value)) : ordered_json(nullptr);
}

ordered_json optional_index(const std::optional<int> &value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

// Two-space indents, with each element of a list of records on one line of
// its own: a long run's report stays readable and greppable.
std::string layout(const ordered_json &report) {
  std::string out = "{";
  bool first = true;
  for (const auto &[key, value] : report.items()) {
    out += first ? "\n  " : ",\n  ";
    first = false;
    out += ordered_json(key).dump() + ": ";
    if (value.is_array() && !value.empty() && value.front().is_object()) {
      out += "[";
      for (std::size_t i = 0; i < value.size(); ++i)
        out += (i == 0 ? "\n    " : ",\n    ") + value[i].dump();
      out += "\n  ]";
    } else {
      out += value.dump();
    }
  }
  return out + "\n}\n";
}

std::vector<int> hits_per_target(const RunRecord &run) {
  std::vector<int> hits(run.world.targets.size(), 0);
  for (const Reach &reach : run.reaches)
    if (reach.placement.target) ++hits[static_cast<std::size_t>(*reach.placement.target)];
  return hits;
}
}  // namespace

std::string report_json(const RunRecord &run) {
  ordered_json report;
  report["world"] = run.world.file;
  report["engine"] = engine_name(run.world.engine);
  report["camera"] = {{"width", run.world.camera_width}, {"height", run.world.camera_height}};
  report["time_step_ms"] = run.world.time_step_ms;
  report["steps"] = run.steps_done;
  report["interrupted"] = run.interrupted;

  ordered_json placements = ordered_json::array();
  for (const Placement &p : run.placements)
    placements.push_back(
        {{"step", p.step},
         {"leg", p.leg},
         {"foot", {report_metres(p.foot.x), report_metres(p.foot.y), report_metres(p.foot.z)}},
         {"target", optional_index(p.target)},
         {"distance", optional_metres(p.distance)}});
  report["placements"] = std::move(placements);

  ordered_json reaches = ordered_json::array();
  for (const Reach &r : run.reaches) {
    const Placement &p = r.placement;
    ordered_json window = nullptr;
    if (r.window) window = {{"x", r.window->x}, {"y", r.window->y}};
    ordered_json aimed = nullptr;
    if (r.aimed) aimed = {report_metres(r.aimed->x), report_metres(r.aimed->y)};
    reaches.push_back(
        {{"step", p.step},
         {"leg", r.leg},
         {"search_step", r.search_step},
         {"window", std::move(window)},
         {"aimed", std::move(aimed)},
         {"foot", {report_metres(p.foot.x), report_metres(p.foot.y), report_metres(p.foot.z)}},
         {"error", optional_metres(r.error())},
         {"target", optional_index(p.target)},
         {"distance", optional_metres(p.distance)}});
  }
  report["reaches"] = std::move(reaches);

  ordered_json targets = ordered_json::array();
  const std::vector<int> hits = hits_per_target(run);
  for (std::size_t i = 0; i < run.world.targets.size(); ++i) {
    const Target &t = run.world.targets[i];
    targets.push_back({{"x", report_metres(t.x)},
                       {"y", report_metres(t.y)},
                       {"radius", report_metres(t.radius)},
                       {"reaches", hits[i]}});
  }
  report["targets"] = std::move(targets);
  return layout(report);
}

void ReportRecorder::on_end(const RunRecord &run) {
  outputs_.write("report.json", report_json(run));
}

std::string summary_line(const RunRecord &run) {
  int on_target = 0;
  double total = 0.0;
  for (const Reach &reach : run.reaches) {
    if (!reach.placement.target) continue;
    ++on_target;
    total += *reach.placement.distance;
  }
  const std::size_t count = run.reaches.size();
  std::string line = "sim: " + std::to_string(run.steps_done) + " steps, " + std::to_string(count) +
                     (count == 1 ? " reach, " : " reaches, ") + std::to_string(on_target) +
                     " on target";
  if (on_target > 0) {
    char mean[64];
    std::snprintf(mean, sizeof mean, ", %.1f mm from the centre on average",
                  1000.0 * total / on_target);
    line += mean;
  }
  const std::vector<int> hits = hits_per_target(run);
  std::string missed;
  for (std::size_t i = 0; i < hits.size(); ++i)
    if (hits[i] == 0) missed += (missed.empty() ? "" : ", ") + std::to_string(i);
  if (!missed.empty())
    line += (missed.find(',') == std::string::npos ? "; target " : "; targets ") + missed +
            " never reached";
  return line;
}

}  // namespace sim
