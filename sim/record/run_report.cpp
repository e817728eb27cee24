#include "sim/record/run_report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "sim/core/factors.h"
#include "sim/core/utf8.h"
#include "sim/record/report_numbers.h"
#include "sim/system/signals.h"

namespace sim {

namespace {
using nlohmann::ordered_json;

ordered_json optional_index(const std::optional<int> &value) {
  return value ? ordered_json(*value) : ordered_json(nullptr);
}

// Text the report holds is made UTF-8 where it enters (the world's file name);
// should any other slip through, it is replaced rather than ending the run.
std::string dumped(const ordered_json &value) {
  return value.dump(-1, ' ', false, ordered_json::error_handler_t::replace);
}

// Two-space indents, with each element of a list of records on one line of
// its own: a long run's report stays readable and greppable.
std::string layout(const ordered_json &report) {
  std::string out = "{";
  bool first = true;
  for (const auto &[key, value] : report.items()) {
    out += first ? "\n  " : ",\n  ";
    first = false;
    out += dumped(ordered_json(key)) + ": ";
    if (value.is_array() && !value.empty() && value.front().is_object()) {
      out += "[";
      for (std::size_t i = 0; i < value.size(); ++i)
        out += (i == 0 ? "\n    " : ",\n    ") + dumped(value[i]);
      out += "\n  ]";
    } else {
      out += dumped(value);
    }
  }
  return out + "\n}\n";
}

ordered_json metres_list(Vec3 point) {
  return {report_metres(point.x), report_metres(point.y), report_metres(point.z)};
}

// Every factor of a real robot that means something to the world's engine,
// with its value, and the seed: written only for a robot that is not the
// model, so the model's runs report what they always did.
ordered_json factors_json(const WorldConfig &world) {
  ordered_json factors;
  for (const FactorKey &key : factor_keys())
    if (factor_meaningless(key, world.engine, world.torso).empty())
      factors[std::string(key.path)] = world.factors.*key.field;
  factors["seed"] = world.seed;
  return factors;
}

std::vector<int> hits_per_target(const RunRecord &run) {
  std::vector<int> hits(run.world.targets.size(), 0);
  for (const Reach &reach : run.reaches)
    if (reach.outcome() == ReachOutcome::on_target)
      ++hits[static_cast<std::size_t>(*reach.placement->target)];
  return hits;
}
}  // namespace

std::string describe(const ControllerEnd &end) {
  const std::string at = " at step " + std::to_string(end.step);
  switch (end.how) {
    case ControllerEnd::How::killed:
      return "the controller was killed by " + signal_name(end.code) + at;
    case ControllerEnd::How::vanished:
      return "the controller's process ended" + at +
             " without saying how (it called _exit, or was killed by SIGKILL)";
    case ControllerEnd::How::exited:
      break;
  }
  return "the controller exited with status " + std::to_string(end.code) + at +
         ", before its run was over";
}

std::string report_json(const RunRecord &run) {
  ordered_json report;
  // A file name is bytes: one that is not UTF-8 is shown with U+FFFD for each
  // stray byte, and its bytes follow in hexadecimal.
  report["world"] = valid_utf8(run.world.file);
  if (!is_utf8(run.world.file)) report["world_hex"] = hex_bytes(run.world.file);
  report["engine"] = engine_name(run.world.engine);
  if (run.world.engine == EngineKind::physics) report["torso"] = torso_name(run.world.torso);
  report["camera"] = {{"width", run.world.camera_width}, {"height", run.world.camera_height}};
  if (!robot_is_the_model(run.world)) report["factors"] = factors_json(run.world);
  report["time_step_ms"] = run.world.time_step_ms;
  report["steps"] = run.steps_done;
  report["interrupted"] = run.interrupted;
  if (run.controller_end) {
    const ControllerEnd &end = *run.controller_end;
    ordered_json controller;
    controller["ended"] = end.how == ControllerEnd::How::exited   ? "exited"
                          : end.how == ControllerEnd::How::killed ? "killed"
                                                                  : "unknown";
    controller["exit_status"] =
        end.how == ControllerEnd::How::exited ? ordered_json(end.code) : ordered_json(nullptr);
    controller["signal"] = end.how == ControllerEnd::How::killed
                               ? ordered_json(signal_name(end.code))
                               : ordered_json(nullptr);
    controller["step"] = end.step;
    controller["reason"] = describe(end);
    report["controller"] = std::move(controller);
  }

  ordered_json placements = ordered_json::array();
  for (const Placement &p : run.placements)
    placements.push_back({{"step", p.step},
                          {"leg", p.leg},
                          {"foot", metres_list(p.foot)},
                          {"target", optional_index(p.target)},
                          {"distance", optional_metres(p.distance)}});
  report["placements"] = std::move(placements);

  ordered_json reaches = ordered_json::array();
  for (const Reach &r : run.reaches) {
    const std::optional<Placement> &p = r.placement;
    // What the stand-in's own search found in the image the reach was
    // decided on: nothing without a window of the target's level.
    const bool window = r.decided_on && r.decided_on->window;
    ordered_json window_ground = nullptr;
    if (window && r.decided_on->window_ground)
      window_ground = {report_metres(r.decided_on->window_ground->x),
                       report_metres(r.decided_on->window_ground->y)};
    reaches.push_back(
        {{"leg", r.leg},
         {"start_step", r.start_step},
         {"end_step", r.end_step ? ordered_json(*r.end_step) : ordered_json(nullptr)},
         {"outcome", outcome_name(r.outcome())},
         {"step", p ? ordered_json(p->step) : ordered_json(nullptr)},
         {"foot", p ? metres_list(p->foot) : ordered_json(nullptr)},
         {"aimed", metres_list(r.aimed)},
         {"error", optional_metres(r.error())},
         {"target", p ? optional_index(p->target) : ordered_json(nullptr)},
         {"distance", p ? optional_metres(p->distance) : ordered_json(nullptr)},
         {"search_step", window ? ordered_json(r.decided_on->step) : ordered_json(nullptr)},
         {"window",
          window ? ordered_json({{"x", r.decided_on->window->x}, {"y", r.decided_on->window->y}})
                 : ordered_json(nullptr)},
         {"window_ground", std::move(window_ground)},
         {"torso_tilt", report_radians(r.torso_tilt)},
         {"torso_shift", optional_metres(r.torso_shift)},
         {"foot_force", rounded_or_null(r.foot_force, report_newtons)}});
    // A reach the run's end cut off says where its foot was then.
    if (r.outcome() == ReachOutcome::unfinished) {
      reaches.back()["end_foot"] = metres_list(r.end_foot);
      reaches.back()["end_on_ground"] = r.end_on_ground;
    }
  }
  report["reaches"] = std::move(reaches);

  ordered_json targets = ordered_json::array();
  const std::vector<int> hits = hits_per_target(run);
  for (std::size_t i = 0; i < run.world.targets.size(); ++i) {
    const Target &t = run.world.targets[i];
    ordered_json seen = nullptr;
    if (i < run.sightings.size() && run.sightings[i])
      seen = {{"step", run.sightings[i]->step}, {"side", view_name(run.sightings[i]->side)}};
    targets.push_back({{"x", report_metres(t.x)},
                       {"y", report_metres(t.y)},
                       {"radius", report_metres(t.radius)},
                       {"seen", std::move(seen)},
                       {"reaches", hits[i]}});
  }
  report["targets"] = std::move(targets);
  // Only a run where a person moved a disc has them: a run nobody touched
  // reads as any other.
  if (!run.target_moves.empty()) {
    ordered_json moves = ordered_json::array();
    for (const TargetMove &move : run.target_moves)
      moves.push_back({{"step", move.step},
                       {"target", move.target},
                       {"from", {report_metres(move.from.x), report_metres(move.from.y)}},
                       {"to", {report_metres(move.to.x), report_metres(move.to.y)}}});
    report["target_moves"] = std::move(moves);
  }
  return layout(report);
}

void ReportRecorder::on_end(const RunRecord &run) {
  outputs_.write("report.json", report_json(run));
}

std::string summary_line(const RunRecord &run) {
  int counts[4] = {0, 0, 0, 0};  // per outcome
  double total = 0.0;
  for (const Reach &reach : run.reaches) {
    ++counts[static_cast<int>(reach.outcome())];
    if (reach.outcome() == ReachOutcome::on_target) total += *reach.placement->distance;
  }
  const std::size_t count = run.reaches.size();
  const int on_target = counts[static_cast<int>(ReachOutcome::on_target)];
  std::string line = "sim: " + std::to_string(run.steps_done) + " steps, " + std::to_string(count) +
                     (count == 1 ? " reach" : " reaches");
  if (count > 0)
    line += ": " + std::to_string(on_target) + " on target, " +
            std::to_string(counts[static_cast<int>(ReachOutcome::off_target)]) + " off target, " +
            std::to_string(counts[static_cast<int>(ReachOutcome::no_contact)]) +
            " never touched the ground";
  // Said only when there is one, so that the line of a run that ended
  // between reaches reads as it always did.
  if (const int unfinished = counts[static_cast<int>(ReachOutcome::unfinished)]; unfinished > 0)
    line += ", " + std::to_string(unfinished) + " still under way when the run ended";
  if (on_target > 0) {
    char mean[64];
    std::snprintf(mean, sizeof mean, "; %.1f mm from the centre on average",
                  1000.0 * total / on_target);
    line += mean;
  }
  // A few are named, the rest counted: a world of many discs keeps a line.
  constexpr std::size_t named_targets = 5;
  const std::vector<int> hits = hits_per_target(run);
  std::string missed;
  std::size_t count_missed = 0;
  for (std::size_t i = 0; i < hits.size(); ++i)
    if (hits[i] == 0 && ++count_missed <= named_targets)
      missed += (missed.empty() ? "" : ", ") + std::to_string(i);
  if (count_missed > named_targets)
    missed += " and " + std::to_string(count_missed - named_targets) + " more";
  if (count_missed > 0)
    line += (count_missed == 1 ? "; target " : "; targets ") + missed + " never reached";
  if (run.controller_end) line += "; " + describe(*run.controller_end);
  return line;
}

}  // namespace sim
