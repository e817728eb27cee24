#include "sim/draw/canvas.h"

#include <cairo-ft.h>
#include <cairo.h>
#include <ft2build.h>
#include FT_FREETYPE_H

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <numbers>

#include "sim/core/utf8.h"

namespace sim::draw {

namespace {

// The font files are found when the project is configured; they are loaded
// straight through FreeType rather than looked up by name, so the text looks
// the same whatever font configuration the machine has.
cairo_font_face_t *load_face(const char *file) {
  static FT_Library library = [] {
    FT_Library made = nullptr;
    if (FT_Init_FreeType(&made) != 0) made = nullptr;
    return made;
  }();
  if (library == nullptr) return nullptr;
  FT_Face face = nullptr;
  if (FT_New_Face(library, file, 0, &face) != 0) return nullptr;
  cairo_font_face_t *made = cairo_ft_font_face_create_for_ft_face(face, 0);
  // Cairo may keep the face in its caches after we let go of it: it frees the
  // FreeType face itself when it is done.
  static cairo_user_data_key_t owner;
  if (cairo_font_face_set_user_data(made, &owner, face, [](void *data) {
        FT_Done_Face(static_cast<FT_Face>(data));
      }) != CAIRO_STATUS_SUCCESS) {
    cairo_font_face_destroy(made);
    FT_Done_Face(face);
    return nullptr;
  }
  return made;
}

cairo_font_face_t *face(Weight weight) {
  static cairo_font_face_t *const regular = load_face(REACHER_FONT_REGULAR);
  static cairo_font_face_t *const bold = load_face(REACHER_FONT_BOLD);
  return weight == Weight::bold ? bold : regular;
}

// Replaces ASCII hyphens used as minus signs by the typographic minus.
std::string with_minus_signs(const char *text) {
  std::string out;
  for (const char *c = text; *c != '\0'; ++c) {
    if (*c == '-')
      out += "\u2212";
    else
      out += *c;
  }
  return out;
}

}  // namespace

struct Canvas::Surface {
  cairo_surface_t *surface = nullptr;
  cairo_t *cr = nullptr;
  ~Surface() {
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
  }
};

namespace {

void set_colour(cairo_t *cr, Colour colour) {
  cairo_set_source_rgba(cr, colour.r, colour.g, colour.b, colour.a);
}

void use_font(cairo_t *cr, double size, Weight weight = Weight::normal) {
  if (cairo_font_face_t *loaded = face(weight); loaded != nullptr)
    cairo_set_font_face(cr, loaded);
  else  // Without the font file, the system's own sans-serif still gives readable text.
    cairo_select_font_face(
        cr, "sans-serif", CAIRO_FONT_SLANT_NORMAL,
        weight == Weight::bold ? CAIRO_FONT_WEIGHT_BOLD : CAIRO_FONT_WEIGHT_NORMAL);
  cairo_set_font_size(cr, size);
}

// Text is placed the same on every machine: unhinted, in grey levels.
void prepare_text(cairo_t *cr) {
  cairo_font_options_t *options = cairo_font_options_create();
  cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
  cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
  cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
  cairo_set_font_options(cr, options);
  cairo_font_options_destroy(options);
  use_font(cr, 13.0, Weight::normal);
}

// A Cairo image of `rows` rows of `width` pixels copied from packed RGB
// bytes, three a pixel. Its status says whether it could be made.
cairo_surface_t *rgb_image(const unsigned char *rgb, int width, int rows) {
  cairo_surface_t *image = cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, rows);
  unsigned char *data = cairo_image_surface_get_data(image);
  if (data == nullptr) return image;
  const int stride = cairo_image_surface_get_stride(image);
  for (int row = 0; row < rows; ++row) {
    auto *out = reinterpret_cast<std::uint32_t *>(data + static_cast<std::ptrdiff_t>(row) * stride);
    const unsigned char *in = rgb + static_cast<std::ptrdiff_t>(row) * width * 3;
    for (int column = 0; column < width; ++column, in += 3)
      out[column] = static_cast<std::uint32_t>(in[0]) << 16 |
                    static_cast<std::uint32_t>(in[1]) << 8 | static_cast<std::uint32_t>(in[2]);
  }
  cairo_surface_mark_dirty(image);
  return image;
}

// The pen position that puts the text's box at the anchor.
std::pair<double, double> pen(cairo_t *cr, double x, double y, double width, Align align,
                              Baseline baseline) {
  cairo_font_extents_t font;
  cairo_font_extents(cr, &font);
  if (align == Align::centre) x -= width / 2.0;
  if (align == Align::right) x -= width;
  if (baseline == Baseline::top) y += font.ascent;
  if (baseline == Baseline::middle) y += (font.ascent - font.descent) / 2.0;
  if (baseline == Baseline::bottom) y -= font.descent;
  return {x, y};
}

}  // namespace

