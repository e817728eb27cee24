#include "sim/record/output_sizes.h"

#include <algorithm>
#include <cstdio>

namespace sim {

namespace {
// Bytes per step, measured on the shipped worlds and long runs: a state row
// holds every joint's set-point and position, the feet and the torso; the
// trace a robot_step and a step-function line or so; report.json a share of
// the reaches and placements a run makes.
constexpr std::uint64_t state_bytes_kinematic = 400;
constexpr std::uint64_t state_bytes_physics = 700;
constexpr std::uint64_t trace_bytes = 100;
constexpr std::uint64_t report_bytes = 5;
constexpr std::uint64_t report_base = 1'500;
constexpr std::uint64_t report_per_target = 120;
// The video: a frame each 64 ms of simulated time, of about 2.5 kB (the
// default run's 300 frames make 0.7 MB).
constexpr double video_frame_ms = 64.0;
constexpr std::uint64_t video_frame_bytes = 2'500;
// At most 60 camera frames of about 30 kB, the top view and the joint plot.
constexpr std::uint64_t picture_bytes = 60 * 30'000 + 100'000 + 200'000;
constexpr std::uint64_t model_base = 20'000;
constexpr std::uint64_t model_per_target = 150;
}  // namespace

std::uint64_t least_output_bytes(const WorldConfig &world) {
  return report_base + report_per_target * world.targets.size();
}

std::vector<ProjectedOutput> projected_outputs(const WorldConfig &world) {
  const auto steps = static_cast<std::uint64_t>(std::max<std::int64_t>(world.steps, 0));
  std::vector<ProjectedOutput> outputs;
  outputs.push_back({"report.json", "", least_output_bytes(world) + report_bytes * steps});
  if (world.write_trace)
    outputs.push_back({"trace.jsonl", "[output] trace = false", trace_bytes * steps});
  if (world.write_state)
    outputs.push_back({"state.csv", "[output] state = false",
                       steps * (world.engine == EngineKind::physics ? state_bytes_physics
                                                                    : state_bytes_kinematic)});
  if (world.engine == EngineKind::physics && world.write_video) {
    const double frames = static_cast<double>(steps) * world.time_step_ms / video_frame_ms;
    outputs.push_back({"run.mp4", "[output] video = false",
                       static_cast<std::uint64_t>(frames) * video_frame_bytes});
  }
  if (world.write_pictures)
    outputs.push_back({"pictures", "[output] pictures = false", picture_bytes});
  if (world.engine == EngineKind::physics && world.write_model)
    outputs.push_back({"world.xml", "[output] model = false",
                       model_base + model_per_target * world.targets.size()});
  std::stable_sort(
      outputs.begin(), outputs.end(),
      [](const ProjectedOutput &a, const ProjectedOutput &b) { return a.bytes > b.bytes; });
  return outputs;
}

std::string size_text(std::uint64_t bytes) {
  char text[32];
  const auto value = static_cast<double>(bytes);
  if (bytes >= 10'000'000'000)
    std::snprintf(text, sizeof text, "%.0f GB", value / 1e9);
  else if (bytes >= 1'000'000'000)
    std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
  else if (bytes >= 10'000'000)
    std::snprintf(text, sizeof text, "%.0f MB", value / 1e6);
  else if (bytes >= 1'000'000)
    std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
  else if (bytes >= 10'000)
    std::snprintf(text, sizeof text, "%.0f kB", value / 1e3);
  else if (bytes >= 1'000)
    std::snprintf(text, sizeof text, "%.1f kB", value / 1e3);
  else
    std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
  return text;
}

}  // namespace sim
