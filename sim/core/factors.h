// The world keys for what a real robot varies: each key's path in a world
// file, its range and unit, the model's value, and the worlds it means
// something to. The world file, the run's report and the reach map's --vary
// all read them from here, so a range is stated once.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "sim/core/world_config.h"

namespace sim {

// Which worlds a factor means something to.
enum class FactorScope {
  free_robot,      // the physics engine's robot standing on its feet
  physics_camera,  // the physics engine's camera, which has a mount and a lens
  any_camera,      // either engine's camera
};

struct FactorKey {
  std::string_view path;  // as a world file and --vary spell it: "robot.friction"
  std::string_view unit;  // for people: "" (a plain number), "ms", "kg", "deg", "levels"
  std::string_view what;  // what it is, for messages and pictures
  double low;             // the range a world may give, both ends included
  double high;
  double Factors::*field;  // where a world's value is kept
  FactorScope scope;

  std::string_view table() const { return path.substr(0, path.find('.')); }
  std::string_view name() const { return path.substr(path.find('.') + 1); }
  double model() const { return Factors{}.*field; }
};

// Every factor, in the order reports and pictures list them.
std::span<const FactorKey> factor_keys();
// The factor a path names, or null.
const FactorKey *factor_key(std::string_view path);

// Why a factor means nothing to a world of this engine and torso, or "" when
// it means something there.
std::string factor_meaningless(const FactorKey &key, EngineKind engine, Torso torso);

// "0.05 to 2", "0 to 1000 ms": the range as messages give it.
std::string factor_range_text(const FactorKey &key);

// Whether the world's robot is the model: every factor at the model's value
// and the seed 0. Such a world writes what it wrote before factors existed.
bool robot_is_the_model(const WorldConfig &world);

// A number in the shortest text that reads back as the same double, the
// same in every locale ("0.1", "1e-07", "-2").
std::string exact_number(double value);

}  // namespace sim
