// Reaches built by hand, as the reach watch would have told them.
#pragma once

#include <cstdint>
#include <optional>

#include "sim/observe/reaches.h"

namespace support {

// A reach of front leg `leg` (0 or 2) that began at step `start`: ended at
// `end` (none: still out), its foot come to rest at `rest` (none: it never
// did), the leg sent to `aimed` (by default, where the foot came to rest).
inline sim::Reach reach_of(int leg, std::int64_t start, std::optional<std::int64_t> end,
                           std::optional<sim::Placement> rest,
                           std::optional<sim::Vec3> aimed = std::nullopt) {
  sim::Reach reach;
  reach.leg = leg;
  reach.start_step = start;
  reach.end_step = end;
  reach.placement = rest;
  reach.aimed = aimed.value_or(rest ? rest->foot : sim::Vec3{});
  return reach;
}

}  // namespace support
