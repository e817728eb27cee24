// The worlds of a sweep reuse the model compiled last when only their discs
// moved. The copy must be the very model the world's own text compiles to:
// MuJoCo's binary form of the two, every size, option and array, byte for
// byte.
#include <gtest/gtest.h>
#include <mujoco/mujoco.h>

#include <random>
#include <vector>

#include "sim/engines/physics/robot_model.h"

namespace {

std::vector<char> saved(const mjModel &model) {
  std::vector<char> bytes(static_cast<std::size_t>(mj_sizeModel(&model)));
  mj_saveModel(&model, nullptr, bytes.data(), static_cast<int>(bytes.size()));
  return bytes;
}

TEST(WorldModel, AWorldWhoseDiscsAloneMovedGetsTheModelItsOwnTextCompilesTo) {
  std::mt19937 random(28);
  std::uniform_real_distribution<double> x(-0.05, 0.15);
  std::uniform_real_distribution<double> y(-0.15, 0.15);
  for (const sim::Torso torso : {sim::Torso::free, sim::Torso::fixed})
    for (std::size_t discs = 1; discs <= 3; ++discs)
      for (int round = 0; round < 4; ++round) {
        sim::WorldConfig world;
        world.torso = torso;
        for (std::size_t i = 0; i < discs; ++i)
          world.targets.push_back({x(random), y(random), 0.006, {214, 30, 30}});
        const std::string xml = sim::world_model_xml(world);
        // The first round of each kind compiles; the others copy and move.
        const sim::ModelPointer reused = sim::world_model(world, xml);
        const sim::ModelPointer compiled = sim::compile_model(xml);
        EXPECT_EQ(saved(*reused), saved(*compiled))
            << discs << " discs, round " << round << ", first at " << world.targets[0].x << ", "
            << world.targets[0].y;
      }
}

TEST(WorldModel, ADiscOfAnotherSizeOrColourIsCompiledAnew) {
  sim::WorldConfig world;
  world.targets = {{0.05, 0.05, 0.006, {214, 30, 30}}};
  sim::world_model(world, sim::world_model_xml(world));
  for (const sim::Target &changed : {sim::Target{0.05, 0.05, 0.009, {214, 30, 30}},
                                     sim::Target{0.05, 0.05, 0.009, {30, 30, 214}}}) {
    world.targets = {changed};
    const std::string xml = sim::world_model_xml(world);
    EXPECT_EQ(saved(*sim::world_model(world, xml)), saved(*sim::compile_model(xml)));
  }
}

}  // namespace
