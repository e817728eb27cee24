// Reaches told from the set-points alone: an excursion of a front leg's
// commanded foot more than 5 mm from its rest point and back, with the
// outcome of where (and whether) its foot came to rest meanwhile. Watched on
// the kinematic engine, stepped by hand.
#include "sim/observe/reaches.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <optional>
#include <vector>

#include "sim/core/joints.h"
#include "sim/core/legs.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "sim/observe/placements.h"
#include "tests/support/worlds.h"

namespace {

using support::LegPosture;
const LegPosture &rest = support::rest_posture;
const LegPosture &left_disc = support::left_disc_posture;
// Straight out ahead and lifted: the foot never reaches the ground.
constexpr LegPosture in_the_air{0.8f, 0.0f, 0.385f};

struct Rig {
  explicit Rig(std::vector<sim::Target> discs = {})
      : targets(std::move(discs)), engine(support::kinematic_world(targets)) {}
  void command(int leg, const LegPosture &posture) {
    support::command_leg(set_points, leg, posture);
  }
  // Steps as the run loop does: reaches first, then the engine, the reaching
  // feet, then rests.
  void run(int steps) {
    for (int i = 0; i < steps; ++i) {
      for (const sim::Reach *r : watch.before_step(step, set_points, fetch)) began.push_back(*r);
      engine.advance(set_points);
      ++step;
      watch.after_step(engine);
      const std::size_t before = rests.placements().size();
      rests.after_step(step, engine, targets);
      for (std::size_t k = before; k < rests.placements().size(); ++k)
        watch.placed(rests.placements()[k]);
    }
  }

