// Reaches: what each excursion of a front leg did, told from the set-points
// the controller gave and from where the foot came to rest, never from what
// the controller printed. A reach is one excursion of a front leg's
// commanded foot (the forward kinematics of its three set-points) more than
// 5 mm away from its rest point under the hip, and back again, or until the
// run ends.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/engine.h"
#include "sim/core/geometry.h"
#include "sim/observe/placements.h"
#include "sim/observe/target_window.h"

namespace sim {

// How far the commanded foot must leave its rest point for a reach.
inline constexpr double reach_threshold = 0.005;  // metres

enum class ReachOutcome {
  on_target,   // the foot came to rest on a disc
  off_target,  // it came to rest off every disc
  no_contact,  // it never came to rest on the floor during the excursion
  unfinished,  // it was still out when the run ended: no outcome yet
};
const char *outcome_name(ReachOutcome outcome);

// The image a reach was decided on: the last one the controller read before
// the reach began (or, where reads are not seen, fetched with
// camera_get_image), and what the stand-in's own search found in it.
struct Fetch {
  std::int64_t step = 0;
  View side = View::forward;          // the view it shows (fetched: the head pan's sign then)
  std::optional<Window> window;       // the window of exact target level, if the image held one
  std::optional<Vec2> window_ground;  // the ground point under that window's centre
};

struct Reach {
  int leg = 0;                           // 0 left, 2 right
  std::int64_t start_step = 0;           // steps done when the commanded foot left its rest point
  std::optional<std::int64_t> end_step;  // when it came back; none while it is still out
  std::optional<Placement> placement;    // where the foot last came to rest meanwhile
  // The commanded foot (body frame) when the foot came to rest; without a
  // rest, where the leg was held last.
  Vec3 aimed;
  std::optional<Fetch> decided_on;
  // What the body went through meanwhile: the torso's largest tilt (rad),
  // how far the torso moved from the reach's start to the foot's landing
  // (m; none without a landing), and the largest push of the floor on the
  // reaching foot (N; none where the engine has no forces).
  double torso_tilt = 0.0;
  std::optional<double> torso_shift;
  std::optional<double> foot_force;
  // The reaching foot after the last step taken while the reach was out
  // (world frame), and whether it touched the floor then: for a reach the
  // run's end cut off, where it was.
  Vec3 end_foot;
  bool end_on_ground = false;

  ReachOutcome outcome() const;
  // The foot's distance from the aimed point, across the ground: how well the
  // reach was executed. None without a rest.
  std::optional<double> error() const;
};

// What a front leg is doing: resting (no reach), reaching, or reaching with
// its foot come to rest.
enum class LegState { at_rest, reaching, placed };
const char *leg_state_name(LegState state);

// Follows the two reaching legs' commanded feet step by step.
class ReachWatch {
 public:
  // The set-points in force for the step about to be taken; returns the
  // reaches that began with it. `last_fetch` is the controller's latest
  // image, if it fetched one.
  std::vector<const Reach *> before_step(std::int64_t step, const SetPoints &set_points,
                                         const std::optional<Fetch> &last_fetch);
  // The robot after the step just taken: the torso and the reaching feet.
  void after_step(const Engine &engine);
  // A placement the step just taken produced.
  void placed(const Placement &placement);
  // Reaches that are over: their commanded foot came back to rest.
  const std::vector<Reach> &finished() const { return finished_; }
  std::int64_t finished_count() const { return static_cast<std::int64_t>(finished_.size()); }
  // Every reach in the order they began, those still out included.
  std::vector<Reach> reaches() const;
  LegState state(int leg) const;
  // The reach front leg 0 or 2 is out on, if any.
  const Reach *out(int leg) const;

 private:
  struct Leg {
    std::optional<Reach> out;  // the reach under way
    Vec3 commanded;            // the commanded foot at the last step
    Vec3 torso_at_start;       // where the torso was when it began
  };
  TorsoPose torso_;          // after the last step
  std::array<Leg, 2> legs_;  // legs 0 and 2
  std::vector<Reach> finished_;
};

// The commanded foot of front leg 0 or 2 (body frame): the forward
// kinematics of its three set-points; none until all three were given.
std::optional<Vec3> commanded_foot(int leg, const SetPoints &set_points);

}  // namespace sim
