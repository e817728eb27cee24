#include "sim/world/engine_choice.h"

#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/engines/physics/physics_engine.h"
#include "sim/engines/physics/replay_model.h"
#include "sim/engines/physics/window.h"

namespace sim {

ChosenEngine make_engine(const WorldConfig &world) {
  if (world.engine == EngineKind::kinematic)
    return {std::make_unique<KinematicEngine>(world), nullptr, "", {}};
  auto physics = std::make_unique<PhysicsEngine>(world);
  ThirdPersonView &view = physics->overview();
  std::string xml = physics->model_xml();
  const PhysicsEngine *engine = physics.get();
  return {std::move(physics), &view, std::move(xml), [engine] { return engine->open_window(); }};
}

std::optional<std::string> window_unavailable(const WorldConfig &world) {
  if (world.engine == EngineKind::kinematic)
    return std::string(
        "the window shows the physics engine's robot; this world runs on the "
        "kinematic engine, which draws none");
  return window_unavailable();
}

std::unique_ptr<ReplayView> open_replay(const std::string &model_xml) {
  return open_replay_view(model_xml);
}

}  // namespace sim
