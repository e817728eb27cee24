// The video's caption tells what a viewer cannot see for themselves: which
// view of the head camera the inset shows, and which front leg is which.
#include "sim/draw/video_caption.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(VideoCaption, NamesTheInsetsViewAndEachFrontLegsSide) {
  for (const auto &[view, words] :
       {std::pair{sim::View::left, "inset: the head camera, left view"},
        std::pair{sim::View::right, "inset: the head camera, right view"},
        std::pair{sim::View::forward, "looking ahead"}}) {
    const std::vector<std::string> lines =
        sim::video_caption_lines(236, 7.552, sim::LegState::placed, sim::LegState::at_rest, view);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].rfind("step 236, 7.55 s", 0), 0u) << lines[0];
    EXPECT_NE(lines[0].find(words), std::string::npos) << lines[0];
    EXPECT_EQ(lines[1], "left leg (near side): placed      right leg (far side): at rest");
  }
}

}  // namespace
