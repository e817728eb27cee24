// The robustness map's own code: --vary checked, the robots sampled as a
// Latin hypercube, the runs counted per point, robot and key, the
// well-inside region's outline, the worlds the map writes, and its pictures
// as a reader sees them.
#include "tools/reach_map/robustness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <vector>

#include "sim/world/world_file.h"
#include "tests/support/png_reader.h"
#include "tools/reach_map/reach_map.h"
#include "tools/reach_map/robustness_picture.h"

namespace {

namespace fs = std::filesystem;
using namespace sim::reach_map;

TEST(Robustness, ABadVaryIsRefusedSayingWhatIsWrong) {
  const auto refusal = [](const std::string &text, sim::EngineKind engine, sim::Torso torso) {
    try {
      parse_vary(text, engine, torso);
    } catch (const MapError &error) {
      return std::string(error.what());
    }
    return std::string("accepted");
  };
  const auto physics = sim::EngineKind::physics;
  const auto free = sim::Torso::free;
  for (const auto &[text, engine, torso, message] : {
           std::tuple{"robot.frition=0.2:0.8", physics, free, "is no world key a map varies"},
           std::tuple{"robot.friction=0.8:0.2", physics, free, "LOW is above HIGH"},
           std::tuple{"robot.friction=0.01:0.8", physics, free, "must stay from 0.05 to 2"},
           std::tuple{"camera.noise=0:65", physics, free, "must stay from 0 to 64 levels"},
           std::tuple{"robot.friction=0.2", physics, free, "wants KEY=LOW:HIGH"},
           std::tuple{"robot.friction", physics, free, "wants KEY=LOW:HIGH"},
           std::tuple{"camera.noise=x:2", physics, free, "must be numbers"},
           std::tuple{"camera.noise=1:nan", physics, free, "must be numbers"},
           std::tuple{"camera.yaw_error_deg=-1:1", sim::EngineKind::kinematic, free,
                      "means nothing to the kinematic engine"},
           std::tuple{"robot.payload_kg=0:0.3", physics, sim::Torso::fixed,
                      "means nothing to the robot on a stand"},
       })
    EXPECT_NE(refusal(text, engine, torso).find(message), std::string::npos)
        << text << ": " << refusal(text, engine, torso);
  const Varied yaw = parse_vary("camera.yaw_error_deg=-1:1", physics, free);
  EXPECT_EQ(yaw.key, "camera.yaw_error_deg");
  EXPECT_EQ(yaw.low, -1.0);
  EXPECT_EQ(yaw.high, 1.0);

  const std::vector<Varied> twice{{"camera.noise", 0, 1}, {"camera.noise", 1, 2}};
  EXPECT_THROW(sample_robots(twice, 4, 0), MapError);
  EXPECT_THROW(sample_robots({{"camera.noise", 0, 1}}, 0, 0), MapError);
}

TEST(Robustness, RobotsAreALatinHypercubeEachStratumOfEachKeyOnceAndTheSameForTheSameSeed) {
  const std::vector<Varied> vary{
      {"robot.friction", 0.2, 0.8}, {"camera.noise", 0.0, 2.0}, {"camera.gain", 1.0, 1.0}};
  const int count = 16;
  const std::vector<Robot> robots = sample_robots(vary, count, 7);
  ASSERT_EQ(robots.size(), 16u);
  for (std::size_t k = 0; k < 2; ++k) {
    std::set<int> strata;
    for (const Robot &robot : robots) {
      const double value = robot.values[k];
      EXPECT_GE(value, vary[k].low);
      EXPECT_LE(value, vary[k].high);
      EXPECT_EQ(value, std::round(value * 1e6) / 1e6) << "written exactly in a world file";
      strata.insert(std::min(count - 1, static_cast<int>((value - vary[k].low) /
                                                         (vary[k].high - vary[k].low) * count)));
    }
    EXPECT_EQ(strata.size(), 16u) << vary[k].key;
  }
  // The pairing is random: the keys' strata do not go up together.
  int same_order = 0;
  for (std::size_t i = 0; i + 1 < robots.size(); ++i)
    same_order += (robots[i].values[0] < robots[i + 1].values[0]) ==
                  (robots[i].values[1] < robots[i + 1].values[1]);
  EXPECT_LT(same_order, 14);
  for (const Robot &robot : robots) EXPECT_EQ(robot.values[2], 1.0);

  std::set<std::int64_t> seeds;
  for (const Robot &robot : robots) {
    EXPECT_GE(robot.seed, 0);
    seeds.insert(robot.seed);
  }
  EXPECT_EQ(seeds.size(), robots.size());
  const std::vector<Robot> again = sample_robots(vary, count, 7);
  const std::vector<Robot> other = sample_robots(vary, count, 8);
  for (std::size_t r = 0; r < robots.size(); ++r) {
    EXPECT_EQ(again[r].values, robots[r].values);
    EXPECT_EQ(again[r].seed, robots[r].seed);
  }
  EXPECT_NE(other[0].values, robots[0].values);
}

// A map of four points, the first two well inside, under four robots whose
// gain decides everything: the one at gain 1 hits wherever the disc is well
// inside, the others nowhere.
struct Runs {
  Runs() {
    settings.engine = sim::EngineKind::kinematic;
    settings.vary = {{"camera.gain", 0.9, 1.1}, {"camera.noise", 0.0, 1.0}};
    settings.robots = {{{0.95, 0.1}, 1}, {{1.0, 0.4}, 2}, {{0.92, 0.6}, 3}, {{0.97, 0.9}, 4}};
    for (int p = 0; p < 4; ++p)
      for (std::size_t s = 0; s < settings.robots.size(); ++s) {
        Outcome o;
        o.point = {0.01 * p, 0.05};
        o.well_inside = p < 2;
        o.leg = p == 3 && s == 0 ? 2 : 0;
        const bool hits = o.well_inside && settings.robots[s].values[0] == 1.0;
        if (hits) o.reach = sim::ReachOutcome::on_target;
        outcomes.push_back(o);
      }
  }
  Settings settings;
  std::vector<Outcome> outcomes;
};

TEST(Robustness, RunsAreCountedPerPointRobotAndBinAndTheCostliestKeyIsTheOneThatDecides) {
  const Runs runs;
  const Robustness r = assess(runs.settings, runs.outcomes);
  ASSERT_EQ(r.points.size(), 4u);
  EXPECT_EQ(r.runs, 16);
  EXPECT_EQ(r.hits, 2);
  EXPECT_EQ(r.inside_points, 2);
  EXPECT_EQ(r.inside_runs, 8);
  EXPECT_EQ(r.inside_hits, 2);
  EXPECT_EQ(r.points[0].hits, 1);
  EXPECT_EQ(r.points[3].hits, 0);
  EXPECT_EQ(r.points[3].leg, 0) << "three runs of four saw it on the left";
  EXPECT_EQ(r.robots[1].hits, 2);
  EXPECT_EQ(r.robots[0].hits, 0);

  // Two bins per key (four robots), edges included in the bin above: gain's
  // [1.0, 1.1] holds the robot that hits alone.
  ASSERT_EQ(r.keys.size(), 2u);
  const KeyEffect &gain = r.keys[0];
  ASSERT_EQ(gain.bins.size(), 2u);
  EXPECT_EQ(gain.bins[1].low, 1.0);
  EXPECT_EQ(gain.bins[1].robots, 1);
  EXPECT_EQ(gain.bins[1].hits, 2);
  EXPECT_EQ(gain.bins[0].hits, 0);
  EXPECT_EQ(gain.best, 1u);
  // The first bin's 12 runs at the best bin's rate of 2 in 4.
  EXPECT_EQ(gain.cost, 6);
  EXPECT_FALSE(gain.bins[1].inside_error) << "one robot has no spread";
  EXPECT_EQ(gain.bins[0].inside_error, 0.0);
  // Noise's first bin holds the robot that hits and one that does not:
  // well-inside rates 1 and 0.
  const KeyEffect &noise = r.keys[1];
  EXPECT_EQ(noise.bins[0].hits, 2);
  EXPECT_NEAR(*noise.bins[0].inside_error, 0.5, 1e-12);
  EXPECT_EQ(noise.cost, 2);
  // Four robots are too few to tell: dealt at random, the hitting robot
  // lands alone in gain's small bin one time in four, and noise's bins part
  // the same way whatever the deal.
  EXPECT_NEAR(gain.chance, 0.25, 0.05);
  EXPECT_EQ(noise.chance, 1.0);
  EXPECT_EQ(r.costliest, 0u);

  const std::string line = robustness_summary_line(runs.settings, r);
  EXPECT_NE(
      line.find("4 points x 4 robots): 12.5 % of 16 runs hit; discs well inside a view and "
                "the feet's reach: 25.0 % of 8 runs hit; the key that costs most hits: "
                "camera.gain, 6 hits against its best values (1 to 1.1); p = 0.251: chance alone "
                "spreads its bins as far in 25 % of deals, so no key is shown to cost hits"),
      std::string::npos)
      << line;
  const nlohmann::json json = nlohmann::json::parse(robustness_json(runs.settings, r));
  EXPECT_EQ(json["summary"]["hit_rate"], 0.125);
  EXPECT_EQ(json["robots"][1]["values"]["camera.noise"], 0.4);
  EXPECT_EQ(json["points"][3]["side"], "left");
  EXPECT_EQ(json["keys"][0]["bins"][1]["well_inside_hits"], 2);
}

// Sixteen robots, of which those at gain 1 or more hit at every point and the
// others at none: gain's bins part them, chance deals would not, and noise,
// paired at random with gain, explains nothing.
TEST(Robustness, AKeyThatDecidesCostsMoreThanChanceAndOneThatDoesNotNoMore) {
  Settings settings;
  settings.vary = {{"camera.gain", 0.9, 1.1}, {"camera.noise", 0.0, 1.0}};
  std::vector<Outcome> outcomes;
  for (int s = 0; s < 16; ++s)
    settings.robots.push_back({{0.9 + 0.0125 * s, ((s * 7) % 16) / 16.0}, s});
  for (int p = 0; p < 5; ++p)
    for (const Robot &robot : settings.robots) {
      Outcome o;
      o.point = {0.01 * p, 0.05};
      if (robot.values[0] >= 1.0) o.reach = sim::ReachOutcome::on_target;
      outcomes.push_back(o);
    }
  const Robustness r = assess(settings, outcomes);
  EXPECT_EQ(r.keys[0].cost, 40);  // half the runs, at the best bins' rate of 1
  // Only the deals that pair the hitting robots as the map did spread as far.
  EXPECT_LT(r.keys[0].chance, 0.02);
  EXPECT_GT(r.keys[1].chance, 0.05) << r.keys[1].cost;
  EXPECT_EQ(r.costliest, 0u);
  EXPECT_NE(robustness_summary_line(settings, r).find("; p = 0.0"), std::string::npos)
      << robustness_summary_line(settings, r);
}

TEST(Robustness, TheWellInsideOutlineHoldsExactlyTheWellInsidePoints) {
  Settings settings;
  settings.radius = 0.006;
  for (const auto &[view, leg] : {std::pair{sim::View::left, 0}, std::pair{sim::View::right, 2}}) {
    const std::vector<sim::Vec2> outline = well_inside_outline(settings, view);
    ASSERT_GT(outline.size(), 10u);
    // Whether p lies inside the convex outline, and how near its edge.
    const auto inside = [&](const sim::Vec2 &p, double &nearest) {
      bool left = false, right = false;
      nearest = INFINITY;
      for (std::size_t i = 0; i < outline.size(); ++i) {
        const sim::Vec2 &a = outline[i], &b = outline[(i + 1) % outline.size()];
        const double length = std::hypot(b.x - a.x, b.y - a.y);
        if (length < 1e-12) continue;
        const double cross = ((b.x - a.x) * (p.y - a.y) - (b.y - a.y) * (p.x - a.x)) / length;
        (cross > 0 ? left : right) = true;
        nearest = std::min(nearest, std::abs(cross));
      }
      return !(left && right);
    };
    int checked = 0;
    for (double x = -0.05; x <= 0.15; x += 0.002)
      for (double y = -0.15; y <= 0.15; y += 0.002) {
        double nearest = 0.0;
        const bool in = inside({x, y}, nearest);
        if (nearest < 2e-4) continue;  // the polygon stands for a circle to 0.1 mm
        // well_inside holds on either side: only this side's points count.
        const bool other_side = (leg == 0) != (y > 0.0);
        if (other_side) continue;
        EXPECT_EQ(in, well_inside(settings, {x, y})) << x << ", " << y;
        ++checked;
      }
    EXPECT_GT(checked, 1000);
  }
}

TEST(Robustness, APointsWorldForARobotGivesTheStandInItsValuesAndSeed) {
  Settings settings;
  settings.engine = sim::EngineKind::physics;
  settings.vary = {{"robot.friction", 0.2, 0.8}, {"camera.yaw_error_deg", -1, 1}};
  settings.robots = {{{0.512345, -0.25}, 99}};
  const Point point{0.04, -0.05};
  const sim::WorldConfig world =
      sim::parse_world(world_text(settings, point, &settings.robots[0]), "w.toml");
  EXPECT_EQ(world.factors.friction, 0.512345);
  EXPECT_EQ(world.factors.yaw_error_deg, -0.25);
  EXPECT_EQ(world.seed, 99);
  ASSERT_EQ(world.targets.size(), 1u);
  EXPECT_EQ(world.targets[0].x, 0.04);
  // A plain map's world is what it always was.
  EXPECT_EQ(world_text(settings, point).find("friction"), std::string::npos);
  // The robots go to grid.json and come back for collect.
  Settings read;
  std::vector<Point> points;
  read_grid_json(grid_json(settings, {point}), read, points);
  EXPECT_EQ(read.vary.size(), 2u);
  EXPECT_EQ(read.vary[1].key, "camera.yaw_error_deg");
  ASSERT_EQ(read.robots.size(), 1u);
  EXPECT_EQ(read.robots[0].values, settings.robots[0].values);
  EXPECT_EQ(read.robots[0].seed, 99);
}

// Pixels of a colour given as fractions, to the byte's rounding.
int pixels_of(const support::Picture &picture, std::array<double, 3> colour) {
  int count = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const support::Rgb at = picture.at(x, y);
      bool near = true;
      for (std::size_t c = 0; c < 3; ++c) near = near && std::abs(at[c] - 255.0 * colour[c]) <= 1.0;
      count += near;
    }
  return count;
}

TEST(Robustness, PicturesShowEachPointsHitFractionAndNothingIsCutOff) {
  Runs runs;
  runs.settings.spacing_um = 10'000;
  const Robustness r = assess(runs.settings, runs.outcomes);
  const support::Picture map =
      support::saved_picture("robustness.png", robustness_picture_png(runs.settings, r));
  ASSERT_GT(map.width, 0);
  // Hit by a quarter of the robots (points 0 and 1), and by none (2 and 3):
  // the scale's colours at 25 % (halfway from its dark red at 0 to its amber
  // at 50 %) and at 0, on tiles of 8 x 8 pixels at least.
  EXPECT_GE(pixels_of(map, {0.50, 0.0, 0.10}), 2 * 64);
  EXPECT_GE(pixels_of(map, {0.745, 0.36, 0.20}), 2 * 64);
  EXPECT_EQ(support::ink_at_edges(map, 3), 0);
  const support::Picture panels =
      support::saved_picture("sensitivity.png", sensitivity_picture_png(runs.settings, r));
  ASSERT_GT(panels.width, 0);
  EXPECT_EQ(support::ink_at_edges(panels, 3), 0);
}

}  // namespace
