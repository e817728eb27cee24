// The physics engine's head camera against what a world may hold beyond the
// discs in view: discs far away, huge ones, a thousand of them, and discs
// that overlap. The discs in view look exactly the same whatever else is
// there, and where discs overlap the first in file order shows.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <set>
#include <vector>

#include "sim/core/joints.h"
#include "sim/engines/physics/physics_engine.h"

namespace {

using Image = std::vector<unsigned char>;

const sim::Target left_disc{0.038, 0.05, 0.006, {214, 30, 30}};

// The camera's image once the head has turned to the left look, with a video
// frame filmed just before it when `filmed` is given (it gets the frame). Each
// world is drawn in a process of its own, as each run is: Mesa's driver leaks
// what it allocated whenever its display is closed and opened again in one
// process.
Image left_look(const std::vector<sim::Target> &targets, Image *filmed = nullptr) {
  Image image(3u * 160u * 160u);
  int ends[2];
  if (::pipe(ends) != 0) return {};
  const pid_t child = ::fork();
  if (child == 0) {
    sim::WorldConfig world;
    world.targets = targets;
    sim::PhysicsEngine engine(world);
    sim::SetPoints set_points;
    set_points.set(sim::head_tilt_joint, -1.24);
    set_points.set(sim::head_pan_joint, 0.4);
    set_points.set(sim::head_roll_joint, -0.26);
    for (int step = 0; step < 30; ++step) engine.advance(set_points);
    Image frame(filmed != nullptr ? filmed->size() : 0);
    if (filmed != nullptr) engine.overview().film(320, 240, frame);
    engine.render(image);
    bool sent = ::write(ends[1], image.data(), image.size()) == static_cast<ssize_t>(image.size());
    if (filmed != nullptr)
      sent = sent &&
             ::write(ends[1], frame.data(), frame.size()) == static_cast<ssize_t>(frame.size());
    ::_exit(sent ? 0 : 1);
  }
  ::close(ends[1]);
  const auto read_all = [&](Image &into) {
    std::size_t got = 0;
    for (ssize_t n;
         got < into.size() && (n = ::read(ends[0], into.data() + got, into.size() - got)) > 0;)
      got += static_cast<std::size_t>(n);
    return got == into.size();
  };
  const bool whole = read_all(image) && (filmed == nullptr || read_all(*filmed));
  ::close(ends[0]);
  int status = 0;
  ::waitpid(child, &status, 0);
  if (!whole || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return {};
  return image;
}

int pixels_of(const Image &image, const std::array<std::uint8_t, 3> &colour) {
  int count = 0;
  for (std::size_t i = 0; i < image.size(); i += 3)
    count += image[i] == colour[0] && image[i + 1] == colour[1] && image[i + 2] == colour[2];
  return count;
}

TEST(PhysicsCamera, DiscsFarAwayHugeOrManyLeaveTheDiscsInViewAsTheyWere) {
  const Image alone = left_look({left_disc});
  ASSERT_FALSE(alone.empty());
  ASSERT_GT(pixels_of(alone, left_disc.color), 40);
  std::vector<sim::Target> thousand{left_disc};
  for (int i = 1; i < 1000; ++i)  // a grid behind the robot, out of view
    thousand.push_back({-0.3 - 0.02 * (i / 40), -0.4 + 0.02 * (i % 40), 0.006, {214, 30, 30}});
  const std::vector<std::vector<sim::Target>> worlds{
      {left_disc, {100.0, 0.0, 0.006, {214, 30, 30}}},
      {left_disc, {-20.0, 0.0, 10.0, {214, 30, 30}}},
      thousand,
  };
  for (std::size_t w = 0; w < worlds.size(); ++w)
    EXPECT_TRUE(left_look(worlds[w]) == alone) << "world " << w;
}

// The model's own look is for people (lit, shaded, a checker floor); the head
// camera sees only the flat colours the controller's tables were made for,
// even right after a video frame drew the model in its own look.
TEST(PhysicsCamera, SeesOnlyFlatCalibratedColoursWhileTheVideoShowsTheLitModel) {
  Image frame(3u * 320u * 240u);
  const Image image = left_look({left_disc}, &frame);
  ASSERT_FALSE(image.empty());
  const std::vector<std::array<std::uint8_t, 3>> flat{
      {20, 120, 60}, {15, 15, 18}, {25, 25, 30}, left_disc.color};
  int others = 0;
  for (std::size_t i = 0; i < image.size(); i += 3) {
    const std::array<std::uint8_t, 3> pixel{image[i], image[i + 1], image[i + 2]};
    others += std::find(flat.begin(), flat.end(), pixel) == flat.end();
  }
  EXPECT_EQ(others, 0) << "pixels of the camera's image in no flat colour";
  EXPECT_GT(pixels_of(image, {20, 120, 60}), 10000);
  EXPECT_GT(pixels_of(image, left_disc.color), 40);
  // The video's frame: shaded, so it holds many colours, none of them the
  // camera's flat floor.
  std::set<std::array<std::uint8_t, 3>> colours;
  for (std::size_t i = 0; i < frame.size(); i += 3)
    colours.insert({frame[i], frame[i + 1], frame[i + 2]});
  EXPECT_GT(colours.size(), 200u);
  EXPECT_LT(pixels_of(frame, {20, 120, 60}), 100);
}

TEST(PhysicsCamera, WhereDiscsOverlapTheFirstInFileOrderShows) {
  const sim::Target red = left_disc;
  const sim::Target blue{red.x + 0.004, red.y + 0.003, 0.006, {30, 30, 214}};
  for (const auto &[first, second] : {std::pair{red, blue}, std::pair{blue, red}}) {
    const Image first_alone = left_look({first});
    const Image both = left_look({first, second});
    ASSERT_FALSE(both.empty());
    ASSERT_EQ(first_alone.size(), both.size());
    int shown = 0;
    int hidden = 0;
    for (std::size_t i = 0; i < both.size(); i += 3) {
      if (first_alone[i] != first.color[0] || first_alone[i + 2] != first.color[2]) continue;
      (both[i] == first.color[0] && both[i + 2] == first.color[2] ? shown : hidden) += 1;
    }
    EXPECT_GT(shown, 40);
    EXPECT_EQ(hidden, 0) << "the disc first in file order lost pixels to the second";
    EXPECT_GT(pixels_of(both, second.color), 5);
  }
}

}  // namespace
