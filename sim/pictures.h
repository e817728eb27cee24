// The run's pictures: the joints over time, the ground seen from above with
// where the feet came to rest, and the camera images the controller acted on.
// Written as PNG without timestamps, so the same inputs give the same files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/reaches.h"
#include "sim/report.h"

namespace sim {

// The joints plotted: the reaching legs' three joints, left leg (leg 0) then
// right leg (leg 2), and the three head joints.
inline constexpr std::array<int, 9> plotted_joints{0, 1, 2, 6, 7, 8, 12, 13, 14};
// Their names for people, in the same order.
inline constexpr std::array<const char *, plotted_joints.size()> plotted_joint_names{
    "left leg, joint 1",  "left leg, joint 2",  "left leg, joint 3",
    "right leg, joint 1", "right leg, joint 2", "right leg, joint 3",
    "head tilt",          "head pan",           "head second tilt"};

// A run's joint history at bounded memory. The run's length is known when it
// starts, so each pixel column of the plot covers a fixed run of steps and
// keeps the lowest and highest set-point and position over them: nothing is
// thinned away, and memory does not grow with the run's length.
class JointHistory {
 public:
  static constexpr int plot_columns = 1240;
  static constexpr std::size_t joints = plotted_joints.size();
  using Sample = std::array<float, joints>;

  // Lowest and highest of the finite values seen; empty when none was.
  struct Span {
    float low = 0.0f;
    float high = 0.0f;
    bool seen = false;
    void add(float value);
  };
  struct Column {
    std::array<Span, joints> set_points;
    std::array<Span, joints> positions;
    bool reach_began = false;
  };

  JointHistory(std::int64_t total_steps, double seconds_per_step);
  // Steps count from 1 to total_steps; others are ignored. A set-point never
  // given is NaN and is not drawn.
  void add(std::int64_t step, const Sample &set_points, const Sample &positions);
  // The controller began a reach at this step.
  void mark_reach(std::int64_t step);

  std::int64_t total_steps() const { return total_steps_; }
  double seconds_per_step() const { return seconds_per_step_; }
  std::int64_t steps_per_column() const { return steps_per_column_; }
  std::int64_t last_step() const { return last_step_; }  // 0 before any
  std::int64_t reaches() const { return reaches_; }
  const std::vector<Column> &columns() const { return columns_; }

 private:
  std::int64_t total_steps_;
  double seconds_per_step_;
  std::int64_t steps_per_column_;
  std::int64_t last_step_ = 0;
  std::int64_t reaches_ = 0;
  std::vector<Column> columns_;
};

// One panel per plotted joint, set-point and position against time. False if
// the file cannot be written.
bool write_joint_plot(const std::string &path, const JointHistory &history);

// The ground from above, forward up: the hips and the ground each front foot
// can reach, the ground each side view sees, the targets numbered as in the
// world file, and every placement. Reaches (placements away from the foot's
// rest point under its hip) are numbered in time order and marked on or off
// target; rest placements get a small plain mark.
bool write_top_view(const std::string &path, const WorldConfig &world,
                    const std::vector<Placement> &placements);

// A camera image enlarged so its pixels can be seen, with a title and, when a
// window was found, its 7 x 7 pixels outlined.
bool write_camera_frame(const std::string &path, int width, int height, const unsigned char *rgb,
                        const std::string &title, std::optional<Window> window);

}  // namespace sim