// Paths.

Path &Path::move_to(double x, double y) {
  steps_.push_back({Kind::move, {x, y}});
  return *this;
}

Path &Path::line_to(double x, double y) {
  steps_.push_back({Kind::line, {x, y}});
  return *this;
}

Path &Path::curve_to(double x1, double y1, double x2, double y2, double x3, double y3) {
  steps_.push_back({Kind::curve, {x1, y1, x2, y2, x3, y3}});
  return *this;
}

Path &Path::circle(double x, double y, double radius) {
  steps_.push_back({Kind::circle, {x, y, radius}});
  return *this;
}

Path &Path::rectangle(Box box) {
  steps_.push_back({Kind::rectangle, {box.x, box.y, box.width, box.height}});
  return *this;
}

Path &Path::close() {
  steps_.push_back({Kind::close, {}});
  return *this;
}

Path Path::polygon(std::span<const Vec2> points) {
  Path path;
  for (const Vec2 &point : points) path.line_to(point.x, point.y);
  return path.close();
}

void Canvas::trace(const Path &path) {
  cairo_t *cr = surface_->cr;
  cairo_new_path(cr);
  for (const Path::Step &step : path.steps_) {
    const double *v = step.v;
    switch (step.kind) {
      case Path::Kind::move:
        cairo_move_to(cr, v[0], v[1]);
        break;
      case Path::Kind::line:
        cairo_line_to(cr, v[0], v[1]);
        break;
      case Path::Kind::curve:
        cairo_curve_to(cr, v[0], v[1], v[2], v[3], v[4], v[5]);
        break;
      case Path::Kind::circle:
        cairo_new_sub_path(cr);
        cairo_arc(cr, v[0], v[1], v[2], 0.0, 2.0 * std::numbers::pi);
        break;
      case Path::Kind::rectangle:
        cairo_rectangle(cr, v[0], v[1], v[2], v[3]);
        break;
      case Path::Kind::close:
        cairo_close_path(cr);
        break;
    }
  }
}

namespace {
// Strokes the current path as `line` says, and leaves the canvas's line
// settings as they were.
void stroke_path(cairo_t *cr, const Line &line) {
  cairo_save(cr);
  if (!line.smooth) cairo_set_antialias(cr, CAIRO_ANTIALIAS_NONE);
  set_colour(cr, line.colour);
  cairo_set_line_width(cr, line.width);
  cairo_set_line_cap(cr, line.cap == Cap::round ? CAIRO_LINE_CAP_ROUND : CAIRO_LINE_CAP_BUTT);
  cairo_set_line_join(cr, line.join == Join::round ? CAIRO_LINE_JOIN_ROUND : CAIRO_LINE_JOIN_MITER);
  if (!line.dashes.empty())
    cairo_set_dash(cr, line.dashes.data(), static_cast<int>(line.dashes.size()), 0.0);
  cairo_stroke(cr);
  cairo_restore(cr);
}
}  // namespace

// The canvas.

Canvas::Canvas(int width, int height) : surface_(std::make_unique<Surface>()) {
  surface_->surface =
      cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::max(width, 1), std::max(height, 1));
  surface_->cr = cairo_create(surface_->surface);
  set_colour(surface_->cr, paper);
  cairo_paint(surface_->cr);
  prepare_text(surface_->cr);
}

Canvas::Canvas(const unsigned char *rgb, int width, int rows)
    : surface_(std::make_unique<Surface>()) {
  surface_->surface = rgb_image(rgb, std::max(width, 1), std::max(rows, 1));
  surface_->cr = cairo_create(surface_->surface);
  prepare_text(surface_->cr);
}

Canvas::~Canvas() = default;

std::string Canvas::png() const {
  if (cairo_status(surface_->cr) != CAIRO_STATUS_SUCCESS) return "";
  cairo_surface_flush(surface_->surface);
  std::string bytes;
  const auto append = [](void *to, const unsigned char *data, unsigned int size) {
    static_cast<std::string *>(to)->append(reinterpret_cast<const char *>(data), size);
    return CAIRO_STATUS_SUCCESS;
  };
  if (cairo_surface_write_to_png_stream(surface_->surface, append, &bytes) != CAIRO_STATUS_SUCCESS)
    return "";
  return bytes;
}

