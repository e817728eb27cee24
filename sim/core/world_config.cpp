#include "sim/core/world_config.h"

namespace sim {

const char *engine_name(EngineKind kind) {
  return kind == EngineKind::physics ? "physics" : "kinematic";
}

std::optional<EngineKind> engine_named(std::string_view name) {
  for (const EngineKind kind : {EngineKind::physics, EngineKind::kinematic})
    if (name == engine_name(kind)) return kind;
  return std::nullopt;
}

const char *torso_name(Torso torso) { return torso == Torso::free ? "free" : "fixed"; }

std::optional<Torso> torso_named(std::string_view name) {
  for (const Torso torso : {Torso::free, Torso::fixed})
    if (name == torso_name(torso)) return torso;
  return std::nullopt;
}

}  // namespace sim
