// The top view's layout without drawing it: which spots it marks, where each
// lands, which reaches share a label and where labels go, and what it says
// it cannot show. Pixels are worked out by hand from the map's scale.
#include "sim/draw/top_view_layout.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "tests/support/reaches.h"

namespace {

using sim::draw::Mark;
using support::reach_of;

sim::Placement placed(std::int64_t step, int leg, double x, double y) {
  return {step, leg, {x, y, -0.115}, std::nullopt, std::nullopt};
}

// The map with the ground shown when nothing grows it: 0.34 m across in
// 640 pixels, its top-left corner at (96, 92) for ground x = 0.16, y = 0.17.
sim::draw::Map default_map() { return sim::draw::top_view_map(sim::WorldConfig{}, {}, {}); }
constexpr double pixels_per_metre = 640.0 / 0.34;

TEST(TopViewLayout, AReachIsMarkedWhereItsFootRestedAndRestsOnlyOutsideReaches) {
  const std::vector<sim::Placement> placements{
      placed(10, 0, 0.0, 0.06),                 // before any reach: a rest
      {50, 0, {0.04, 0.05, -0.115}, 1, 0.002},  // during the left leg's reach: on target 1
      placed(90, 0, 0.0, 0.06),                 // after it ended: a rest again
      placed(95, 2, 0.03, -0.05),               // during a reach still out at the end
  };
  sim::Reach cut_off = support::reach_of(2, 92, std::nullopt, std::nullopt);
  cut_off.end_foot = {0.03, -0.05, -0.115};
  const std::vector<sim::Reach> reaches{
      support::reach_of(0, 40, 80, placements[1]),
      support::reach_of(2, 60, 85, std::nullopt, sim::Vec3{0.09, -0.07, -0.09}), cut_off};
  const std::vector<sim::draw::Spot> spots = sim::draw::spots_of(placements, reaches);
  ASSERT_EQ(spots.size(), 5u);
  // In time order: reaches at their start, rests at their step.
  EXPECT_EQ(spots[0].step, 10);
  EXPECT_EQ(spots[0].mark, Mark::rest);
  EXPECT_EQ(spots[1].mark, Mark::on_target);
  EXPECT_EQ(spots[1].at.x, 0.04);
  // A reach whose foot never rested is marked where its leg was sent.
  EXPECT_EQ(spots[2].step, 60);
  EXPECT_EQ(spots[2].mark, Mark::no_contact);
  EXPECT_EQ(spots[2].at.x, 0.09);
  EXPECT_EQ(spots[3].step, 90);
  EXPECT_EQ(spots[3].mark, Mark::rest);
  // One the run's end cut off, where its foot was then.
  EXPECT_EQ(spots[4].mark, Mark::unfinished);
  EXPECT_EQ(spots[4].at.x, 0.03);
}

TEST(TopViewLayout, GroundPointsLandWhereTheScaleSaysForwardUpAndLeftLeft) {
  const sim::draw::Map map = default_map();
  EXPECT_NEAR(map.pixels_per_metre, pixels_per_metre, 1e-9);
  // The origin lies 0.17 m right of the left edge and 0.16 m below the top.
  EXPECT_NEAR(map.column(0.0), 96.0 + 0.17 * pixels_per_metre, 1e-9);
  EXPECT_NEAR(map.row(0.0), 92.0 + 0.16 * pixels_per_metre, 1e-9);
  // The left hip is to the left, a point ahead is higher up.
  EXPECT_NEAR(map.column(0.06) - map.column(0.0), -0.06 * pixels_per_metre, 1e-9);
  EXPECT_NEAR(map.row(0.1) - map.row(0.0), -0.1 * pixels_per_metre, 1e-9);
  EXPECT_EQ(map.box.width, 640.0);
  EXPECT_EQ(map.box.height, std::round(0.25 * pixels_per_metre));
}

TEST(TopViewLayout, TheGroundShownGrowsToHoldTargetsSpotsAndTorsoUpToHalfAMetre) {
  sim::WorldConfig world;
  world.targets = {{0.3, 0.0, 0.006, {214, 30, 30}}, {0.0, -2.0, 0.006, {214, 30, 30}}};
  const std::vector<sim::draw::Spot> spots{{5, Mark::rest, {-0.2, 0.1}}};
  const std::vector<sim::Vec2> torso{{0.0, 0.25}};
  const sim::draw::Extent e = sim::draw::top_view_map(world, spots, torso).extent;
  EXPECT_DOUBLE_EQ(e.x_high, 0.3 + 0.006 + 0.015);  // the target and its margin
  EXPECT_DOUBLE_EQ(e.x_low, -0.2 - 0.015);          // the rest
  EXPECT_DOUBLE_EQ(e.y_high, 0.25 + 0.01);          // the torso
  EXPECT_DOUBLE_EQ(e.y_low, -0.5);                  // the far target, held at half a metre
}

TEST(TopViewLayout, NearbyReachesOfOneKindShareALabelAndOtherKindsNeverDo) {
  const sim::draw::Map map = default_map();
  // Five reaches on target a pixel apart, one off target at the same spot,
  // and one on target 20 pixels away.
  std::vector<sim::draw::Spot> spots;
  for (int i = 0; i < 5; ++i)
    spots.push_back({i, Mark::on_target, {0.04, 0.05 + i / pixels_per_metre}});
  spots.push_back({5, Mark::off_target, {0.04, 0.05}});
  spots.push_back({6, Mark::on_target, {0.04, 0.05 - 20.0 / pixels_per_metre}});
  std::vector<std::string> notes;
  const sim::draw::PlacementLayout layout =
      sim::draw::lay_out(map, spots, [&](std::string words) { notes.push_back(words); });
  EXPECT_TRUE(notes.empty());
  EXPECT_EQ(layout.shown.size(), 7u);
  ASSERT_EQ(layout.clusters.size(), 3u);
  EXPECT_EQ(layout.clusters[0].label(), "1, 2, \u2026, 5");
  EXPECT_EQ(layout.clusters[0].how_many(), "(5 reaches)");
  EXPECT_EQ(layout.clusters[1].mark, Mark::off_target);
  EXPECT_EQ(layout.clusters[1].label(), "6");
  EXPECT_EQ(layout.clusters[2].label(), "7");
  EXPECT_EQ(layout.counts[static_cast<std::size_t>(Mark::on_target)], 6);
  // Two or three reaches are listed whole.
  for (const auto &[count, label] : {std::pair{2, "1, 2"}, std::pair{3, "1, 2, 3"}}) {
    const std::vector<sim::draw::Spot> few(spots.begin(), spots.begin() + count);
    const sim::draw::PlacementLayout some = sim::draw::lay_out(map, few, [](std::string) {});
    ASSERT_EQ(some.clusters.size(), 1u);
    EXPECT_EQ(some.clusters[0].label(), label);
    EXPECT_EQ(some.clusters[0].how_many(), "");
  }
}

TEST(TopViewLayout, RestsGatherUnderOneCountedLabelAndTakeNoReachNumber) {
  const sim::draw::Map map = default_map();
  std::vector<sim::draw::Spot> spots;
  for (int i = 0; i < 5; ++i)
    spots.push_back({i, Mark::rest, {0.0, 0.06 + i * 0.5 / pixels_per_metre}});
  spots.push_back({10, Mark::on_target, {0.04, 0.05}});
  spots.push_back({20, Mark::rest, {0.0, -0.06}});
  const sim::draw::PlacementLayout layout = sim::draw::lay_out(map, spots, [](std::string) {});
  ASSERT_EQ(layout.clusters.size(), 3u);
  EXPECT_EQ(layout.clusters[0].label(), "5 rests");
  EXPECT_EQ(layout.clusters[0].how_many(), "");
  EXPECT_EQ(layout.clusters[1].label(), "1");
  EXPECT_EQ(layout.clusters[2].label(), "1 rest");
  EXPECT_EQ(layout.counts[static_cast<std::size_t>(Mark::rest)], 6);
}

TEST(TopViewLayout, ASpotThatCannotBeShownIsNamedInANoteAndStillCounted) {
  const std::vector<sim::draw::Spot> spots{
      {3, Mark::rest, {std::numeric_limits<double>::quiet_NaN(), 0.0}},
      {7, Mark::no_contact, {0.9, 0.0}},
      {9, Mark::on_target, {0.04, 0.05}}};
  std::vector<std::string> notes;
  const sim::draw::PlacementLayout layout =
      sim::draw::lay_out(default_map(), spots, [&](std::string words) { notes.push_back(words); });
  EXPECT_EQ(notes,
            (std::vector<std::string>{"the rest at step 3 has no finite position",
                                      "reach 1 lies outside the picture (x = 0.9 m, y = 0 m)"}));
  ASSERT_EQ(layout.shown.size(), 1u);
  EXPECT_EQ(layout.shown[0].number, 2);
  EXPECT_EQ(layout.counts[static_cast<std::size_t>(Mark::no_contact)], 1);
  // Past the most notes kept, how many more there were.
  sim::draw::Notes capped(2);
  for (const char *words : {"a", "b", "c", "d"}) capped.add(words);
  EXPECT_EQ(capped.lines(), (std::vector<std::string>{"a", "b", "and 2 more"}));
}

TEST(TopViewLayout, LabelsSitBesideTheirMarkAwayFromTheMidlineAndInsideTheMap) {
  const sim::draw::Map map = default_map();
  sim::draw::Cluster left{map.column(0.05), map.row(0.04), Mark::on_target, 1, 0, 1, 1};
  const sim::draw::Anchor above = sim::draw::cluster_label(map, left);
  EXPECT_EQ(above.align, sim::draw::Align::right);
  EXPECT_EQ(above.baseline, sim::draw::Baseline::bottom);
  EXPECT_LT(above.x, left.x);
  EXPECT_LT(above.y, left.y);
  EXPECT_LT(sim::draw::cluster_label(map, left, 1).y, above.y);  // the second line above the first
  sim::draw::Cluster right{map.column(-0.05), map.row(0.04), Mark::off_target, 2, 0, 2, 1};
  const sim::draw::Anchor below = sim::draw::cluster_label(map, right);
  EXPECT_EQ(below.align, sim::draw::Align::left);
  EXPECT_GT(below.x, right.x);
  EXPECT_GT(below.y, right.y);
  // A reach that never came down is labelled level with its mark, clear of
  // the label below the target it was sent to; rests level with theirs,
  // clear of the hip's square around them.
  sim::draw::Cluster hanging{map.column(-0.05), map.row(0.038), Mark::no_contact, 3, 0, 3, 1};
  const sim::draw::Anchor level = sim::draw::cluster_label(map, hanging);
  EXPECT_EQ(level.baseline, sim::draw::Baseline::middle);
  EXPECT_EQ(level.y, hanging.y);
  EXPECT_GE(level.x - hanging.x, 10.0);
  sim::draw::Cluster resting{map.column(0.06), map.row(0.0), Mark::rest, 0, 0, 0, 4};
  const sim::draw::Anchor outside = sim::draw::cluster_label(map, resting);
  EXPECT_EQ(outside.align, sim::draw::Align::right);
  EXPECT_LE(outside.x, resting.x - 7.5 - 3.0);
  EXPECT_EQ(outside.y, resting.y);
  // A target's label goes below a small disc, and stays inside the map for
  // one at its very corner.
  const sim::draw::Anchor under =
      sim::draw::target_label(map, {0.038, 0.05, 0.006, {214, 30, 30}}, 60.0);
  EXPECT_NEAR(under.y, map.row(0.038) + 0.006 * pixels_per_metre + 4.0, 1e-9);
  const sim::draw::Anchor corner =
      sim::draw::target_label(map, {-0.09, 0.17, 0.006, {214, 30, 30}}, 60.0);
  EXPECT_GE(corner.x - 30.0, map.box.x);
  EXPECT_LE(corner.y, map.box.bottom() - 20.0);
}

TEST(TopViewLayout, TargetsBeyondThePictureGetAnArrowAtItsEdgePointingTheirWay) {
  const sim::draw::Map map = default_map();
  const sim::draw::Extent &e = map.extent;
  const auto disc = [&](double x, double y, double radius) {
    return sim::draw::drawable({x, y, radius, {214, 30, 30}}, e);
  };
  EXPECT_EQ(disc(0.04, 0.05, 0.006).seen, sim::draw::Seen::inside);
  EXPECT_EQ(disc(0.3, 0.0, 0.2).seen, sim::draw::Seen::partly);
  EXPECT_EQ(disc(5.0, 0.0, 0.006).seen, sim::draw::Seen::outside);
  EXPECT_EQ(disc(0.0, 0.0, 50.0).seen, sim::draw::Seen::covers_all);
  EXPECT_EQ(disc(0.0, std::numeric_limits<double>::infinity(), 0.006).seen,
            sim::draw::Seen::unusable);
  // A disc too large to draw keeps its edge where it crosses the picture.
  const sim::draw::DrawnDisc huge = disc(0.0, 1e9, 1e9 - 0.1);
  EXPECT_EQ(huge.seen, sim::draw::Seen::partly);
  EXPECT_LE(huge.radius, 1000.0);
  EXPECT_NEAR(huge.y - huge.radius, 0.1, 1e-6);
  // Ahead, to the left, and far off in huge numbers: each arrow stays inside
  // the map and points the way.
  const double middle_x = map.box.x + map.box.width / 2.0;
  const double middle_y = map.box.y + map.box.height / 2.0;
  for (const sim::Vec2 far :
       {sim::Vec2{5.0, 0.035}, sim::Vec2{0.035, 5.0}, sim::Vec2{1e308, -1e308}}) {
    const sim::Vec2 towards = sim::draw::direction_to(far.x, far.y, e);
    EXPECT_NEAR(std::hypot(towards.x, towards.y), 1.0, 1e-12);
    const sim::draw::EdgeArrow arrow = sim::draw::edge_arrow(map, towards);
    for (const sim::Vec2 p : {arrow.tail, arrow.tip, arrow.head_left, arrow.head_right}) {
      EXPECT_GE(p.x, map.box.x);
      EXPECT_LE(p.x, map.box.right());
      EXPECT_GE(p.y, map.box.y);
      EXPECT_LE(p.y, map.box.bottom());
    }
    // On the screen, forward (+x) is up and left (+y) is to the left: the
    // tip lies from the middle along (-y, -x), and the arrow points that way.
    const double sx = arrow.tip.x - middle_x;
    const double sy = arrow.tip.y - middle_y;
    EXPECT_NEAR(sx * towards.x - sy * towards.y, 0.0, 1e-6);
    EXPECT_LT(sx * towards.y + sy * towards.x, 0.0);
    EXPECT_LT((arrow.tip.x - arrow.tail.x) * towards.y + (arrow.tip.y - arrow.tail.y) * towards.x,
              0.0);
  }
  sim::WorldConfig world;
  world.targets = {{5.0, 0.0, 0.006, {214, 30, 30}}};
  EXPECT_EQ(sim::draw::target_notes(world, {disc(5.0, 0.0, 0.006)}),
            std::vector<std::string>{
                "target 0 lies outside the picture (x = 5 m, y = 0 m, radius 0.006 m)"});
}

}  // namespace
