#include "sim/draw/frame_picture.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "sim/draw/canvas.h"

namespace sim {

using namespace draw;

namespace {
constexpr Colour window_ink{0.2, 0.95, 1.0};
// The enlarged image's longer side aims at this many pixels, and never passes
// the largest unless the camera's image already does.
constexpr double frame_view_size = 480.0;
constexpr double largest_frame_view = 1200.0;

void draw_window_outline(cairo_t *cr, double x, double y, double side) {
  cairo_rectangle(cr, x - 2.0, y - 2.0, side + 4.0, side + 4.0);
  set_colour(cr, {0.0, 0.0, 0.0});
  cairo_set_line_width(cr, 5.0);
  cairo_stroke_preserve(cr);
  set_colour(cr, window_ink);
  cairo_set_line_width(cr, 2.5);
  cairo_stroke(cr);
}
}  // namespace

std::string frame_picture_png(int width, int height, const unsigned char *rgb,
                              const std::string &title, std::optional<Window> window) {
  if (rgb == nullptr || width < 1 || height < 1) return "";
  const double longer = std::max(width, height);
  const int zoom =
      std::max(1, static_cast<int>(std::min(std::max(frame_view_size / longer, 180.0 / height),
                                            largest_frame_view / longer)));
  const double image_width = width * zoom;
  const double image_height = height * zoom;
  constexpr double left = 84.0;
  constexpr double top = 70.0;
  const Box box{left, top, image_width, image_height};
  const std::string about =
      "camera image, " + std::to_string(width) + " \u00d7 " + std::to_string(height) + " pixels" +
      (zoom > 1 ? ", each shown " + std::to_string(zoom) + " times as large" : "");
  bool on_image = false;
  std::vector<LegendEntry> window_legend;
  if (window) {
    on_image = window->x > -window_side && window->x < width && window->y > -window_side &&
               window->y < height;
    window_legend.push_back(
        {[](cairo_t *c, double cx, double cy) { draw_window_outline(c, cx - 6.0, cy - 6.0, 12.0); },
         "the 7 \u00d7 7 window of the target's exact red level, top-left pixel at column " +
             count_text(window->x) + ", row " + count_text(window->y) +
             (on_image ? "" : " (off the image)")});
  }
  // Wide enough for the image and for every line of text beside it.
  double widest = std::max(left + image_width + 30.0, 640.0);
  {
    const Canvas scratch(1, 1);
    use_font(scratch.cr(), 17.0, Weight::bold);
    widest = std::max(widest, 32.0 + text_width(scratch.cr(), title));
    use_font(scratch.cr(), 13.0);
    widest = std::max(widest, 32.0 + text_width(scratch.cr(), about));
    if (window)
      widest =
          std::max(widest, 32.0 + legend_row(scratch.cr(), 0.0, 0.0, window_legend, 13.0).width);
  }
  Canvas canvas(static_cast<int>(std::ceil(widest)), static_cast<int>(top + image_height + 112.0));
  cairo_t *cr = canvas.cr();

  set_colour(cr, ink);
  use_font(cr, 17.0, Weight::bold);
  text(cr, 16.0, 12.0, title, Align::left, Baseline::top);
  use_font(cr, 13.0);
  set_colour(cr, muted_ink);
  text(cr, 16.0, 38.0, about, Align::left, Baseline::top);

  cairo_surface_t *image = rgb_image(rgb, width, height);
  cairo_save(cr);
  clip_to(cr, box);
  cairo_translate(cr, box.x, box.y);
  cairo_scale(cr, zoom, zoom);
  cairo_set_source_surface(cr, image, 0.0, 0.0);
  cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_NEAREST);
  cairo_paint(cr);
  cairo_restore(cr);
  cairo_surface_destroy(image);
  frame(cr, {box.x - 1.0, box.y - 1.0, box.width + 1.0, box.height + 1.0});

  // Ticks at pixel centres: the tick "40" points at pixel column 40.
  use_font(cr, 12.0);
  const int tick_count = std::max(2, static_cast<int>(std::max(image_width, image_height) / 80.0));
  const Scale column_x{-0.5, width - 0.5, box.x, box.right()};
  const Scale row_y{-0.5, height - 0.5, box.y, box.bottom()};
  bottom_ticks(cr, box, column_x, nice_ticks(0.0, width - 1.0, tick_count, 1.0), true);
  left_ticks(cr, box, row_y, nice_ticks(0.0, height - 1.0, tick_count, 1.0));
  use_font(cr, 13.0);
  set_colour(cr, ink);
  text(cr, box.x + box.width / 2.0, box.bottom() + 26.0, "image column (pixels)", Align::centre,
       Baseline::top);
  upward_text(cr, 22.0, box.y + box.height / 2.0,
              box.height >= 170.0 ? "image row (pixels, down)" : "row");

  const double caption_y = box.bottom() + 56.0;
  if (window) {
    if (on_image) {
      cairo_save(cr);
      clip_to(cr, {box.x - 4.0, box.y - 4.0, box.width + 8.0, box.height + 8.0});
      draw_window_outline(cr, box.x + window->x * zoom, box.y + window->y * zoom,
                          window_side * zoom);
      cairo_restore(cr);
    }
    legend_row(cr, 16.0, caption_y, window_legend, 13.0);
  } else {
    set_colour(cr, ink);
    text(cr, 16.0, caption_y + 8.0, "no window of exact target level in this image", Align::left,
         Baseline::top);
  }
  return canvas.png();
}

}  // namespace sim
