#include "sim/engine.h"

#include "sim/kinematic/engine.h"
#include "sim/physics/engine.h"

namespace sim {

std::unique_ptr<Engine> make_engine(const WorldConfig &world) {
  switch (world.engine) {
    case EngineKind::kinematic:
      return std::make_unique<KinematicEngine>(world);
    default:
      return std::make_unique<PhysicsEngine>(world);
  }
}

}  // namespace sim
