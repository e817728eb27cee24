// The recorders' fixture: an output folder of a test's own, whose lost
// outputs are collected rather than reported, and the record of a run built
// by hand, to feed recorders events without a world.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/record/outputs.h"
#include "sim/record/recorder.h"

namespace support {

struct Outputs {
  // A fresh folder named `name`, held as a run holds its output folder.
  explicit Outputs(std::string_view name);
  // The text of an output written there; throws sim::FileError if there is none.
  std::string read(const std::string &file) const;
  // The names of every file in the folder, partial files and the lock included, sorted.
  std::vector<std::string> files() const;

  std::filesystem::path path;
  sim::OutputFolder folder;
  sim::OutputSink sink;
  std::vector<std::string> lost;  // "name: reason" of each output reported lost
};

// What a run did, owned, for the RunRecord that refers to it.
struct RunData {
  sim::WorldConfig world;
  std::vector<sim::Placement> placements;
  std::vector<sim::Reach> reaches;
  std::vector<std::optional<sim::Sighting>> sightings;
  std::vector<sim::Vec2> torso_footprint;
  sim::RunRecord record(std::int64_t steps_done = 0, bool interrupted = false) const {
    return {world, steps_done, interrupted, placements, reaches, sightings, torso_footprint};
  }
};

}  // namespace support
