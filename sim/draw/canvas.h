// Drawing tools shared by the run's pictures: a Cairo canvas written as PNG,
// text in one font, axes with ticks and labels, and legends.
#pragma once

#include <cairo.h>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace sim::draw {

struct Colour {
  double r = 0.0;
  double g = 0.0;
  double b = 0.0;
  double a = 1.0;
};
void set_colour(cairo_t *cr, Colour colour);

inline constexpr Colour ink{0.1, 0.1, 0.1};
inline constexpr Colour muted_ink{0.38, 0.38, 0.38};
inline constexpr Colour paper{1.0, 1.0, 1.0};
inline constexpr Colour grid_ink{0.88, 0.88, 0.88};

// An RGB picture being drawn; white to begin with.
class Canvas {
 public:
  Canvas(int width, int height);
  ~Canvas();
  Canvas(const Canvas &) = delete;
  Canvas &operator=(const Canvas &) = delete;

  cairo_t *cr() const { return cr_; }
  cairo_surface_t *surface() const { return surface_; }
  // The picture as PNG bytes, for the caller to write where it will: without
  // a time chunk, so the same drawing gives the same bytes. None if anything
  // drawn failed.
  std::string png() const;

 private:
  cairo_surface_t *surface_;
  cairo_t *cr_;
};

// A Cairo image of `rows` rows of `width` pixels copied from packed RGB
// bytes, three a pixel. Its status says whether it could be made.
cairo_surface_t *rgb_image(const unsigned char *rgb, int width, int rows);

// Text is DejaVu Sans, at size pixels, unhinted so it is placed the same on
// every machine that has the font. A Canvas is prepared so; another Cairo
// context is prepared by prepare_text.
void prepare_text(cairo_t *cr);
enum class Weight { normal, bold };
void use_font(cairo_t *cr, double size, Weight weight = Weight::normal);
double text_width(cairo_t *cr, std::string_view text);

// Where the anchor point lies on the text's box.
enum class Align { left, centre, right };
enum class Baseline { top, middle, bottom };
// Draws text with its box anchored at (x, y); returns its width.
double text(cairo_t *cr, double x, double y, std::string_view words, Align align = Align::left,
            Baseline baseline = Baseline::bottom);
// The same, turned a quarter left (reading upwards), centred on (x, y).
void upward_text(cairo_t *cr, double x, double y, std::string_view words);
// Text over a white halo, readable on any background.
void haloed_text(cairo_t *cr, double x, double y, std::string_view words, Align align,
                 Baseline baseline, Colour colour);

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

// A rectangle in pixels.
struct Box {
  double x = 0.0;
  double y = 0.0;
  double width = 0.0;
  double height = 0.0;
  double right() const { return x + width; }
  double bottom() const { return y + height; }
};
void clip_to(cairo_t *cr, Box box);

// Tick marks, grid lines and labels along the bottom and left edges of a data box.
void vertical_grid(cairo_t *cr, Box box, const Scale &x, const Ticks &ticks);
void horizontal_grid(cairo_t *cr, Box box, const Scale &y, const Ticks &ticks);
void bottom_ticks(cairo_t *cr, Box box, const Scale &x, const Ticks &ticks, bool labels);
void left_ticks(cairo_t *cr, Box box, const Scale &y, const Ticks &ticks);
void frame(cairo_t *cr, Box box);

// One legend line: a small drawing (centred on the point it is given) and words.
struct LegendEntry {
  std::function<void(cairo_t *, double, double)> swatch;
  std::string label;
};
// Entries in rows from (x, y) down, or across in one row; returns the legend's box.
Box legend_column(cairo_t *cr, double x, double y, const std::vector<LegendEntry> &entries,
                  double font_size);
Box legend_row(cairo_t *cr, double x, double y, const std::vector<LegendEntry> &entries,
               double font_size);

}  // namespace sim::draw
