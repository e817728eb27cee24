#include "sim/observe/reaches.h"

#include <algorithm>
#include <cmath>

#include "sim/core/joints.h"
#include "sim/core/legs.h"

namespace sim {

namespace {
std::size_t slot(int leg) { return leg == 0 ? 0u : 1u; }

double distance(Vec3 a, Vec3 b) { return std::hypot(a.x - b.x, a.y - b.y, a.z - b.z); }
}  // namespace

const char *outcome_name(ReachOutcome outcome) {
  switch (outcome) {
    case ReachOutcome::on_target:
      return "on_target";
    case ReachOutcome::off_target:
      return "off_target";
    case ReachOutcome::unfinished:
      return "unfinished";
    default:
      return "no_contact";
  }
}

const char *leg_state_name(LegState state) {
  switch (state) {
    case LegState::reaching:
      return "reaching";
    case LegState::placed:
      return "placed";
    default:
      return "at rest";
  }
}

ReachOutcome Reach::outcome() const {
  // A foot still out may yet come down elsewhere, or leave the disc it rests
  // on: only a reach that is over has an outcome.
  if (!end_step) return ReachOutcome::unfinished;
  if (!placement) return ReachOutcome::no_contact;
  return placement->target ? ReachOutcome::on_target : ReachOutcome::off_target;
}

std::optional<double> Reach::error() const {
  if (!placement) return std::nullopt;
  return std::hypot(placement->foot.x - aimed.x, placement->foot.y - aimed.y);
}

std::optional<Vec3> commanded_foot(int leg, const SetPoints &set_points) {
  for (int joint = 0; joint < 3; ++joint)
    if (!set_points.given(leg_joint(leg, joint))) return std::nullopt;
  return foot_in_body(leg, set_points.value(leg_joint(leg, 0)), set_points.value(leg_joint(leg, 1)),
                      set_points.value(leg_joint(leg, 2)));
}

std::vector<const Reach *> ReachWatch::before_step(std::int64_t step, const SetPoints &set_points,
                                                   const std::optional<Fetch> &last_fetch) {
  std::vector<const Reach *> began;
  for (const int leg : reaching_legs) {
    Leg &state = legs_[slot(leg)];
    const std::optional<Vec3> commanded = commanded_foot(leg, set_points);
    // A foot never commanded, or one whose set-points are not numbers, is
    // nowhere: it neither starts nor holds a reach.
    const bool away = commanded && distance(*commanded, rest_point(leg)) > reach_threshold;
    if (away) {
      if (!state.out) {
        state.out = Reach{};
        state.out->leg = leg;
        state.out->start_step = step;
        state.out->aimed = *commanded;
        state.out->decided_on = last_fetch;
        state.out->torso_tilt = torso_.tilt();
        state.torso_at_start = torso_.position;
        began.push_back(&*state.out);
      }
      if (!state.out->placement) state.out->aimed = *commanded;
      state.commanded = *commanded;
      continue;
    }
    if (!state.out) continue;
    state.out->end_step = step;
    finished_.push_back(*state.out);
    state.out.reset();
  }
  return began;
}

void ReachWatch::after_step(const Engine &engine) {
  torso_ = engine.torso();
  for (const int leg : reaching_legs) {
    std::optional<Reach> &out = legs_[slot(leg)].out;
    if (!out) continue;
    out->torso_tilt = std::max(out->torso_tilt, torso_.tilt());
    const Foot foot = engine.foot(leg);
    out->end_foot = foot.position;
    out->end_on_ground = foot.on_ground;
    if (const std::optional<double> force = foot.force)
      out->foot_force = std::max(out->foot_force.value_or(0.0), *force);
  }
}

void ReachWatch::placed(const Placement &placement) {
  Leg &state = legs_[slot(placement.leg)];
  if (!state.out) return;
  state.out->placement = placement;
  state.out->aimed = state.commanded;
  state.out->torso_shift = distance(torso_.position, state.torso_at_start);
}

std::vector<Reach> ReachWatch::reaches() const {
  std::vector<Reach> all = finished_;
  for (const Leg &state : legs_)
    if (state.out) all.push_back(*state.out);
  std::sort(all.begin(), all.end(), [](const Reach &a, const Reach &b) {
    return a.start_step != b.start_step ? a.start_step < b.start_step : a.leg < b.leg;
  });
  return all;
}

const Reach *ReachWatch::out(int leg) const {
  const std::optional<Reach> &out = legs_[slot(leg)].out;
  return out ? &*out : nullptr;
}

LegState ReachWatch::state(int leg) const {
  const std::optional<Reach> &out = legs_[slot(leg)].out;
  if (!out) return LegState::at_rest;
  return out->placement ? LegState::placed : LegState::reaching;
}

}  // namespace sim
