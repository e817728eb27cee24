#include "sim/engine.h"

#include "sim/kinematic/engine.h"

namespace sim {

std::unique_ptr<Engine> make_engine(const WorldConfig &world) {
  switch (world.engine) {
    case EngineKind::kinematic:
      return std::make_unique<KinematicEngine>(world);
    default:
      throw RunError("the physics engine is not built yet");
  }
}

}  // namespace sim
