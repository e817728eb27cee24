// reach_map.png as a reader sees it, read back from its PNG file.
#include "tools/reach_map/reach_map_picture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/png_reader.h"

namespace {

using support::Rgb;

TEST(ReachMapPicture, APointsTileTakesTheColourOfItsMissAndNothingIsCutOff) {
  sim::reach_map::Settings settings;
  settings.spacing_um = 10'000;
  std::vector<sim::reach_map::Outcome> outcomes;
  for (const double y : {-0.05, 0.05}) {
    sim::reach_map::Outcome o;
    o.point = {0.04, y};
    o.leg = y > 0 ? 0 : 2;
    o.seen = true;
    o.reach = sim::ReachOutcome::on_target;
    o.miss = 0.0;
    outcomes.push_back(o);
  }
  const sim::reach_map::Summary summary = sim::reach_map::summarise(outcomes);
  const support::Picture picture = support::saved_picture(
      "reach_map.png", sim::reach_map::map_picture_png(settings, summary, outcomes));
  ASSERT_GT(picture.width, 0);
  // A miss of 0 is the darkest green of the scale, a hit's colour.
  int hit_green = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) hit_green += picture.at(x, y) == Rgb{0, 102, 56};
  EXPECT_GT(hit_green, 2 * 10);
  EXPECT_EQ(support::ink_at_edges(picture, 3), 0);
}

}  // namespace
