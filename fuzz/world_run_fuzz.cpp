// A whole run of the stand-in from arbitrary world text: parsed, then run for
// a few hundred steps on the kinematic engine with every output written to a
// temporary folder, the controller's rhythm played by a script (head turns,
// a reach, its console lines). Whatever the world, the run ends with a
// report that parses, a trace of whole lines, no half-written files, and
// no crash or undefined behaviour on the way (the top view, the camera
// frames and the state log included).
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sim/core/errors.h"
#include "sim/system/files.h"
#include "sim/world/world.h"
#include "sim/world/world_file.h"

namespace {
namespace fs = std::filesystem;

constexpr std::int64_t longest_run = 300;  // steps

const fs::path &output_folder() {
  static const fs::path folder =
      fs::temp_directory_path() / ("reacher_world_run_fuzz_" + std::to_string(::getpid()));
  return folder;
}

// What the controller does in one cycle, as library calls.
void play_a_cycle(sim::World &world, std::int64_t cycle) {
  constexpr std::array<std::uint8_t, 3> left_leg{2, 3, 4};
  constexpr std::uint8_t pan = 15, tilt = 14, second_tilt = 16, camera = 17;
  const float side = cycle % 2 == 0 ? 1.0f : -1.0f;
  world.console_print("MODE INIT");
  for (int round = 0; round < 7 && world.step(1); ++round) {
    world.set_position(left_leg[2], 1.476161f);
    world.set_position(left_leg[1], 0.0f);
    world.set_position(left_leg[0], -0.76679f);
    world.set_position(pan, 0.0f);
  }
  for (int round = 0; round < 7 && world.step(1); ++round) {
    world.set_position(pan, 0.4f * side);
    world.set_position(tilt, side > 0 ? -1.24f : -8.35f);
    world.set_position(second_tilt, side > 0 ? -0.26f : -0.2f);
  }
  world.camera_image(camera);
  world.console_print(side > 0 ? "red left = 1\n" : "red right = 1\n");
  world.console_print("nb_red = 1, ad*ag = 49\n");
  for (int round = 0; round < 7 && world.step(1); ++round) {
    world.set_position(left_leg[2], 1.2720519f);
    world.set_position(left_leg[1], -0.119698115f);
    world.set_position(left_leg[0], -0.3517099f);
  }
  for (int round = 0; round < 20 && world.step(1); ++round) {
  }
}

void check_outputs(const fs::path &folder) {
  for (const auto &entry : fs::directory_iterator(folder))
    fuzz::check(!entry.path().filename().string().ends_with(".partial"),
                "no half-written file is left");
  const nlohmann::json report =
      nlohmann::json::parse(sim::read_file((folder / "report.json").string()), nullptr, false);
  fuzz::check(!report.is_discarded() && report.contains("reaches"), "report.json parses");
  const std::string trace =
      fs::exists(folder / "trace.jsonl") ? sim::read_file((folder / "trace.jsonl").string()) : "";
  fuzz::check(trace.empty() || trace.back() == '\n', "the trace ends with a whole line");
  fuzz::check(trace.find("\"op\":\"end\"") != std::string::npos, "the trace says how it ended");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  sim::WorldConfig config;
  try {
    config = sim::parse_world(text, "fuzz.toml");
  } catch (const sim::WorldFileError &) {
    return 0;  // the loader's own target checks its errors
  }
  config.engine = sim::EngineKind::kinematic;
  config.write_video = false;
  config.steps = std::min(config.steps, longest_run);
  config.joint_speed = std::max(config.joint_speed, 1e-6);
  const fs::path &folder = output_folder();
  try {
    sim::World world(config, folder.string());
    for (std::int64_t cycle = 0; !world.finished(); ++cycle) play_a_cycle(world, cycle);
  } catch (const sim::RunError &error) {
    fuzz::check(error.what()[0] != '\0', "an error says what went wrong");
    return 0;
  }
  check_outputs(folder);
  return 0;
}
