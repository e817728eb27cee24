#include "tests/support/worlds.h"

#include <utility>

#include "sim/core/joints.h"

namespace support {

std::vector<sim::Target> default_discs() {
  return {{0.038, -0.05, 0.006, target_red}, {0.038, 0.05, 0.006, target_red}};
}

sim::WorldConfig kinematic_world(std::vector<sim::Target> targets) {
  sim::WorldConfig world;
  world.engine = sim::EngineKind::kinematic;
  world.steps = 100'000;
  world.targets = std::move(targets);
  return world;
}

void command_leg(sim::SetPoints &set_points, int leg, const LegPosture &posture) {
  for (int joint = 0; joint < 3; ++joint)
    set_points.set(sim::leg_joint(leg, joint), posture[static_cast<std::size_t>(joint)]);
}

sim::WorldConfig with_joint_speed(sim::WorldConfig world, double speed) {
  world.joint_speed = speed;
  return world;
}

}  // namespace support
