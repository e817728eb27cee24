// World files: every key read, every mistake named by its key and reason,
// and the built-in default world.
#include "sim/world/world_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/support/folders.h"

namespace {

namespace fs = std::filesystem;

sim::WorldFileError error_of(const std::string &text) {
  try {
    sim::parse_world(text, "w.toml");
  } catch (const sim::WorldFileError &error) {
    return error;
  }
  ADD_FAILURE() << "no error for:\n" << text;
  return sim::WorldFileError("", "", "");
}

std::string repeated(const std::string &text, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += text;
  return out;
}

TEST(WorldFile, ErrorsNameTheKeyAndTheReason) {
  struct Case {
    std::string text;
    std::string key;
    std::string reason;  // a part of it
  };
  const std::vector<Case> cases = {
      {"time_step_ms = 32\n", "steps", "required"},
      {"steps = 0\n", "steps", "between 1"},
      {"steps = -5\n", "steps", "between 1"},
      {"steps = \"600\"\n", "steps", "integer"},
      {"steps = 600\nstep = 3\n", "step", "unknown key; did you mean steps?"},
      {"steps = 600\n[[targets]]\nx = 0\n", "targets", "unknown key; did you mean [[target]]?"},
      {"steps = 600\n[Camera]\nwidth = 1\n", "Camera", "unknown key; did you mean [camera]?"},
      {"steps = 600\n[camera]\nwidht = 1\n", "camera.widht",
       "unknown key; did you mean camera.width?"},
      {"steps = 600\nspeed = 1\n", "speed", "unknown key"},
      {"engine = \"kinematic\"\nsteps = 600\n[robot]\ntorso = \"free\"\n", "robot",
       "means nothing to the kinematic engine"},
      {"steps = 600\n[robot]\ntorso = \"loose\"\n", "robot.torso", "\"free\""},
      {"steps = 600\n[robot]\nmass = 2\n", "robot.mass", "unknown key"},
      {"steps = 600\n[camera]\nwidth = 0\n", "camera.width", "between 1 and 1024"},
      {"steps = 600\n[camera]\nheight = 1025\n", "camera.height", "between 1 and 1024"},
      {"steps = 600\n[camera]\nwidth = 160.0\n", "camera.width", "integer"},
      {"steps = 600\n[camera]\ndepth = 3\n", "camera.depth", "unknown key"},
      {"steps = 600\ncamera = 3\n", "camera", "table"},
      {"steps = 600\n[[target]]\nradius = 0\n", "target[0].radius", "positive"},
      {"steps = 600\n[[target]]\nx = 0.1\n[[target]]\nradius = -0.01\n", "target[1].radius",
       "positive"},
      {"steps = 600\n[[target]]\nx = \"near\"\n", "target[0].x", "number"},
      {"steps = 600\n[[target]]\ncolor = [30, 300, 0]\n", "target[0].color",
       "channel green must be between 0 and 255, not 300"},
      {"steps = 600\n''=5\n", "\"\"", "unknown key"},
      {"steps = 600\n[camera]\n\"a b\" = 1\n", "camera.\"a b\"", "unknown key"},
      {"engine = \"kinematic\"\nsteps = 600\njoint_speed = 1e-9\n", "joint_speed",
       "no joint would visibly move"},
      {"steps = 600\n[[block]]\nview = \"left\"\nx = 160\n", "block[0].x",
       "wholly outside the 160 x 160 image"},
      {"steps = 600\n[[target]]\nsize = 1\n", "target[0].size", "unknown key"},
      {"steps = 600\ntime_step_ms = 0\n", "time_step_ms", "positive"},
      {"steps = 600\n[camera\n", "(syntax)", "line 2"},
      {"engine = \"ode\"\nsteps = 600\n", "engine", "\"physics\" or \"kinematic\""},
      {"steps = 600\njoint_speed = 0.5\n", "joint_speed", "physics engine"},
      {"steps = 600\ntime_step_ms = 5000\n", "time_step_ms", "between 0.1 and 1000"},
      {"engine = \"kinematic\"\nsteps = 600\ntime_step_ms = 1.7e308\n", "time_step_ms",
       "at most 1000"},
      {"steps = 600\n" + repeated("[[target]]\n", 1001), "target",
       "holds 1001 discs; the physics engine draws at most 1000"},
      {"engine = \"kinematic\"\nsteps = 600\n" + repeated("[[target]]\n", 1001), "target",
       "holds 1001 discs; the kinematic engine takes at most 1000"},
      {"engine = \"kinematic\"\nsteps = 600\n[output]\nvideo = true\n", "output.video",
       "kinematic engine"},
  };
  for (const Case &c : cases) {
    const sim::WorldFileError error = error_of(c.text);
    EXPECT_EQ(error.file, "w.toml") << c.text;
    EXPECT_EQ(error.key, c.key) << c.text;
    EXPECT_NE(error.reason.find(c.reason), std::string::npos) << c.text << error.reason;
    EXPECT_EQ(std::string(error.what()), "w.toml: " + error.key + ": " + error.reason);
  }
}

std::string dotted_key(int parts) { return "a" + repeated(".a", parts - 1); }

TEST(WorldFile, NestingTooDeepForTheParserIsRefusedBeforeParsing) {
  // 40,000 parts overflowed the parser's stack; 32 levels are allowed, in
  // keys, headers and values alike.
  const std::string steps = "steps = 600\n";
  for (const std::string &text :
       {steps + dotted_key(40'000) + " = 1\n", steps + "[" + dotted_key(33) + "]\n",
        steps + "[[" + dotted_key(32) + "]]\n", steps + "x = " + std::string(33, '[') + "]\n",
        steps + "x = {a = \"]}\", " + dotted_key(32) + " = 1}\n"}) {
    const sim::WorldFileError error = error_of(text);
    EXPECT_EQ(error.key, "(syntax)") << text.substr(0, 80);
    EXPECT_NE(error.reason.find("line 2: nests deeper than 32 levels"), std::string::npos)
        << error.reason;
  }
  for (const std::string &text :
       {steps + dotted_key(32) + " = 1\n",
        steps + "x = " + std::string(31, '[') + std::string(31, ']') + "\n",
        steps + "x = \"\"\"\n[[[[\n\"\"\"\n" + dotted_key(32) + " = 1\n"})
    EXPECT_EQ(error_of(text).reason, "unknown key") << text.substr(0, 80);
}

TEST(WorldFile, AFileThatCannotBeReadIsNamedWithTheReason) {
  // What is not a regular file is the file reader's to say; here only that
  // a world file gets its limit and the reason reaches the message whole.
  const fs::path folder = support::fresh_folder("sim_world_files");
  const fs::path huge = folder / "huge.toml";
  std::ofstream(huge) << "steps = 1\n";
  fs::resize_file(huge, 2u << 20);  // sparse: no disk needed
  // A world of the most discs is some 100 kB; the parser would take seconds
  // over 16 MiB.
  const std::pair<fs::path, const char *> cases[] = {
      {huge, "is 2097152 bytes; a world file may have at most 1048576 (1 MiB)"},
      {folder / "missing.toml", "cannot be opened (No such file or directory)"}};
  for (const auto &[path, reason] : cases) {
    try {
      sim::load_world_file(path.string());
      ADD_FAILURE() << path;
    } catch (const sim::WorldFileError &error) {
      EXPECT_EQ(std::string(error.what()), path.string() + ": (file): " + reason);
    }
  }
}

TEST(WorldFile, ReadsEveryKeyAndTheSizeBounds) {
  const sim::WorldConfig world = sim::parse_world(
      "engine = \"kinematic\"\nsteps = 7\ntime_step_ms = 16\njoint_speed = 0.5\nrun_calls = 2\n"
      "stop_after_reaches = 3\n[output]\ntrace = false\nstate = false\npictures = false\n"
      "[camera]\nwidth = 1024\nheight = 1\nimage = false\n"
      "[[target]]\nx = 0.038\ny = -0.05\nradius = 0.006\ncolor = [214, 30, 31]\n"
      "[[target]]\nradius = 1\n",
      "w.toml");
  EXPECT_EQ(world.engine, sim::EngineKind::kinematic);
  EXPECT_EQ(world.steps, 7);
  EXPECT_EQ(world.time_step_ms, 16.0);
  EXPECT_EQ(world.joint_speed, 0.5);
  EXPECT_EQ(world.run_calls, 2);
  EXPECT_EQ(world.stop_after_reaches, 3);
  EXPECT_FALSE(world.write_trace || world.write_state || world.write_pictures || world.write_video);
  EXPECT_EQ(world.camera_width, 1024);
  EXPECT_EQ(world.camera_height, 1);
  EXPECT_FALSE(world.camera_image);
  ASSERT_EQ(world.targets.size(), 2u);
  EXPECT_EQ(world.targets[0].x, 0.038);
  EXPECT_EQ(world.targets[0].y, -0.05);
  EXPECT_EQ(world.targets[0].color, (std::array<std::uint8_t, 3>{214, 30, 31}));
  EXPECT_EQ(world.targets[1].radius, 1.0);
  EXPECT_EQ(world.targets[1].color[0], 214);  // the default red
  // The physics robot stands free unless the world puts it on a stand.
  EXPECT_EQ(sim::parse_world("steps = 1\n", "w.toml").torso, sim::Torso::free);
  EXPECT_EQ(sim::parse_world("steps = 1\n[robot]\ntorso = \"fixed\"\n", "w.toml").torso,
            sim::Torso::fixed);
}

TEST(WorldFile, TheEmbeddedDefaultIsTheShippedFileWithATargetOnEachSide) {
  const sim::WorldConfig world = sim::default_world();
  EXPECT_EQ(world.steps, 600);
  ASSERT_EQ(world.targets.size(), 2u);
  EXPECT_LT(world.targets[0].y, 0.0);
  EXPECT_GT(world.targets[1].y, 0.0);
}

}  // namespace
