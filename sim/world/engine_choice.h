// The engine a world chose, made: the run loop knows it only as an Engine,
// and the video's camera, if the engine has one, as a ThirdPersonView.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "sim/core/engine.h"
#include "sim/core/live_window.h"
#include "sim/core/third_person_view.h"
#include "sim/core/world_config.h"

namespace sim {

struct ChosenEngine {
  std::unique_ptr<Engine> engine;
  ThirdPersonView *view = nullptr;  // the engine's, or null when it cannot film
  std::string model_xml;            // the engine's model as a file, or empty when it has none
  // Opens a live window on the run; empty when the engine has none to offer.
  std::function<std::unique_ptr<LiveWindow>()> open_window;
};

// Throws RunError when the engine cannot be made (for the physics engine: no
// working offscreen rendering).
ChosenEngine make_engine(const WorldConfig &world);

// Why a live window cannot be opened on this world's run here (its engine
// has none, or there is no display); nothing when it can.
std::optional<std::string> window_unavailable(const WorldConfig &world);

// A window on a finished physics run's model (its world.xml text), posed by
// the caller. Throws RunError when the model cannot be read or no window can
// be opened.
std::unique_ptr<ReplayView> open_replay(const std::string &model_xml);

}  // namespace sim
