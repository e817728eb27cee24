// The stand-in's legs against the controller's solver: the foot that the
// solver's set-points put the leg at is the target it was given, over every
// target the tables can hand it.
#include "sim/core/legs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>

#include "kinematics/leg_ik.h"
#include "sim/core/geometry.h"
#include "tests/controller/fake_controller.h"
#include "vision/target_tables.h"

namespace {

constexpr double tolerance = 1e-5;  // metres

// Solves for the current target; false if the solver said it cannot.
bool solve() {
  fake::reset();
  solve_leg_ik();
  return fake::console().empty();
}

// Where the stand-in puts the foot for the set-points of a reach (joint 1 = -q2).
sim::Vec3 reached_foot() {
  return sim::foot_in_leg_frame(joint0_setpoint(), -q2, joint2_setpoint());
}

TEST(LegRoundTrip, FootOfTheSolversAnglesIsTheTargetOverTheTablesReadRange) {
  for (const int way : {0, 1}) {
    int reachable = 0;
    double worst = 0.0;
    // Every window position the search can return at height 160.
    for (int x = 0; x <= 152; ++x)
      for (int y = 0; y <= 152; ++y) {
        lookup_target(way, x, y);
        if (!solve()) continue;
        ++reachable;
        const sim::Vec3 foot = reached_foot();
        worst =
            std::max({worst, std::abs(foot.x - xd), std::abs(foot.y - yd), std::abs(foot.z - zd)});
        ASSERT_NEAR(foot.x, xd, tolerance) << way << " " << x << "," << y;
        ASSERT_NEAR(foot.y, yd, tolerance) << way << " " << x << "," << y;
        ASSERT_NEAR(foot.z, zd, tolerance) << way << " " << x << "," << y;
      }
    // Both sides have thousands of reachable windows (the near image rows).
    EXPECT_GT(reachable, 3000) << way;
    RecordProperty(way == 0 ? "left_worst_m" : "right_worst_m", std::to_string(worst));
  }
}

TEST(LegRoundTrip, RestPostureFootStandsUnderItsHipOnTheGround) {
  xd = 0.0f;
  yd = 0.0f;
  zd = rest_zd;
  ASSERT_TRUE(solve());
  // The rest posture gives leg 0 +q2 and leg 2 -q2; q2 is 0 either way.
  const sim::Vec3 left = sim::leg_to_body(0, reached_foot());
  const sim::Vec3 right = sim::leg_to_body(2, reached_foot());
  EXPECT_NEAR(left.x, 0.0, tolerance);
  EXPECT_NEAR(left.y, sim::hip_y, tolerance);
  EXPECT_NEAR(left.z, sim::ground_z, tolerance);
  EXPECT_NEAR(right.x, 0.0, tolerance);
  EXPECT_NEAR(right.y, -sim::hip_y, tolerance);
  EXPECT_NEAR(right.z, sim::ground_z, tolerance);
}

TEST(LegRoundTrip, HoldsAcrossTheReachableGroundAndAtFullStretch) {
  // A grid of ground targets from the hip out to just short of full reach.
  for (double distance = 0.0; distance < 0.0697; distance += 0.0025)
    for (double bearing = -1.4; bearing <= 1.4; bearing += 0.2) {
      xd = static_cast<float>(distance * std::cos(bearing) + 1e-4);
      yd = static_cast<float>(distance * std::sin(bearing));
      zd = rest_zd;
      ASSERT_TRUE(solve()) << distance << " " << bearing;
      const sim::Vec3 foot = reached_foot();
      ASSERT_NEAR(foot.x, xd, tolerance);
      ASSERT_NEAR(foot.y, yd, tolerance);
      ASSERT_NEAR(foot.z, zd, tolerance);
    }
  // A straight knee: the lower segment's sine is 0, the leg one line.
  const sim::Vec3 straight = sim::foot_in_leg_frame(-0.2 + 0.3, 0.0, 0.385);
  EXPECT_NEAR(std::hypot(straight.x, straight.z), sim::upper_segment + sim::lower_segment, 1e-12);
  EXPECT_NEAR(std::atan2(straight.z, straight.x), 0.3 - M_PI / 2, 1e-12);
}

TEST(LegFrames, LeftAndRightLegFramesPointTowardsTheMidline) {
  const sim::Vec3 inward{0.01, 0.02, -0.115};
  EXPECT_NEAR(sim::leg_to_body(0, inward).y, 0.04, 1e-15);
  EXPECT_NEAR(sim::leg_to_body(2, inward).y, -0.04, 1e-15);
  for (const int leg : {0, 2}) {
    const sim::Vec3 back = sim::body_to_leg(leg, sim::leg_to_body(leg, inward));
    EXPECT_NEAR(back.y, inward.y, 1e-15) << leg;
    EXPECT_EQ(back.x, inward.x);
    EXPECT_EQ(back.z, inward.z);
  }
}

}  // namespace
