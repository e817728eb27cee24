// The stand-in's world-file loader on arbitrary text: a usable world within
// the loader's own bounds, or a WorldFileError that names the file, a key and
// a reason. Any other exception escapes and counts as a crash.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "sim/world/world_file.h"

namespace {
const std::string file_name = "fuzz.toml";

void check_world(const sim::WorldConfig &world) {
  fuzz::check(world.file == file_name, "a world remembers its file");
  fuzz::check(world.steps >= 1 && world.steps <= 100'000'000, "steps within bounds");
  fuzz::check(world.run_calls >= 0 && world.run_calls <= 100'000'000, "run_calls within bounds");
  fuzz::check(world.time_step_ms > 0.0 && world.time_step_ms <= 1000.0,
              "time_step_ms above 0, at most 1000");
  fuzz::check(std::isfinite(world.joint_speed) && world.joint_speed > 0.0,
              "joint_speed finite and positive");
  fuzz::check(world.camera_width >= 1 && world.camera_width <= 1024 && world.camera_height >= 1 &&
                  world.camera_height <= 1024,
              "camera sizes within 1..1024");
  fuzz::check(world.engine != sim::EngineKind::physics || world.targets.size() <= 1000,
              "at most 1000 discs on the physics engine");
  for (const sim::Target &target : world.targets)
    fuzz::check(std::isfinite(target.x) && std::isfinite(target.y) &&
                    std::isfinite(target.radius) && target.radius > 0.0,
                "targets finite, with a positive radius");
  for (const sim::Block &block : world.blocks)
    fuzz::check(block.x >= 0 && block.y >= 0 && block.x <= 1024 && block.y <= 1024 &&
                    block.width >= 1 && block.height >= 1 && block.width <= 1024 &&
                    block.height <= 1024,
                "blocks within the image's coordinate range");
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char *>(data), size);
  try {
    check_world(sim::parse_world(text, file_name));
  } catch (const sim::WorldFileError &error) {
    fuzz::check(error.file == file_name, "an error names the file");
    fuzz::check(!error.key.empty(), "an error names a key");
    fuzz::check(!error.reason.empty(), "an error gives a reason");
  }
  return 0;
}
