#include "sim/pictures.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>

#include "sim/ground.h"

namespace sim {

Canvas::Canvas(int width, int height, Rgb background)
    : width_(width),
      height_(height),
      pixels_(static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * 3u) {
  fill(0, 0, width - 1, height - 1, background);
}

Rgb Canvas::at(int x, int y) const {
  const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                         static_cast<std::size_t>(x)) *
                        3u;
  return {pixels_[i], pixels_[i + 1], pixels_[i + 2]};
}

void Canvas::set(int x, int y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const std::size_t i = (static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
                         static_cast<std::size_t>(x)) *
                        3u;
  std::copy(color.begin(), color.end(), pixels_.begin() + static_cast<long>(i));
}

void Canvas::mix(int x, int y, Rgb color) {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  const Rgb old = at(x, y);
  Rgb out{};
  for (std::size_t c = 0; c < 3; ++c) out[c] = static_cast<std::uint8_t>((old[c] + color[c]) / 2);
  set(x, y, out);
}

void Canvas::fill(int x0, int y0, int x1, int y1, Rgb color) {
  for (int y = std::max(0, y0); y <= std::min(height_ - 1, y1); ++y)
    for (int x = std::max(0, x0); x <= std::min(width_ - 1, x1); ++x) set(x, y, color);
}

void Canvas::line(int x0, int y0, int x1, int y1, Rgb color) {
  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int error = dx + dy;
  for (;;) {
    set(x0, y0, color);
    if (x0 == x1 && y0 == y1) return;
    const int twice = 2 * error;
    if (twice >= dy) {
      error += dy;
      x0 += sx;
    }
    if (twice <= dx) {
      error += dx;
      y0 += sy;
    }
  }
}

bool write_png(const std::string &path, int width, int height, const unsigned char *rgb) {
  // The simplified writer adds no time chunk, so equal pixels give equal files.
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  image.width = static_cast<png_uint_32>(width);
  image.height = static_cast<png_uint_32>(height);
  image.format = PNG_FORMAT_RGB;
  const int written = png_image_write_to_file(&image, path.c_str(), 0, rgb, width * 3, nullptr);
  png_image_free(&image);
  return written != 0;
}

bool write_joint_plot(const std::string &path, const JointHistory &history) {
  JointRecord r{history.record.set_points, history.record.positions};
  const Canvas c = draw_joint_plot(r);
  return write_png(path, c.width(), c.height(), c.pixels().data());
}
bool write_top_view(const std::string &path, const WorldConfig &world,
                    const std::vector<Placement> &placements) {
  const Canvas c = draw_top_view(world, placements);
  return write_png(path, c.width(), c.height(), c.pixels().data());
}
bool write_camera_frame(const std::string &path, int width, int height, const unsigned char *rgb,
                        const std::string &, std::optional<Window>) {
  return write_png(path, width, height, rgb);
}

