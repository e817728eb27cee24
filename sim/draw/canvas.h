// Drawing tools shared by the run's pictures and the tools' pictures: a
// canvas written as PNG, with the marks, lines and text every picture uses,
// axes with ticks and labels, and legends. Only canvas.cpp knows the library
// that draws them.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "sim/core/geometry.h"

namespace sim::draw {

struct Colour {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  double a = 1.0;
  // The same colour, seen through to `alpha`.
  Colour with_alpha(double alpha) const { return {r, g, b, alpha}; }
};

inline constexpr Colour ink{0.1, 0.1, 0.1};
inline constexpr Colour muted_ink{0.38, 0.38, 0.38};
inline constexpr Colour paper{1.0, 1.0, 1.0};
inline constexpr Colour grid_ink{0.88, 0.88, 0.88};

// A rectangle in pixels.
struct Box {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  double right() const { return x + width; }
  double bottom() const { return y + height; }
};

// A linear map from data values to pixels.
struct Scale {
  double low = 0.0;  // data
  double high = 1.0;
  double from = 0.0;  // pixels at low and at high
  double to = 1.0;
  double operator()(double value) const {
    return from + (value - low) / (high - low) * (to - from);
  }
};

// Round tick values covering [low, high]: steps of 1, 2 or 5 times a power of
// ten, about `count` of them, and no finer than smallest_step.
struct Ticks {
  std::vector<double> values;
  double step = 1.0;
};
Ticks nice_ticks(double low, double high, int count, double smallest_step = 0.0);
// A tick value with as many decimals as its step needs, and a true minus sign.
std::string tick_label(double value, double step);
// A count for people, thousands set apart by thin spaces.
std::string count_text(std::int64_t count);
// A number for people: %g-like with a true minus sign.
std::string number(double value, int digits = 3);

// A line's ends and corners, and how it is drawn.
enum class Cap { butt, round };
enum class Join { miter, round };
struct Line {
  Colour colour = ink;
  double width = 1.0;  // pixels
  Cap cap = Cap::butt;
  Join join = Join::miter;
  std::vector<double> dashes = {};  // on, off, ... in pixels; none: solid
  bool smooth = true;               // false: whole pixels, no antialiasing
};

// A shape in pixels: lines, curves and circles, to fill or to stroke. A
// line_to with no point before it starts there.
class Path {
 public:
  Path &move_to(double x, double y);
  Path &line_to(double x, double y);
  Path &curve_to(double x1, double y1, double x2, double y2, double x3, double y3);
  // A whole circle, a piece of the path of its own.
  Path &circle(double x, double y, double radius);
  Path &rectangle(Box box);
  Path &close();
  // Lines through every point in turn, closed.
  static Path polygon(std::span<const Vec2> points);

 private:
  friend class Canvas;
  enum class Kind { move, line, curve, circle, rectangle, close };
  struct Step {
    Kind kind;
    double v[6];
  };
  std::vector<Step> steps_;
};

// Text is DejaVu Sans, at size pixels, unhinted so it is placed the same on
// every machine that has the font.
enum class Weight { normal, bold };
// Where the anchor point lies on the text's box.
enum class Align { left, centre, right };
enum class Baseline { top, middle, bottom };

class Canvas;
// One legend line: a small drawing (centred on the point it is given) and words.
struct LegendEntry {
  std::function<void(Canvas &, double, double)> swatch;
  std::string label;
};

// An RGB picture being drawn. Text is drawn in the canvas's current colour
// and font; every mark says its own colours.
class Canvas {
 public:
  // White to begin with.
  Canvas(int width, int height);
  // Begins as `rows` rows of `width` pixels of packed RGB bytes, three a
  // pixel, red first.
  Canvas(const unsigned char *rgb, int width, int rows);
  ~Canvas();
  Canvas(const Canvas &) = delete;
  Canvas &operator=(const Canvas &) = delete;

  // The picture as PNG bytes, for the caller to write where it will: without
  // a time chunk, so the same drawing gives the same bytes. None if anything
  // drawn failed.
  std::string png() const;
  // The picture as packed RGB bytes, three a pixel, rows top to bottom; none
  // if anything drawn failed.
  std::vector<unsigned char> rgb() const;

  // Shapes, filled or stroked; fill_and_stroke draws the edge over the fill.
  void fill(const Path &path, Colour colour);
  void stroke(const Path &path, const Line &line);
  void fill_and_stroke(const Path &path, Colour fill, const Line &edge);
  // The marks the pictures repeat, centred on (x, y).
  void dot(double x, double y, double radius, Colour colour);
  void ring(double x, double y, double radius, const Line &line);
  void cross(double x, double y, double half, const Line &line);  // an X, half wide each way
  void line(double x0, double y0, double x1, double y1, const Line &line);
  void fill_box(Box box, Colour colour);
  void outline_box(Box box, const Line &line);
  // The whole canvas seen through `colour`.
  void wash(Colour colour);
  // A box shaded from `stops` (offset 0 at its bottom, 1 at its top); two
  // stops at one offset make a sharp step there.
  struct Stop {
    double offset;
    Colour colour;
  };
  void gradient_box(Box box, std::span<const Stop> stops);
  // An image of width x height RGB pixels with its top-left corner at (x,
  // y), each pixel a square of zoom x zoom, edges kept sharp.
  void image(const unsigned char *rgb, int width, int height, double x, double y, int zoom);

  // While a Clip lives, only `box` is drawn on. Clips nest.
  class Clip {
   public:
    Clip(Canvas &canvas, Box box);
    ~Clip();
    Clip(const Clip &) = delete;
    Clip &operator=(const Clip &) = delete;

   private:
    Canvas &canvas_;
  };

  // Text.
  void colour(Colour colour);
  void font(double size, Weight weight = Weight::normal);
  double text_width(std::string_view words);
  // Draws text with its box anchored at (x, y); returns its width.
  double text(double x, double y, std::string_view words, Align align = Align::left,
              Baseline baseline = Baseline::bottom);
  // The same, turned a quarter left (reading upwards), centred on (x, y).
  void upward_text(double x, double y, std::string_view words);
  // Text over a white halo, readable on any background.
  void haloed_text(double x, double y, std::string_view words, Align align, Baseline baseline,
                   Colour colour);

  // Tick marks, grid lines and labels along the bottom and left edges of a data box.
  void vertical_grid(Box box, const Scale &x, const Ticks &ticks);
  void horizontal_grid(Box box, const Scale &y, const Ticks &ticks);
  void bottom_ticks(Box box, const Scale &x, const Ticks &ticks, bool labels);
  void left_ticks(Box box, const Scale &y, const Ticks &ticks);
  void frame(Box box);

  // Legend entries in rows from (x, y) down, or across in one row; returns
  // the legend's box. Each swatch draws on the canvas and leaves it as it was.
  Box legend_column(double x, double y, const std::vector<LegendEntry> &entries, double font_size);
  Box legend_row(double x, double y, const std::vector<LegendEntry> &entries, double font_size);

 private:
  // Makes `path` the drawing's current path.
  void trace(const Path &path);

  struct Surface;
  std::unique_ptr<Surface> surface_;
};

}  // namespace sim::draw
