// The joints' history for the plot: every extreme of a long run kept in
// bounded memory.
#include "sim/observe/joint_history.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>

namespace {

sim::JointHistory::Sample all(float value) {
  sim::JointHistory::Sample sample;
  sample.fill(value);
  return sample;
}

TEST(JointHistory, KeepsEveryExtremeOfALongRunInBoundedMemory) {
  constexpr std::int64_t total = 100'000'000;
  sim::JointHistory history(total, 0.032);
  const auto &columns = history.columns();
  ASSERT_LE(columns.size(), static_cast<std::size_t>(sim::JointHistory::plot_columns));
  ASSERT_GE(static_cast<std::int64_t>(columns.size()) * history.steps_per_column(), total);

  // One step's spike deep inside a column is what that column shows.
  constexpr std::int64_t spike = 50'000'017;
  history.add(1, all(NAN), all(0.0f));
  history.add(spike - 1, all(0.5f), all(0.25f));
  history.add(spike, all(3.0f), all(-2.0f));
  history.add(total, all(-1.0f), all(1.0f));
  // Steps outside the run are not part of it.
  history.add(0, all(9.0f), all(9.0f));
  history.add(total + 1, all(9.0f), all(9.0f));
  history.mark_reach(spike);
  history.mark_reach(0);

  const auto at = static_cast<std::size_t>((spike - 1) / history.steps_per_column());
  ASSERT_EQ(at, static_cast<std::size_t>((spike - 2) / history.steps_per_column()));
  const sim::JointHistory::Column &column = columns[at];
  for (std::size_t j = 0; j < sim::JointHistory::joints; ++j) {
    EXPECT_EQ(column.set_points[j].low, 0.5f);
    EXPECT_EQ(column.set_points[j].high, 3.0f);
    EXPECT_EQ(column.positions[j].low, -2.0f);
    EXPECT_EQ(column.positions[j].high, 0.25f);
    // A set-point never given is no value at all.
    EXPECT_FALSE(columns.front().set_points[j].seen);
    EXPECT_EQ(columns.front().positions[j].high, 0.0f);
    EXPECT_EQ(columns.back().positions[j].high, 1.0f);
  }
  EXPECT_TRUE(column.reach_began);
  EXPECT_EQ(history.reaches(), 1);
  EXPECT_EQ(history.last_step(), total);
  EXPECT_FALSE(columns[at + 1].positions[0].seen);

  // A short run gives each step its own column.
  const sim::JointHistory short_run(600, 0.032);
  EXPECT_EQ(short_run.steps_per_column(), 1);
  EXPECT_EQ(short_run.columns().size(), 600u);
}

}  // namespace