  std::vector<sim::Target> targets;
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  sim::PlacementWatch rests;
  sim::ReachWatch watch;
  std::optional<sim::Fetch> fetch;
  std::vector<sim::Reach> began;
  std::int64_t step = 0;
};

TEST(Reaches, AnExcursionThatComesToRestOnADiscIsOnTargetAimedWhereItWasSent) {
  Rig rig({{0.038, 0.05, 0.006, {214, 30, 30}}});
  rig.command(0, rest);
  rig.run(30);
  EXPECT_TRUE(rig.began.empty());  // resting is no reach
  rig.fetch = sim::Fetch{29, sim::View::left, sim::Window{85, 133}, sim::Vec2{0.037, 0.047}};
  rig.command(0, left_disc);
  rig.run(1);
  ASSERT_EQ(rig.began.size(), 1u);
  EXPECT_EQ(rig.began[0].start_step, 30);
  EXPECT_EQ(rig.began[0].decided_on->step, 29);
  EXPECT_EQ(rig.watch.state(0), sim::LegState::reaching);
  rig.run(25);
  EXPECT_EQ(rig.watch.state(0), sim::LegState::placed);
  EXPECT_EQ(rig.watch.finished_count(), 0);
  rig.command(0, rest);
  rig.run(10);
  ASSERT_EQ(rig.watch.finished().size(), 1u);
  const sim::Reach &reach = rig.watch.finished()[0];
  EXPECT_EQ(reach.leg, 0);
  EXPECT_EQ(reach.end_step, 56);
  EXPECT_EQ(reach.outcome(), sim::ReachOutcome::on_target);
  const sim::Vec3 sent = sim::foot_in_body(0, left_disc[0], left_disc[1], left_disc[2]);
  EXPECT_NEAR(reach.aimed.x, sent.x, 1e-12);
  EXPECT_NEAR(reach.aimed.y, sent.y, 1e-12);
  EXPECT_NEAR(reach.placement->foot.x, 0.037, 5e-4);  // the disc at (0.038, 0.05)
  EXPECT_NEAR(*reach.error(), 0.0, 1e-9);
  EXPECT_EQ(rig.watch.state(0), sim::LegState::at_rest);
}

TEST(Reaches, OffTargetAndNeverTouchingTheGroundAreOutcomesToo) {
  Rig rig({{-0.2, 0.0, 0.006, {214, 30, 30}}});
  rig.command(0, rest);
  rig.command(2, rest);
  rig.run(20);
  rig.command(0, left_disc);
  rig.command(2, in_the_air);
  rig.run(40);
  EXPECT_EQ(rig.watch.state(0), sim::LegState::placed);
  EXPECT_EQ(rig.watch.state(2), sim::LegState::reaching);
  rig.command(2, rest);
  rig.run(10);
  ASSERT_EQ(rig.watch.finished().size(), 1u);
  const sim::Reach &hanging = rig.watch.finished()[0];
  EXPECT_EQ(hanging.leg, 2);
  EXPECT_EQ(hanging.outcome(), sim::ReachOutcome::no_contact);
  EXPECT_FALSE(hanging.error());
  // Where the leg was sent: in the air, well above the ground.
  EXPECT_GT(hanging.aimed.z, sim::ground_z + 0.01);
  // The left leg is still out when the run ends: it counts, in start order,
  // with no outcome yet, though its foot rests off the disc.
  const std::vector<sim::Reach> all = rig.watch.reaches();
  ASSERT_EQ(all.size(), 2u);
  EXPECT_EQ(all[0].leg, 0);
  EXPECT_FALSE(all[0].end_step);
  EXPECT_EQ(all[0].outcome(), sim::ReachOutcome::unfinished);
  ASSERT_TRUE(all[0].placement);
  EXPECT_FALSE(all[0].placement->target);
}

// A run that ends mid-reach: the reach is unfinished, never "no contact",
// and tells where its foot was and whether it was down.
TEST(Reaches, AReachTheRunCutsOffIsUnfinishedWithWhereItsFootWas) {
  Rig rig({{0.038, 0.05, 0.006, {214, 30, 30}}});
  rig.command(0, rest);
  rig.command(2, rest);
  rig.run(20);
  rig.command(0, left_disc);
  rig.command(2, in_the_air);
  // Long enough for the left foot to come down on the disc, too short for
  // it to be still for a placement.
  rig.run(6);
  const std::vector<sim::Reach> all = rig.watch.reaches();
  ASSERT_EQ(all.size(), 2u);
  for (const sim::Reach &r : all) EXPECT_EQ(r.outcome(), sim::ReachOutcome::unfinished);
  const sim::Reach &down = all[0].leg == 0 ? all[0] : all[1];
  const sim::Reach &up = all[0].leg == 0 ? all[1] : all[0];
  EXPECT_FALSE(down.placement);
  EXPECT_TRUE(down.end_on_ground);
  const sim::Vec3 foot = rig.engine.foot(0).position;
  EXPECT_EQ(down.end_foot.x, foot.x);
  EXPECT_EQ(down.end_foot.y, foot.y);
  EXPECT_NEAR(std::hypot(down.end_foot.x - 0.038, down.end_foot.y - 0.05), 0.0, 0.006);
  EXPECT_FALSE(up.end_on_ground);
  EXPECT_GT(up.end_foot.z, sim::ground_z + 0.01);
}

TEST(Reaches, SmallMovesAndLegsNeverFullyCommandedAreNoReaches) {
  Rig rig;
  // Only the knee commanded: the foot is nowhere yet.
  rig.set_points.set(sim::leg_joint(0, 2), 0.5);
  rig.run(5);
  rig.command(0, rest);
  rig.run(20);
  // 4 mm from the rest point: the leg shuffles, it does not reach.
  LegPosture nudged = rest;
  nudged[1] = static_cast<float>(std::asin(0.004 / (sim::upper_segment + sim::lower_segment)));
  const sim::Vec3 foot = sim::foot_in_body(0, nudged[0], nudged[1], nudged[2]);
  ASSERT_LT(std::hypot(foot.x, foot.y - sim::hip_y, foot.z - sim::ground_z), sim::reach_threshold);
  rig.command(0, nudged);
  rig.run(20);
  EXPECT_TRUE(rig.watch.reaches().empty());
  EXPECT_EQ(rig.watch.state(0), sim::LegState::at_rest);
}

}  // namespace
