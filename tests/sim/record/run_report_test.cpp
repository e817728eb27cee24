// report.json and the summary line, from a run's record.
#include "sim/record/run_report.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

struct Record {
  Record() {
    world.engine = sim::EngineKind::kinematic;
    world.file = "w.toml";
    world.targets = {{0.038, -0.05, 0.006, {214, 30, 30}},
                     {0.038, 0.05, 0.006, {214, 30, 30}},
                     {0.3, 0.0, 0.006, {214, 30, 30}}};
    placements = {{12, 0, {0.0, 0.06, -0.115}, std::nullopt, std::nullopt},
                  {105, 2, {0.038, -0.054, -0.1150004}, 0, 0.004},
                  {224, 0, {0.037, 0.047, -0.115}, 1, 0.0031623},
                  {300, 2, {0.03, -0.03, -0.115}, std::nullopt, std::nullopt}};
    // On target, decided on an image with a window; on target without one;
    // off target; in the air and back; pressing the floor on disc 1, not yet
    // still, when the run ended.
    const auto reach = [](int leg, std::int64_t start, std::optional<std::int64_t> end,
                          std::optional<sim::Placement> rest, sim::Vec3 aimed,
                          std::optional<sim::Fetch> decided_on) {
      sim::Reach r;
      r.leg = leg;
      r.start_step = start;
      r.end_step = end;
      r.placement = rest;
      r.aimed = aimed;
      r.decided_on = decided_on;
      r.torso_tilt = 0.0123456789;
      if (rest) r.torso_shift = 0.0012344;
      if (rest) r.foot_force = 3.45678;
      return r;
    };
    reaches = {
        reach(2, 79, 127, placements[1], {0.0377, -0.0541, -0.115},
              sim::Fetch{78, sim::View::right, sim::Window{85, 117}, sim::Vec2{0.0377, -0.0541}}),
        reach(0, 198, 239, placements[2], {0.037, 0.047, -0.115},
              sim::Fetch{197, sim::View::left, std::nullopt, std::nullopt}),
        reach(2, 280, 320, placements[3], {0.03, -0.031, -0.115}, std::nullopt),
        reach(0, 330, 370, std::nullopt, {0.09, 0.07, -0.09}, std::nullopt),
        reach(0, 400, std::nullopt, std::nullopt, {0.038, 0.05, -0.115}, std::nullopt)};
    reaches.back().end_foot = {0.0381234, 0.0498765, -0.1152};
    reaches.back().end_on_ground = true;
    reaches.back().foot_force = 9.5161;
    sightings = {sim::Sighting{78, sim::View::right}, sim::Sighting{35, sim::View::left},
                 std::nullopt};
  }
  sim::RunRecord run(std::int64_t steps = 600) const {
    return {world, steps, false, placements, reaches, sightings, footprint};
  }
  sim::WorldConfig world;
  std::vector<sim::Placement> placements;
  std::vector<sim::Reach> reaches;
  std::vector<std::optional<sim::Sighting>> sightings;
  std::vector<sim::Vec2> footprint;
};

TEST(Report, SaysWhatEachReachDidWithItsOutcome) {
  const Record record;
  const std::string json = sim::report_json(record.run());
  for (const char *part :
       {"\"world\": \"w.toml\"", "\"engine\": \"kinematic\"", "\"steps\": 600",
        "\"interrupted\": false",
        "{\"step\":105,\"leg\":2,\"foot\":[0.038,-0.054,-0.115],\"target\":0,\"distance\":0.004}",
        "{\"leg\":2,\"start_step\":79,\"end_step\":127,\"outcome\":\"on_target\",\"step\":105,"
        "\"foot\":[0.038,-0.054,-0.115],\"aimed\":[0.0377,-0.0541,-0.115],\"error\":0.000316,"
        "\"target\":0,\"distance\":0.004,\"search_step\":78,\"window\":{\"x\":85,\"y\":117},"
        "\"window_ground\":[0.0377,-0.0541],\"torso_tilt\":0.012346,\"torso_shift\":0.001234,"
        "\"foot_force\":3.457}",
        // No window in the image it was decided on: no search step either.
        "\"outcome\":\"on_target\",\"step\":224,\"foot\":[0.037,0.047,-0.115],"
        "\"aimed\":[0.037,0.047,-0.115],\"error\":0.0,\"target\":1,\"distance\":0.003162,"
        "\"search_step\":null,\"window\":null,\"window_ground\":null,",
        "\"outcome\":\"off_target\",\"step\":300,",
        "{\"leg\":0,\"start_step\":330,\"end_step\":370,\"outcome\":\"no_contact\",\"step\":null,"
        "\"foot\":null,\"aimed\":[0.09,0.07,-0.09],\"error\":null,\"target\":null,"
        "\"distance\":null,",
        "\"torso_shift\":null,\"foot_force\":null}",
        // Cut off by the run's end: no outcome yet, and where its foot was.
        "{\"leg\":0,\"start_step\":400,\"end_step\":null,\"outcome\":\"unfinished\",\"step\":null,"
        "\"foot\":null,\"aimed\":[0.038,0.05,-0.115],",
        "\"foot_force\":9.516,\"end_foot\":[0.038123,0.049877,-0.1152],\"end_on_ground\":true}",
        "{\"x\":0.038,\"y\":-0.05,\"radius\":0.006,\"seen\":{\"step\":78,\"side\":\"right\"},"
        "\"reaches\":1}",
        "{\"x\":0.3,\"y\":0.0,\"radius\":0.006,\"seen\":null,\"reaches\":0}"})
    EXPECT_NE(json.find(part), std::string::npos) << part << "\n" << json;
}

TEST(Report, TheSummaryLineCountsEveryOutcomeAndNamesTargetsNeverReached) {
  const Record record;
  EXPECT_EQ(sim::summary_line(record.run()),
            "sim: 600 steps, 5 reaches: 2 on target, 1 off target, 1 never touched the ground, 1 "
            "still under way when the run ended; 3.6 mm from the centre on average; target 2 "
            "never reached");
  // Without a reach under way at the end, the line reads as it always did.
  Record between;
  between.reaches.pop_back();
  EXPECT_EQ(sim::summary_line(between.run()),
            "sim: 600 steps, 4 reaches: 2 on target, 1 off target, 1 never touched the ground; "
            "3.6 mm from the centre on average; target 2 never reached");
  Record idle;
  idle.reaches.clear();
  EXPECT_EQ(sim::summary_line(idle.run(5)),
            "sim: 5 steps, 0 reaches; targets 0, 1, 2 never reached");
}

}  // namespace
