// What each reach did: the window the controller's image held, the ground
// point under its centre (the point the controller aimed at), and where the
// foot came to rest.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/model/geometry.h"
#include "sim/observe/placements.h"
#include "sim/observe/target_window.h"

namespace sim {

struct Reach {
  std::int64_t search_step = 0;  // when the controller searched its image for the window
  int leg = 0;                   // 0 left, 2 right
  std::optional<Window> window;  // what the stand-in saw in that image
  std::optional<Vec2> aimed;     // the ground point under the window's centre
  Placement placement;           // where the foot came to rest
  // The foot's distance from the aimed point: how well the reach was executed.
  std::optional<double> error() const;
};

// Follows the reaches of a run. A reach runs from the controller's window
// search to its next rest posture; its placement is the last one of that
// side's leg in between, and it counts only if that foot is away from its
// rest point (a reach without a window sends the leg back to rest).
class ReachLog {
 public:
  void search(std::int64_t step, int leg, std::optional<Window> window, std::optional<Vec2> aimed);
  void placed(const Placement &placement);
  void rest_posture();
  // Every reach, the one still open included.
  std::vector<Reach> reaches() const;
  // Reaches that are over: their leg went back to rest (or a new one began).
  const std::vector<Reach> &finished() const { return closed_; }
  std::int64_t finished_count() const { return static_cast<std::int64_t>(closed_.size()); }

 private:
  std::vector<Reach> closed_;
  std::optional<Reach> open_;
  bool open_placed_ = false;
};

}  // namespace sim
