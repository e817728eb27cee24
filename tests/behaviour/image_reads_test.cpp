// The records show the images the controller actually read. The controller
// fetches its image pointer before a head turn and counts red through it
// after the turn: the look frame behind each count, and the image each reach
// was decided on, are the images it read then, named for the view they show.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>

#include "tests/support/sim_run.h"

namespace {

namespace fs = std::filesystem;

std::string frame_name(std::int64_t step, const std::string &view, const std::string &kind) {
  char name[64];
  std::snprintf(name, sizeof name, "frame_%06lld_%s_%s.png", static_cast<long long>(step),
                view.c_str(), kind.c_str());
  return name;
}

TEST(ImageReads, TheLookFrameBehindEachCountShowsTheViewCountedAtTheStepOfTheCount) {
  const simrun::RunResult run = simrun::run_reacher(
      "engine = \"kinematic\"\nsteps = 400\n"
      "[[target]]\nx = 0.038\ny = -0.05\nradius = 0.006\n"
      "[[target]]\nx = 0.045\ny = 0.055\nradius = 0.006\n");
  ASSERT_EQ(run.status, 0) << run.err;
  int counts = 0;
  std::int64_t last_right_count = -1;
  for (const simrun::Call &call : run.calls("robot_console_print")) {
    const std::string text = call.text("text");
    for (const std::string view : {"left", "right"}) {
      if (text.rfind("red " + view + " = ", 0) != 0) continue;
      ++counts;
      // Only the first few looks per view are saved as frames.
      if (counts > 4) continue;
      EXPECT_TRUE(fs::exists(fs::path(run.folder) / frame_name(call.step, view, "look")))
          << "no look frame of the " << view << " view at step " << call.step
          << ", where the controller counted: " << text;
      if (view == "right") last_right_count = call.step;
    }
  }
  ASSERT_GE(counts, 2);
  ASSERT_GE(last_right_count, 0);
  // The right reach was decided on the image read for the count before it.
  const nlohmann::json report =
      nlohmann::json::parse(simrun::read_file(run.folder + "/report.json"));
  bool right_reach = false;
  for (const auto &reach : report["reaches"]) {
    if (reach["leg"] != 2) continue;
    right_reach = true;
    EXPECT_FALSE(reach["window"].is_null()) << reach.dump();
    EXPECT_TRUE(fs::exists(fs::path(run.folder) /
                           frame_name(reach["search_step"].get<std::int64_t>(), "right", "reach")));
    break;
  }
  EXPECT_TRUE(right_reach);
}

}  // namespace
