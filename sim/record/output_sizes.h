// What a run's outputs will take on disk, projected from its world before the
// first step, so that a run that cannot fit says so before it starts rather
// than hours later.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/core/world_config.h"

namespace sim {

struct ProjectedOutput {
  std::string name;        // "state.csv", or "pictures" for the PNG files together
  std::string switch_off;  // the world-file setting that turns it off; empty for report.json
  std::uint64_t bytes = 0;
};

// Each output the world writes, most first, sized from the steps asked for
// at the rates this stand-in's outputs have (the trace's, at the shipped
// controller's rate of calls). A run that ends early writes less.
std::vector<ProjectedOutput> projected_outputs(const WorldConfig &world);

// The fewest bytes a run's outputs need: report.json of a run without a
// reach. Below this, nothing at all could be written.
std::uint64_t least_output_bytes(const WorldConfig &world);

// A size for people: "1.5 kB", "980 kB", "250 MB", "4.8 GB", "15 GB".
std::string size_text(std::uint64_t bytes);

}  // namespace sim
