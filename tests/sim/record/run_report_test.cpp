// report.json and the summary line, from a run's record.
#include "sim/record/run_report.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(Report, SaysWhatEachReachDidAndNamesTargetsNeverReached) {
  sim::WorldConfig world;
  world.engine = sim::EngineKind::kinematic;
  world.targets = std::vector<sim::Target>({{0.038, -0.05, 0.006, {214, 30, 30}},
                                            {0.038, 0.05, 0.006, {214, 30, 30}},
                                            {0.3, 0.0, 0.006, {214, 30, 30}}});
  world.file = "w.toml";
  const std::vector<sim::Placement> placements = {
      {12, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt},
      {105, 2, {0.038, -0.054, -0.1150004}, 0, 0.004},
      {224, 0, {0.037, 0.047, -0.115}, 1, 0.0031623},
  };
  const std::vector<sim::Reach> reaches = {
      {78, 2, sim::Window{85, 117}, sim::Vec2{0.0377, -0.0541}, placements[1]},
      {197, 0, std::nullopt, std::nullopt, placements[2]},
  };
  const sim::RunRecord run{world, 600, false, placements, reaches};
  const std::string json = sim::report_json(run);
  for (const char *part :
       {"\"world\": \"w.toml\"", "\"engine\": \"kinematic\"", "\"steps\": 600",
        "\"interrupted\": false",
        "{\"step\":105,\"leg\":2,\"foot\":[0.038,-0.054,-0.115],\"target\":0,\"distance\":0.004}",
        "{\"step\":105,\"leg\":2,\"search_step\":78,\"window\":{\"x\":85,\"y\":117},"
        "\"aimed\":[0.0377,-0.0541],\"foot\":[0.038,-0.054,-0.115],\"error\":0.000316,",
        "\"window\":null,\"aimed\":null,\"foot\":[0.037,0.047,-0.115],\"error\":null,",
        "{\"x\":0.3,\"y\":0.0,\"radius\":0.006,\"reaches\":0}"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
  EXPECT_EQ(sim::summary_line(run),
            "sim: 600 steps, 2 reaches, 2 on target, 3.6 mm from the centre on average; target 2 "
            "never reached");
  const sim::RunRecord idle{world, 5, true, {}, {}};
  EXPECT_EQ(sim::summary_line(idle),
            "sim: 5 steps, 0 reaches, 0 on target; targets 0, 1, 2 never reached");
}

}  // namespace
