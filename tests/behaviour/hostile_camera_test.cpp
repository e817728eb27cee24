// The real controller under cameras it was not made for: tiny, one pixel
// thin, wider or taller than square, larger than the tables, and a camera
// that hands out no image at all. Whatever the camera, the controller runs
// every mode the image allows, to the end of the run, with no crash, no
// sanitizer report and only its own console lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <ostream>
#include <regex>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

namespace {

using simrun::Call;
using simrun::RunResult;

struct Camera {
  const char *name;
  int width;
  int height;
  bool image = true;
};

// Names the case in test listings instead of dumping its bytes.
void PrintTo(const Camera &camera, std::ostream *out) {
  *out << camera.width << " x " << camera.height << (camera.image ? "" : ", no image");
}

constexpr int run_steps = 400;  // three whole cycles and the start of a fourth

// Red in both views: a target-level 7 x 7 patch at the origin, which every
// camera shows at least a pixel of, and larger red areas further out, which
// reach the search's position limit on the large cameras and lie outside the
// square view of the wide one.
std::string world_for(const Camera &camera) {
  std::string world = "engine = \"kinematic\"\nsteps = " + std::to_string(run_steps) + "\n";
  world += "[camera]\nwidth = " + std::to_string(camera.width) +
           "\nheight = " + std::to_string(camera.height) + "\n";
  if (!camera.image) world += "image = false\n";
  for (const char *view : {"left", "right"}) {
    world += "[[block]]\nview = \"" + std::string(view) + "\"\nx = 0\ny = 0\n";
  }
  struct Area {
    const char *view;
    int x, y, width, height;
  };
  // Only the areas the camera shows at least a pixel of: a world may not
  // hold a block wholly outside its image.
  for (const Area &area : {Area{"left", 140, 140, 60, 60}, Area{"right", 180, 10, 20, 20},
                           Area{"right", 120, 150, 40, 14}}) {
    if (area.x >= camera.width || area.y >= camera.height) continue;
    world += "[[block]]\nview = \"" + std::string(area.view) + "\"\nx = " + std::to_string(area.x) +
             "\ny = " + std::to_string(area.y) + "\nwidth = " + std::to_string(area.width) +
             "\nheight = " + std::to_string(area.height) + "\n";
  }
  return world;
}

bool has_sanitizer_report(const std::string &err) {
  for (const char *mark :
       {"AddressSanitizer", "LeakSanitizer", "UndefinedBehaviorSanitizer", "runtime error"})
    if (err.find(mark) != std::string::npos) return true;
  return false;
}

std::vector<std::string> console_texts(const RunResult &run) {
  std::vector<std::string> texts;
  for (const Call &call : run.calls("robot_console_print")) texts.push_back(call.text("text"));
  return texts;
}

bool printed(const RunResult &run, const std::string &text) {
  const std::vector<std::string> texts = console_texts(run);
  return std::find(texts.begin(), texts.end(), text) != texts.end();
}

class HostileCamera : public ::testing::TestWithParam<Camera> {
 protected:
  static RunResult run() { return simrun::run_reacher(world_for(GetParam())); }
};

TEST_P(HostileCamera, RunsToTheEndThroughEveryModeTheImageAllows) {
  const Camera &camera = GetParam();
  const RunResult run = this->run();
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_FALSE(has_sanitizer_report(run.err)) << run.err;
  ASSERT_FALSE(run.trace.empty());
  EXPECT_EQ(run.trace.back().op, "end");
  EXPECT_EQ(run.trace.back().step, run_steps);

  EXPECT_TRUE(printed(run, "MODE INIT"));
  EXPECT_TRUE(printed(run, " MODE SEARCH\n"));
  if (camera.image) {
    // Red on the first look, to the right, then on the left one cycle later.
    EXPECT_TRUE(printed(run, "MODE TURN_HEAD_RIGHT \n"));
    EXPECT_TRUE(printed(run, "MODE TURN_HEAD_LEFT \n"));
    EXPECT_TRUE(printed(run, " MODE KINE \n"));
  } else {
    // No image counts no red: the controller can only go on searching.
    EXPECT_FALSE(printed(run, "MODE TURN_HEAD_RIGHT \n"));
    EXPECT_FALSE(printed(run, "MODE TURN_HEAD_LEFT \n"));
    EXPECT_FALSE(printed(run, " MODE KINE \n"));
    EXPECT_GE(run.calls("step_function").size(), 8u);
  }
}

TEST_P(HostileCamera, PrintsOnlyItsOwnConsoleLinesWithCountsThePictureCanHold) {
  const Camera &camera = GetParam();
  const RunResult run = this->run();
  ASSERT_EQ(run.status, 0) << run.err;

  static const std::vector<std::regex> fixed = {
      std::regex("MODE INIT"),
      std::regex(" MODE SEARCH\n"),
      std::regex("TAKE PICT\n"),
      std::regex("debut search, e=e\\+1 , e = [0-9]+\n"),
      std::regex("look at left \n"),
      std::regex("look at right \n"),
      std::regex("MODE TURN_HEAD_LEFT \n"),
      std::regex("MODE TURN_HEAD_RIGHT \n"),
      std::regex(" MODE KINE \n"),
      std::regex(
          "xd\\^2\\+yd\\^2\\+zd\\^2-l1\\*l1-l2\\*l2\\)/ \\(2\\*l1\\*l2\\) <> 1,q3impossible"),
      std::regex("yd / \\(l2 \\* cos\\(q3\\)\\+l1\\) <> 1, q2 impossible"),
  };
  static const std::regex search_count("red (left|right) = (-?[0-9]+)\n");
  static const std::regex reach_count("nb_red = (-?[0-9]+), ad\\*ag = 49\n");

  const long pixels = camera.image ? long{camera.width} * camera.height : 0;
  const long square = camera.image ? long{std::min(camera.width, camera.height)} *
                                         std::min(camera.width, camera.height)
                                   : 0;
  for (const std::string &text : console_texts(run)) {
    std::smatch match;
    if (std::regex_match(text, match, search_count)) {
      const long count = std::stol(match[2]);
      EXPECT_GE(count, 0) << text;
      EXPECT_LE(count, pixels) << text;
    } else if (std::regex_match(text, match, reach_count)) {
      const long count = std::stol(match[1]);
      EXPECT_GE(count, 0) << text;
      EXPECT_LE(count, square) << text;
    } else {
      const bool known = std::any_of(fixed.begin(), fixed.end(), [&](const std::regex &format) {
        return std::regex_match(text, format);
      });
      EXPECT_TRUE(known) << "unexpected console text: \"" << text << "\"";
    }
  }
}

TEST_P(HostileCamera, GivesOnlyFiniteSetPoints) {
  const RunResult run = this->run();
  ASSERT_EQ(run.status, 0) << run.err;
  const std::vector<Call> set_points = run.calls("servo_set_position");
  ASSERT_FALSE(set_points.empty());
  for (const Call &call : set_points)
    EXPECT_TRUE(std::isfinite(call.number("position")))
        << "tag " << call.integer("tag") << " at step " << call.step;
}

INSTANTIATE_TEST_SUITE_P(
    Sizes, HostileCamera,
    ::testing::Values(Camera{"one_pixel", 1, 1}, Camera{"seven", 7, 7}, Camera{"eight", 8, 8},
                      Camera{"one_row", 1024, 1}, Camera{"one_column", 1, 1024},
                      Camera{"wide_208x160", 208, 160}, Camera{"tall_120x160", 120, 160},
                      Camera{"larger_than_tables", 200, 200}, Camera{"no_image", 160, 160, false}),
    [](const ::testing::TestParamInfo<Camera> &camera) { return std::string(camera.param.name); });

}  // namespace
