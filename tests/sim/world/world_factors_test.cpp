// The world keys for what a real robot varies: read with their values,
// refused by key and reason outside their range or where they mean nothing,
// and given in report.json only for a robot that is not the model, so that a
// world spelling every default out reports exactly what one that does not
// reports.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "sim/core/factors.h"
#include "sim/record/run_report.h"
#include "sim/world/world_file.h"

namespace {

std::string report_of(const sim::WorldConfig &world) {
  const std::vector<sim::Placement> placements;
  const std::vector<sim::Reach> reaches;
  const std::vector<std::optional<sim::Sighting>> sightings(world.targets.size());
  const std::vector<sim::Vec2> footprint;
  return sim::report_json({world, 600, false, placements, reaches, sightings, footprint});
}

const std::string every_key =
    "steps = 600\nseed = 12345\n"
    "[robot]\nfriction = 0.8\nservo_strength = 0.7\nservo_latency_ms = 64\npayload_kg = 0.25\n"
    "[camera]\nroll_error_deg = -1\npitch_error_deg = 0.5\nyaw_error_deg = 1\n"
    "fov_error_deg = -0.75\nnoise = 2\ngain = 1.1\n";

TEST(WorldFactors, EveryKeyIsReadAndReportedWithItsValue) {
  const sim::WorldConfig world = sim::parse_world(every_key, "w.toml");
  const sim::Factors &f = world.factors;
  EXPECT_EQ(f.friction, 0.8);
  EXPECT_EQ(f.servo_strength, 0.7);
  EXPECT_EQ(f.servo_latency_ms, 64.0);
  EXPECT_EQ(f.payload_kg, 0.25);
  EXPECT_EQ(f.roll_error_deg, -1.0);
  EXPECT_EQ(f.pitch_error_deg, 0.5);
  EXPECT_EQ(f.yaw_error_deg, 1.0);
  EXPECT_EQ(f.fov_error_deg, -0.75);
  EXPECT_EQ(f.noise, 2.0);
  EXPECT_EQ(f.gain, 1.1);
  EXPECT_EQ(world.seed, 12345);
  const nlohmann::json factors = nlohmann::json::parse(report_of(world))["factors"];
  ASSERT_EQ(factors.size(), sim::factor_keys().size() + 1);
  for (const sim::FactorKey &key : sim::factor_keys())
    EXPECT_EQ(factors[std::string(key.path)], world.factors.*key.field) << key.path;
  EXPECT_EQ(factors["seed"], 12345);

  // The kinematic engine's robot has only a camera's levels to vary.
  const sim::WorldConfig kinematic =
      sim::parse_world("engine = \"kinematic\"\nsteps = 600\n[camera]\nnoise = 1.5\n", "k.toml");
  EXPECT_EQ(nlohmann::json::parse(report_of(kinematic))["factors"],
            nlohmann::json::parse(R"({"camera.noise":1.5,"camera.gain":1.0,"seed":0})"));
}

TEST(WorldFactors, AWorldSpellingOutEveryDefaultIsTheModelAndReportsExactlyWhatTheModelDoes) {
  std::string spelled = "steps = 600\nseed = 0\n[robot]\n[camera]\n[[target]]\nx = 0.04\n";
  for (const sim::FactorKey &key : sim::factor_keys()) {
    const std::string line =
        std::string(key.name()) + " = " + sim::exact_number(key.model()) + "\n";
    spelled.insert(spelled.find(key.table() == "robot" ? "[camera]" : "[[target]]"), line);
  }
  const sim::WorldConfig plain = sim::parse_world("steps = 600\n[[target]]\nx = 0.04\n", "w.toml");
  const sim::WorldConfig defaults = sim::parse_world(spelled, "w.toml");
  EXPECT_TRUE(sim::robot_is_the_model(defaults)) << spelled;
  EXPECT_EQ(report_of(defaults), report_of(plain));
  EXPECT_EQ(report_of(plain).find("factors"), std::string::npos);
}

sim::WorldFileError error_of(const std::string &text) {
  try {
    sim::parse_world(text, "w.toml");
  } catch (const sim::WorldFileError &error) {
    return error;
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return sim::WorldFileError("", "", "");
}

TEST(WorldFactors, AValueOutsideItsRangeOrOfTheWrongKindIsRefusedByKeyAndReason) {
  for (const sim::FactorKey &key : sim::factor_keys()) {
    const std::string header = "steps = 600\n[" + std::string(key.table()) + "]\n";
    for (const double value : {key.low - 0.001, key.high + 0.001}) {
      const sim::WorldFileError error =
          error_of(header + std::string(key.name()) + " = " + sim::exact_number(value) + "\n");
      EXPECT_EQ(error.key, key.path);
      EXPECT_NE(error.reason.find("must be from " + sim::factor_range_text(key)), std::string::npos)
          << error.reason;
      EXPECT_NE(error.reason.find("not " + sim::exact_number(value)), std::string::npos)
          << error.reason;
    }
    for (const double value : {key.low, key.high})
      EXPECT_NO_THROW(sim::parse_world(
          header + std::string(key.name()) + " = " + sim::exact_number(value) + "\n", "w.toml"));
    EXPECT_EQ(error_of(header + std::string(key.name()) + " = \"1\"\n").reason, "must be a number");
    EXPECT_EQ(error_of(header + std::string(key.name()) + " = nan\n").reason,
              "must be a finite number");
  }
  EXPECT_EQ(error_of("steps = 600\nseed = -1\n").key, "seed");
  EXPECT_EQ(error_of("steps = 600\nseed = 1.5\n").reason, "must be an integer");
  EXPECT_EQ(error_of("steps = 600\n[robot]\nfriciton = 1\n").reason,
            "unknown key; did you mean robot.friction?");
}

TEST(WorldFactors, AFactorWhereItMeansNothingIsRefusedByItsOwnKey) {
  struct Case {
    std::string text;
    std::string key;
    std::string reason;  // a part of it
  };
  const std::string kinematic = "engine = \"kinematic\"\nsteps = 600\n";
  const std::string on_stand = "steps = 600\n[robot]\ntorso = \"fixed\"\n";
  const std::vector<Case> cases = {
      {kinematic + "[robot]\nfriction = 1\n", "robot.friction", "kinematic engine"},
      {kinematic + "[robot]\nservo_latency_ms = 10\n", "robot.servo_latency_ms",
       "kinematic engine"},
      {kinematic + "[camera]\nyaw_error_deg = 1\n", "camera.yaw_error_deg",
       "no mount or lens to be off"},
      {kinematic + "[camera]\nfov_error_deg = 1\n", "camera.fov_error_deg", "kinematic engine"},
      {on_stand + "payload_kg = 0.2\n", "robot.payload_kg", "robot on a stand"},
      {on_stand + "servo_strength = 0.8\n", "robot.servo_strength", "robot on a stand"},
  };
  for (const Case &c : cases) {
    const sim::WorldFileError error = error_of(c.text);
    EXPECT_EQ(error.key, c.key) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << error.reason;
  }
  // What either engine's camera has, and the camera errors on the stand.
  EXPECT_EQ(
      sim::parse_world(kinematic + "[camera]\nnoise = 1\ngain = 0.9\n", "w.toml").factors.gain,
      0.9);
  EXPECT_EQ(sim::parse_world(on_stand + "[camera]\npitch_error_deg = 1\n", "w.toml")
                .factors.pitch_error_deg,
            1.0);
}

}  // namespace
