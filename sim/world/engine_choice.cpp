#include "sim/world/engine_choice.h"

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/engines/physics/physics_engine.h"

namespace sim {

ChosenEngine make_engine(const WorldConfig &world) {
  if (world.engine == EngineKind::kinematic)
    return {std::make_unique<KinematicEngine>(world), nullptr, ""};
  auto physics = std::make_unique<PhysicsEngine>(world);
  ThirdPersonView &view = physics->overview();
  std::string xml = physics->model_xml();
  return {std::move(physics), &view, std::move(xml)};
}

}  // namespace sim
