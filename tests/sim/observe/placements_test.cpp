// Placements: a front foot that came to rest on the ground, once per rest,
// and the first disc holding it. Watched on the kinematic engine, stepped by
// hand.
#include "sim/observe/placements.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "sim/core/joints.h"
#include "sim/engines/kinematic/kinematic_engine.h"
#include "tests/support/worlds.h"

namespace {

// The kinematic engine at 0.25 rad a step, watched after every step.
struct Rig {
  explicit Rig(std::vector<sim::Target> discs = {})
      : targets(std::move(discs)), engine(support::kinematic_world(targets)) {}
  void rest_leg(int leg) { support::command_leg(set_points, leg, support::rest_posture); }
  void run(int steps) {
    for (int i = 0; i < steps; ++i) {
      engine.advance(set_points);
      watch.after_step(++step, engine, targets);
    }
  }
  const std::vector<sim::Placement> &placements() const { return watch.placements(); }

  std::vector<sim::Target> targets;
  sim::KinematicEngine engine;
  sim::SetPoints set_points;
  sim::PlacementWatch watch;
  std::int64_t step = 0;
};

TEST(Placements, OneForEachRestPeriodOfAFootOnTheGround) {
  Rig rig;
  rig.rest_leg(0);
  // Joint 0 needs 4 steps to reach -0.767 at 0.25 rad a step, joint 2 needs 6.
  rig.run(6 + sim::rest_steps - 1);
  EXPECT_TRUE(rig.placements().empty());
  rig.run(1);
  ASSERT_EQ(rig.placements().size(), 1u);
  const sim::Placement &p = rig.placements()[0];
  EXPECT_EQ(p.step, 6 + sim::rest_steps);
  EXPECT_EQ(p.leg, 0);
  EXPECT_NEAR(p.foot.x, 0.0, 1e-5);
  EXPECT_NEAR(p.foot.y, 0.06, 1e-5);
  EXPECT_NEAR(p.foot.z, -0.115, 1e-5);
  EXPECT_FALSE(p.target.has_value());
  EXPECT_FALSE(p.distance.has_value());

  // Still longer: no second placement. Moved and at rest again: a new one.
  rig.run(50);
  EXPECT_EQ(rig.placements().size(), 1u);
  rig.set_points.set(sim::leg_joint(0, 1), 0.2);
  rig.run(3);
  rig.set_points.set(sim::leg_joint(0, 1), 0.0);
  rig.run(30);
  EXPECT_EQ(rig.placements().size(), 2u);
}

TEST(Placements, PausesShorterThanTheRestPeriodAndFeetInTheAirDoNotCount) {
  Rig rig;
  // Joints at zero hold the foot far above the ground.
  rig.run(30);
  EXPECT_TRUE(rig.placements().empty());
  // A foot on the ground whose leg never pauses for ten steps.
  rig.rest_leg(2);
  rig.run(6);
  for (int i = 0; i < 5; ++i) {
    rig.set_points.set(sim::leg_joint(2, 1), (i % 2 == 0) ? 0.1 : 0.0);
    rig.run(sim::rest_steps - 1);
  }
  EXPECT_TRUE(rig.placements().empty());
}

TEST(Placements, NameTheFirstDiscHoldingTheFootAndTheDistanceFromItsCentre) {
  const sim::Target wide{0.0, 0.058, 0.01, {214, 30, 30}};
  const sim::Target under{0.0, 0.06, 0.005, {214, 30, 30}};
  const sim::Target elsewhere{0.05, -0.05, 0.006, {214, 30, 30}};
  Rig rig({elsewhere, wide, under});
  rig.rest_leg(0);
  rig.run(20);
  ASSERT_EQ(rig.placements().size(), 1u);
  EXPECT_EQ(rig.placements()[0].target, 1);
  EXPECT_NEAR(*rig.placements()[0].distance, 0.002, 1e-5);

  const sim::Placement off = sim::place(0, 2, {0.1, 0.0, -0.115}, {elsewhere, wide, under});
  EXPECT_FALSE(off.target.has_value());
}

}  // namespace