std::vector<unsigned char> Canvas::rgb() const {
  if (cairo_status(surface_->cr) != CAIRO_STATUS_SUCCESS) return {};
  cairo_surface_flush(surface_->surface);
  const unsigned char *data = cairo_image_surface_get_data(surface_->surface);
  if (data == nullptr) return {};
  const int width = cairo_image_surface_get_width(surface_->surface);
  const int rows = cairo_image_surface_get_height(surface_->surface);
  const int stride = cairo_image_surface_get_stride(surface_->surface);
  std::vector<unsigned char> out;
  out.reserve(static_cast<std::size_t>(width) * static_cast<std::size_t>(rows) * 3u);
  for (int row = 0; row < rows; ++row) {
    const auto *in =
        reinterpret_cast<const std::uint32_t *>(data + static_cast<std::ptrdiff_t>(row) * stride);
    for (int x = 0; x < width; ++x) {
      out.push_back(static_cast<unsigned char>(in[x] >> 16));
      out.push_back(static_cast<unsigned char>(in[x] >> 8));
      out.push_back(static_cast<unsigned char>(in[x]));
    }
  }
  return out;
}

void Canvas::fill(const Path &path, Colour colour) {
  trace(path);
  set_colour(surface_->cr, colour);
  cairo_fill(surface_->cr);
}

void Canvas::stroke(const Path &path, const Line &line) {
  trace(path);
  stroke_path(surface_->cr, line);
}

void Canvas::fill_and_stroke(const Path &path, Colour fill, const Line &edge) {
  trace(path);
  set_colour(surface_->cr, fill);
  cairo_fill_preserve(surface_->cr);
  stroke_path(surface_->cr, edge);
}

void Canvas::dot(double x, double y, double radius, Colour colour) {
  fill(Path().circle(x, y, radius), colour);
}

void Canvas::ring(double x, double y, double radius, const Line &line) {
  stroke(Path().circle(x, y, radius), line);
}

void Canvas::cross(double x, double y, double half, const Line &line) {
  stroke(Path()
             .move_to(x - half, y - half)
             .line_to(x + half, y + half)
             .move_to(x - half, y + half)
             .line_to(x + half, y - half),
         line);
}

void Canvas::line(double x0, double y0, double x1, double y1, const Line &line) {
  stroke(Path().move_to(x0, y0).line_to(x1, y1), line);
}

void Canvas::fill_box(Box box, Colour colour) { fill(Path().rectangle(box), colour); }

void Canvas::outline_box(Box box, const Line &line) { stroke(Path().rectangle(box), line); }

void Canvas::wash(Colour colour) {
  set_colour(surface_->cr, colour);
  cairo_paint(surface_->cr);
}

void Canvas::gradient_box(Box box, std::span<const Stop> stops) {
  cairo_t *cr = surface_->cr;
  cairo_pattern_t *gradient = cairo_pattern_create_linear(0.0, box.bottom(), 0.0, box.y);
  for (const Stop &stop : stops)
    cairo_pattern_add_color_stop_rgba(gradient, stop.offset, stop.colour.r, stop.colour.g,
                                      stop.colour.b, stop.colour.a);
  cairo_new_path(cr);
  cairo_rectangle(cr, box.x, box.y, box.width, box.height);
  cairo_set_source(cr, gradient);
  cairo_fill(cr);
  cairo_pattern_destroy(gradient);
}

void Canvas::image(const unsigned char *rgb, int width, int height, double x, double y, int zoom) {
  cairo_t *cr = surface_->cr;
  cairo_surface_t *image = rgb_image(rgb, width, height);
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, x, y, width * zoom, height * zoom);
  cairo_clip(cr);
  cairo_translate(cr, x, y);
  cairo_scale(cr, zoom, zoom);
  cairo_set_source_surface(cr, image, 0.0, 0.0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(image);
}

Canvas::Clip::Clip(Canvas &canvas, Box box) : canvas_(canvas) {
  cairo_t *cr = canvas_.surface_->cr;
  cairo_save(cr);
  cairo_new_path(cr);
  cairo_rectangle(cr, box.x, box.y, box.width, box.height);
  cairo_clip(cr);
}

Canvas::Clip::~Clip() { cairo_restore(canvas_.surface_->cr); }