namespace {

constexpr Rgb ground_shade{206, 214, 198};
constexpr Rgb left_view_shade{150, 180, 235};
constexpr Rgb right_view_shade{240, 205, 130};
constexpr Rgb edge_shade{90, 90, 90};
constexpr Rgb black{0, 0, 0};
constexpr Rgb white{255, 255, 255};

constexpr double metres_per_pixel = 0.0005;
constexpr double largest_extent = 0.5;  // metres from the origin, on every side

// The part of the ground the top view shows: the area around the front legs,
// grown to hold every target and placement.
struct Extent {
  double x_low = -0.03, x_high = 0.15;
  double y_low = -0.15, y_high = 0.15;
  void include(double x, double y, double margin) {
    x_low = std::min(x_low, x - margin);
    x_high = std::max(x_high, x + margin);
    y_low = std::min(y_low, y - margin);
    y_high = std::max(y_high, y + margin);
  }
  void clamp() {
    x_low = std::max(x_low, -largest_extent);
    y_low = std::max(y_low, -largest_extent);
    x_high = std::min(x_high, largest_extent);
    y_high = std::min(y_high, largest_extent);
  }
};

// Forward is up, left is left: column from y, row from x.
struct TopMap {
  Extent extent;
  int column(double y) const {
    return static_cast<int>(std::floor((extent.y_high - y) / metres_per_pixel));
  }
  int row(double x) const {
    return static_cast<int>(std::floor((extent.x_high - x) / metres_per_pixel));
  }
  double x_of(int row_index) const { return extent.x_high - (row_index + 0.5) * metres_per_pixel; }
  double y_of(int column_index) const {
    return extent.y_high - (column_index + 0.5) * metres_per_pixel;
  }
};

void shade_view(Canvas &canvas, const TopMap &map, const WorldConfig &world, View view, Rgb shade) {
  // Quarter-pixel samples of the camera image: their ground points lie closer
  // together than the top view's pixels even far out, so the area has no holes.
  std::vector<bool> covered(static_cast<std::size_t>(canvas.width()) *
                            static_cast<std::size_t>(canvas.height()));
  auto mark = [&](double u, double v, bool edge) {
    const std::optional<Vec2> ground = ground_point(view, u, v);
    if (!ground) return;
    const int x = map.column(ground->y);
    const int y = map.row(ground->x);
    if (x < 0 || y < 0 || x >= canvas.width() || y >= canvas.height()) return;
    if (edge) {
      canvas.set(x, y, edge_shade);
      return;
    }
    const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(canvas.width()) +
                          static_cast<std::size_t>(x);
    if (covered[i]) return;
    covered[i] = true;
    canvas.mix(x, y, shade);
  };
  const double right = world.camera_width - 1;
  const double bottom = world.camera_height - 1;
  for (double v = 0.0; v <= bottom; v += 0.25)
    for (double u = 0.0; u <= right; u += 0.25) mark(u, v, false);
  for (double t = 0.0; t <= right; t += 0.1) {
    mark(t, 0.0, true);
    mark(t, bottom, true);
  }
  for (double t = 0.0; t <= bottom; t += 0.1) {
    mark(0.0, t, true);
    mark(right, t, true);
  }
}

void draw_cross(Canvas &canvas, int x, int y, Rgb color) {
  for (int d = -4; d <= 4; ++d) {
    canvas.set(x + d, y, color);
    canvas.set(x, y + d, color);
  }
}

}  // namespace

Canvas draw_top_view(const WorldConfig &world, const std::vector<Placement> &placements) {
  TopMap map;
  for (const Target &target : world.targets)
    map.extent.include(target.x, target.y, target.radius + 0.01);
  for (const Placement &p : placements) map.extent.include(p.foot.x, p.foot.y, 0.01);
  map.extent.clamp();
  const int width =
      static_cast<int>(std::ceil((map.extent.y_high - map.extent.y_low) / metres_per_pixel));
  const int height =
      static_cast<int>(std::ceil((map.extent.x_high - map.extent.x_low) / metres_per_pixel));
  Canvas canvas(width, height, ground_shade);

  shade_view(canvas, map, world, View::left, left_view_shade);
  shade_view(canvas, map, world, View::right, right_view_shade);

  // Discs drawn last to first, so where they overlap the first is on top, as
  // the camera shows them.
  for (auto target = world.targets.rbegin(); target != world.targets.rend(); ++target) {
    const int x0 = map.column(target->y + target->radius);
    const int x1 = map.column(target->y - target->radius);
    const int y0 = map.row(target->x + target->radius);
    const int y1 = map.row(target->x - target->radius);
    for (int y = std::max(0, y0); y <= std::min(height - 1, y1); ++y)
      for (int x = std::max(0, x0); x <= std::min(width - 1, x1); ++x) {
        const double distance = std::hypot(map.x_of(y) - target->x, map.y_of(x) - target->y);
        if (distance > target->radius) continue;
        canvas.set(x, y, distance > target->radius - metres_per_pixel ? black : target->color);
      }
  }

  for (const double hip : {hip_y, -hip_y}) {
    const int x = map.column(hip);
    const int y = map.row(0.0);
    // A hollow square: the rest posture puts a foot right under its hip.
    canvas.line(x - 4, y - 4, x + 4, y - 4, edge_shade);
    canvas.line(x - 4, y + 4, x + 4, y + 4, edge_shade);
    canvas.line(x - 4, y - 4, x - 4, y + 4, edge_shade);
    canvas.line(x + 4, y - 4, x + 4, y + 4, edge_shade);
  }
  for (const Placement &p : placements)
    draw_cross(canvas, map.column(p.foot.y), map.row(p.foot.x), p.target ? white : black);
  return canvas;
}

