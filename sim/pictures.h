// The run's pictures: camera frames, the ground seen from above, and a plot of
// the reaching joints over time. Written as PNG without timestamps, so the
// same world gives the same files.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "sim/config.h"
#include "sim/engine.h"
#include "sim/reaches.h"
#include "sim/report.h"

namespace sim {

using Rgb = std::array<std::uint8_t, 3>;

// An RGB raster, 3 bytes per pixel, row after row, with a few drawing tools.
class Canvas {
 public:
  Canvas(int width, int height, Rgb background);
  int width() const { return width_; }
  int height() const { return height_; }
  const std::vector<unsigned char> &pixels() const { return pixels_; }
  Rgb at(int x, int y) const;

  // Drawing outside the canvas is clipped.
  void set(int x, int y, Rgb color);
  void mix(int x, int y, Rgb color);                     // half the colour over what is there
  void fill(int x0, int y0, int x1, int y1, Rgb color);  // inclusive corners
  void line(int x0, int y0, int x1, int y1, Rgb color);

 private:
  int width_;
  int height_;
  std::vector<unsigned char> pixels_;
};

// Writes 8-bit RGB pixels as a PNG file; false if it cannot.
bool write_png(const std::string &path, int width, int height, const unsigned char *rgb);

inline constexpr std::array<int, 9> plotted_joints{0, 1, 2, 6, 7, 8, 12, 13, 14};

// Temporary: the joint history of a run.
class JointHistory {
 public:
  JointHistory(std::int64_t, double) {}
  void add(std::int64_t, const std::array<float, plotted_joints.size()> &set_points,
           const std::array<float, plotted_joints.size()> &positions) {
    if (record.positions.size() < 20000) {
      record.set_points.push_back(set_points);
      record.positions.push_back(positions);
    }
  }
  void mark_reach(std::int64_t) {}
  struct {
    std::vector<std::array<float, plotted_joints.size()>> set_points;
    std::vector<std::array<float, plotted_joints.size()>> positions;
  } record;
};
bool write_joint_plot(const std::string &path, const JointHistory &history);
bool write_top_view(const std::string &path, const WorldConfig &world,
                    const std::vector<Placement> &placements);
bool write_camera_frame(const std::string &path, int width, int height, const unsigned char *rgb,
                        const std::string &title, std::optional<Window> window);

struct JointRecord {
  std::vector<std::array<float, plotted_joints.size()>> set_points;
  std::vector<std::array<float, plotted_joints.size()>> positions;
};

// The ground from above (x up, y to the left): the area each side view covers,
// the targets, the front hips, and every placement (white on a target, black
// off it).
Canvas draw_top_view(const WorldConfig &world, const std::vector<Placement> &placements);

// One panel per plotted joint, top to bottom in plotted_joints order: the
// set-point in orange, the position in blue, against steps.
Canvas draw_joint_plot(const JointRecord &record);

}  // namespace sim