// Text.

void Canvas::colour(Colour colour) { set_colour(surface_->cr, colour); }

void Canvas::font(double size, Weight weight) { use_font(surface_->cr, size, weight); }

double Canvas::text_width(std::string_view words) {
  // Cairo draws nothing more after text that is not UTF-8.
  const std::string copy = valid_utf8(words);
  cairo_text_extents_t extents;
  cairo_text_extents(surface_->cr, copy.c_str(), &extents);
  return extents.x_advance;
}

double Canvas::text(double x, double y, std::string_view words, Align align, Baseline baseline) {
  cairo_t *cr = surface_->cr;
  const std::string copy = valid_utf8(words);
  const double width = text_width(copy);
  const auto [px, py] = pen(cr, x, y, width, align, baseline);
  cairo_move_to(cr, px, py);
  cairo_show_text(cr, copy.c_str());
  cairo_new_path(cr);
  return width;
}

void Canvas::upward_text(double x, double y, std::string_view words) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  cairo_translate(cr, x, y);
  cairo_rotate(cr, -std::numbers::pi / 2.0);
  text(0.0, 0.0, words, Align::centre, Baseline::middle);
  cairo_restore(cr);
}

void Canvas::haloed_text(double x, double y, std::string_view words, Align align, Baseline baseline,
                         Colour colour) {
  cairo_t *cr = surface_->cr;
  const std::string copy = valid_utf8(words);
  const auto [px, py] = pen(cr, x, y, text_width(copy), align, baseline);
  cairo_save(cr);
  cairo_move_to(cr, px, py);
  cairo_text_path(cr, copy.c_str());
  set_colour(cr, {1.0, 1.0, 1.0, 0.9});
  cairo_set_line_width(cr, 3.5);
  cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
  cairo_stroke_preserve(cr);
  set_colour(cr, colour);
  cairo_fill(cr);
  cairo_restore(cr);
}

Ticks nice_ticks(double low, double high, int count, double smallest_step) {
  Ticks ticks;
  if (!std::isfinite(low) || !std::isfinite(high) || count < 1) return ticks;
  if (high < low) std::swap(low, high);
  const double span = high - low;
  if (!(span > 0.0) || !std::isfinite(span)) {
    ticks.values.push_back(low);
    return ticks;
  }
  const double raw = span / count;
  const double magnitude = std::pow(10.0, std::floor(std::log10(raw)));
  const double fraction = raw / magnitude;
  const double multiple = fraction < 1.5 ? 1.0 : fraction < 3.5 ? 2.0 : fraction < 7.5 ? 5.0 : 10.0;
  ticks.step = std::max(multiple * magnitude, smallest_step);
  const double first = std::ceil(low / ticks.step - 1e-9);
  for (int i = 0; i <= 4 * count + 2; ++i) {
    double value = (first + i) * ticks.step;
    if (value > high + ticks.step * 1e-9) break;
    if (std::abs(value) < ticks.step * 1e-9) value = 0.0;
    ticks.values.push_back(value);
  }
  return ticks;
}

std::string tick_label(double value, double step) {
  const int decimals =
      step > 0.0 && std::isfinite(step)
          ? std::clamp(-static_cast<int>(std::floor(std::log10(step) + 1e-9)), 0, 9)
          : 3;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*f", decimals, value);
  return with_minus_signs(buffer);
}

std::string count_text(std::int64_t count) {
  const std::string digits = std::to_string(count);
  std::string out;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && digits[i - 1] != '-' && (digits.size() - i) % 3 == 0) out += "\u2009";
    out += digits[i];
  }
  return with_minus_signs(out.c_str());
}

std::string number(double value, int digits) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.*g", digits, value);
  return with_minus_signs(buffer);
}

void Canvas::vertical_grid(Box box, const Scale &x, const Ticks &ticks) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  set_colour(cr, grid_ink);
  cairo_set_line_width(cr, 1.0);
  for (const double value : ticks.values) {
    const double px = std::round(x(value)) + 0.5;
    cairo_move_to(cr, px, box.y);
    cairo_line_to(cr, px, box.bottom());
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

void Canvas::horizontal_grid(Box box, const Scale &y, const Ticks &ticks) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  set_colour(cr, grid_ink);
  cairo_set_line_width(cr, 1.0);
  for (const double value : ticks.values) {
    const double py = std::round(y(value)) + 0.5;
    cairo_move_to(cr, box.x, py);
    cairo_line_to(cr, box.right(), py);
  }
  cairo_stroke(cr);
  cairo_restore(cr);
}