namespace {
constexpr Rgb plot_background{232, 232, 232};
constexpr Rgb panel_background{255, 255, 255};
constexpr Rgb grid{215, 215, 215};
constexpr Rgb zero_line{150, 150, 150};
constexpr Rgb set_point_ink{235, 140, 20};
constexpr Rgb position_ink{30, 70, 200};
constexpr int panel_height = 80;
constexpr int panel_gap = 8;
constexpr int plot_margin = 8;
constexpr std::size_t widest_plot = 1200;  // columns of steps
}  // namespace

Canvas draw_joint_plot(const JointRecord &record) {
  const std::size_t samples = record.positions.size();
  const std::size_t per_column =
      std::max<std::size_t>(1, (samples + widest_plot - 1) / widest_plot);
  const int columns = static_cast<int>((samples + per_column - 1) / per_column);
  const int panels = static_cast<int>(plotted_joints.size());
  Canvas canvas(2 * plot_margin + std::max(columns, 1),
                plot_margin + panels * (panel_height + panel_gap), plot_background);

  for (int panel = 0; panel < panels; ++panel) {
    const auto index = static_cast<std::size_t>(panel);
    // The panel's range: what its joint did, and zero.
    double low = 0.0;
    double high = 0.0;
    for (std::size_t s = 0; s < samples; ++s)
      for (const float value : {record.set_points[s][index], record.positions[s][index]})
        if (std::isfinite(value)) {
          low = std::min(low, static_cast<double>(value));
          high = std::max(high, static_cast<double>(value));
        }
    const double pad = std::max(0.1, 0.1 * (high - low));
    low -= pad;
    high += pad;
    const int top = plot_margin + panel * (panel_height + panel_gap);
    // One pixel kept free at the top and bottom for the thick set-point line.
    auto row_of = [&](double value) {
      const double fraction = (high - value) / (high - low);
      return top + 1 +
             std::clamp(static_cast<int>(std::lround(fraction * (panel_height - 3))), 0,
                        panel_height - 3);
    };
    canvas.fill(plot_margin, top, plot_margin + columns - 1, top + panel_height - 1,
                panel_background);
    const std::size_t grid_steps = per_column <= 2 ? 100 : 1000;
    for (std::size_t s = grid_steps; s < samples; s += grid_steps) {
      const int x = plot_margin + static_cast<int>(s / per_column);
      canvas.line(x, top, x, top + panel_height - 1, grid);
    }
    canvas.line(plot_margin, row_of(0.0), plot_margin + columns - 1, row_of(0.0), zero_line);

    for (const bool positions : {false, true}) {
      const auto &series = positions ? record.positions : record.set_points;
      const Rgb ink = positions ? position_ink : set_point_ink;
      int last = -1;  // row of the previous column's point; -1 before the first
      for (int column = 0; column < columns; ++column) {
        const std::size_t s =
            std::min(samples - 1, (static_cast<std::size_t>(column) + 1) * per_column - 1);
        const float value = series[s][index];
        if (!std::isfinite(value)) {
          last = -1;
          continue;
        }
        const int y = row_of(value);
        const int x = plot_margin + column;
        // The set-point drawn three pixels thick, so it shows around the
        // position that follows it.
        const int thickness = positions ? 0 : 1;
        for (int d = -thickness; d <= thickness; ++d)
          canvas.line(last < 0 ? x : x - 1, (last < 0 ? y : last) + d, x, y + d, ink);
        last = y;
      }
    }
  }
  return canvas;
}

}  // namespace sim
