// The video's frames are drawn in two layers, the ground once and what stands
// on it at each frame: each must be exactly the scene drawn whole, however
// the robot and the discs moved since the ground was drawn.
#include "sim/engines/physics/overview.h"

#include <gtest/gtest.h>
#include <mujoco/mujoco.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "sim/engines/physics/offscreen.h"
#include "sim/engines/physics/renderer.h"
#include "sim/engines/physics/robot_model.h"

namespace {

using Image = std::vector<unsigned char>;

struct DataDeleter {
  void operator()(mjData *data) const { mj_deleteData(data); }
};

struct Frames {
  Image layered;
  Image whole;
};

Frames film_both(sim::Overview &overview, int width, int height) {
  Frames frames{Image(3u * static_cast<std::size_t>(width * height)),
                Image(3u * static_cast<std::size_t>(width * height))};
  overview.film(width, height, frames.layered);
  overview.film_in_one_pass(width, height, frames.whole);
  return frames;
}

// Pixels whose colours differ by more than a step of one byte: drawn alone,
// the floor's texture comes out a step apart in a few pixels from the floor
// drawn with the rest, which no eye sees and no frame is about.
int differing_pixels(const Frames &frames) {
  int count = 0;
  for (std::size_t i = 0; i < frames.whole.size(); i += 3) {
    bool differs = false;
    for (std::size_t c = 0; c < 3; ++c)
      differs = differs || std::abs(frames.layered[i + c] - frames.whole[i + c]) > 1;
    count += differs;
  }
  return count;
}

int reddish_pixels(const Image &image) {
  int count = 0;
  for (std::size_t i = 0; i < image.size(); i += 3)
    count += image[i] > 120 && image[i + 1] < 60 && image[i + 2] < 60;
  return count;
}

struct Scene {
  explicit Scene(sim::Torso torso) {
    world.torso = torso;
    world.targets = {{0.038, 0.05, 0.006, {214, 30, 30}}, {0.04, -0.05, 0.008, {30, 30, 214}}};
    model = sim::compile_model(sim::world_model_xml(world));
    data.reset(mj_makeData(model.get()));
    mj_forward(model.get(), data.get());
  }
  sim::WorldConfig world;
  sim::ModelPointer model;
  std::unique_ptr<mjData, DataDeleter> data;
};

// On a stand the paws rest half sunk below the floor they seem to stand on;
// a free robot's first pose has them below it too: the floor hides those
// parts whichever layer they are drawn in.
TEST(Overview, AFrameDrawnInLayersIsTheSceneDrawnWhole) {
  for (const sim::Torso torso : {sim::Torso::free, sim::Torso::fixed}) {
    SCOPED_TRACE(sim::torso_name(torso));
    Scene scene(torso);
    mjModel &model = *scene.model;
    sim::Renderer renderer(model, sim::disc_ranks(model, scene.world));
    sim::Overview overview(model, *scene.data, renderer);

    // The first frame, which draws the ground.
    const Frames first = film_both(overview, 320, 240);
    EXPECT_EQ(differing_pixels(first), 0);
    EXPECT_GT(reddish_pixels(first.layered), 20) << "the red disc is not in the frame";

    // A front leg lifted and the red disc moved away from under it: the
    // ground drawn before must not keep either where it was.
    const int hip = mj_name2id(&model, mjOBJ_JOINT, "leg0_hip_pitch");
    ASSERT_GE(hip, 0);
    scene.data->qpos[model.jnt_qposadr[hip]] += 0.6;
    const int disc = mj_name2id(&model, mjOBJ_GEOM, "target0");
    ASSERT_GE(disc, 0);
    model.geom_pos[3 * disc] += 0.03;
    mj_forward(&model, scene.data.get());
    const Frames later = film_both(overview, 320, 240);
    EXPECT_EQ(differing_pixels(later), 0);
    EXPECT_NE(later.layered, first.layered);

    // Another size draws its own ground.
    EXPECT_EQ(differing_pixels(film_both(overview, 160, 120)), 0);
  }
}

// A see-through part shows the floor behind it, blended as it is drawn.
TEST(Overview, ASeeThroughPartShowsTheFloorBehindIt) {
  Scene scene(sim::Torso::free);
  mjModel &model = *scene.model;
  const int torso = mj_name2id(&model, mjOBJ_GEOM, "torso");
  ASSERT_GE(torso, 0);
  model.geom_matid[torso] = -1;
  model.geom_rgba[4 * torso + 3] = 0.4f;
  sim::Renderer renderer(model, sim::disc_ranks(model, scene.world));
  sim::Overview overview(model, *scene.data, renderer);
  EXPECT_EQ(differing_pixels(film_both(overview, 320, 240)), 0);
}

}  // namespace

namespace {

// The offscreen renderer draws on one thread, a choice for its own display:
// the controller, ffmpeg and a window, which get the simulator's environment,
// never see it.
TEST(Overview, TheRenderersOwnThreadChoiceIsLeftOutOfTheEnvironment) {
  if (std::getenv("LP_NUM_THREADS") != nullptr) GTEST_SKIP() << "the user chose the threads";
  sim::OffscreenContext::shared();
  EXPECT_EQ(std::getenv("LP_NUM_THREADS"), nullptr);
}

}  // namespace