void Canvas::bottom_ticks(Box box, const Scale &x, const Ticks &ticks, bool labels) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  set_colour(cr, ink);
  cairo_set_line_width(cr, 1.0);
  for (const double value : ticks.values) {
    const double px = std::round(x(value)) + 0.5;
    cairo_move_to(cr, px, box.bottom());
    cairo_line_to(cr, px, box.bottom() + 5.0);
  }
  cairo_stroke(cr);
  if (labels)
    for (const double value : ticks.values)
      text(x(value), box.bottom() + 7.0, tick_label(value, ticks.step), Align::centre,
           Baseline::top);
  cairo_restore(cr);
}

void Canvas::left_ticks(Box box, const Scale &y, const Ticks &ticks) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  set_colour(cr, ink);
  cairo_set_line_width(cr, 1.0);
  for (const double value : ticks.values) {
    const double py = std::round(y(value)) + 0.5;
    cairo_move_to(cr, box.x - 5.0, py);
    cairo_line_to(cr, box.x, py);
  }
  cairo_stroke(cr);
  for (const double value : ticks.values)
    text(box.x - 8.0, y(value), tick_label(value, ticks.step), Align::right, Baseline::middle);
  cairo_restore(cr);
}

void Canvas::frame(Box box) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  set_colour(cr, muted_ink);
  cairo_set_line_width(cr, 1.0);
  cairo_rectangle(cr, std::round(box.x) + 0.5, std::round(box.y) + 0.5, std::round(box.width),
                  std::round(box.height));
  cairo_stroke(cr);
  cairo_restore(cr);
}

namespace {
constexpr double swatch_width = 30.0;
constexpr double swatch_gap = 8.0;
constexpr double legend_padding = 8.0;

void legend_background(cairo_t *cr, Box box) {
  cairo_save(cr);
  cairo_rectangle(cr, box.x + 0.5, box.y + 0.5, box.width, box.height);
  set_colour(cr, {1.0, 1.0, 1.0, 0.92});
  cairo_fill_preserve(cr);
  set_colour(cr, {0.75, 0.75, 0.75});
  cairo_set_line_width(cr, 1.0);
  cairo_stroke(cr);
  cairo_restore(cr);
}
}  // namespace

Box Canvas::legend_column(double x, double y, const std::vector<LegendEntry> &entries,
                          double font_size) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  use_font(cr, font_size);
  const double row = std::round(font_size * 1.7);
  double widest = 0.0;
  for (const LegendEntry &entry : entries) widest = std::max(widest, text_width(entry.label));
  const Box box{x, y, 2 * legend_padding + swatch_width + swatch_gap + std::ceil(widest),
                2 * legend_padding + row * static_cast<double>(entries.size())};
  legend_background(cr, box);
  double middle = y + legend_padding + row / 2.0;
  for (const LegendEntry &entry : entries) {
    cairo_save(cr);
    entry.swatch(*this, x + legend_padding + swatch_width / 2.0, middle);
    cairo_restore(cr);
    set_colour(cr, ink);
    text(x + legend_padding + swatch_width + swatch_gap, middle, entry.label, Align::left,
         Baseline::middle);
    middle += row;
  }
  cairo_restore(cr);
  return box;
}

Box Canvas::legend_row(double x, double y, const std::vector<LegendEntry> &entries,
                       double font_size) {
  cairo_t *cr = surface_->cr;
  cairo_save(cr);
  use_font(cr, font_size);
  const double row = std::round(font_size * 1.7);
  constexpr double entry_gap = 26.0;
  double width = 2 * legend_padding - entry_gap;
  for (const LegendEntry &entry : entries)
    width += swatch_width + swatch_gap + text_width(entry.label) + entry_gap;
  const Box box{x, y, std::ceil(width), 2 * legend_padding + row};
  legend_background(cr, box);
  double left = x + legend_padding;
  const double middle = y + legend_padding + row / 2.0;
  for (const LegendEntry &entry : entries) {
    cairo_save(cr);
    entry.swatch(*this, left + swatch_width / 2.0, middle);
    cairo_restore(cr);
    set_colour(cr, ink);
    left += swatch_width + swatch_gap;
    left += text(left, middle, entry.label, Align::left, Baseline::middle) + entry_gap;
  }
  cairo_restore(cr);
  return box;
}

}  // namespace sim::draw
