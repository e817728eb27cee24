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

// A dark edge under a bright one, seen on any image.
void draw_window_outline(Canvas &canvas, double x, double y, double side) {
  const Box outline{x - 2.0, y - 2.0, side + 4.0, side + 4.0};
  canvas.outline_box(outline, {{0.0, 0.0, 0.0}, 5.0});
  canvas.outline_box(outline, {window_ink, 2.5});
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
        {[](Canvas &c, double cx, double cy) { draw_window_outline(c, cx - 6.0, cy - 6.0, 12.0); },
         "the 7 \u00d7 7 window of the target's exact red level, top-left pixel at column " +
             count_text(window->x) + ", row " + count_text(window->y) +
             (on_image ? "" : " (off the image)")});
  }
  // Wide enough for the image and for every line of text beside it.
  double widest = std::max(left + image_width + 30.0, 640.0);
  {
    Canvas scratch(1, 1);
    scratch.font(17.0, Weight::bold);
    widest = std::max(widest, 32.0 + scratch.text_width(title));
    scratch.font(13.0);
    widest = std::max(widest, 32.0 + scratch.text_width(about));
    if (window)
      widest = std::max(widest, 32.0 + scratch.legend_row(0.0, 0.0, window_legend, 13.0).width);
  }
  Canvas canvas(static_cast<int>(std::ceil(widest)), static_cast<int>(top + image_height + 112.0));

  canvas.colour(ink);
  canvas.font(17.0, Weight::bold);
  canvas.text(16.0, 12.0, title, Align::left, Baseline::top);
  canvas.font(13.0);
  canvas.colour(muted_ink);
  canvas.text(16.0, 38.0, about, Align::left, Baseline::top);

  canvas.image(rgb, width, height, box.x, box.y, zoom);
  canvas.frame({box.x - 1.0, box.y - 1.0, box.width + 1.0, box.height + 1.0});

  // Ticks at pixel centres: the tick "40" points at pixel column 40.
  canvas.font(12.0);
  const int tick_count = std::max(2, static_cast<int>(std::max(image_width, image_height) / 80.0));
  const Scale column_x{-0.5, width - 0.5, box.x, box.right()};
  const Scale row_y{-0.5, height - 0.5, box.y, box.bottom()};
  canvas.bottom_ticks(box, column_x, nice_ticks(0.0, width - 1.0, tick_count, 1.0), true);
  canvas.left_ticks(box, row_y, nice_ticks(0.0, height - 1.0, tick_count, 1.0));
  canvas.font(13.0);
  canvas.colour(ink);
  canvas.text(box.x + box.width / 2.0, box.bottom() + 26.0, "image column (pixels)", Align::centre,
              Baseline::top);
  canvas.upward_text(22.0, box.y + box.height / 2.0,
                     box.height >= 170.0 ? "image row (pixels, down)" : "row");

  const double caption_y = box.bottom() + 56.0;
  if (window) {
    if (on_image) {
      const Canvas::Clip clip(canvas,
                              {box.x - 4.0, box.y - 4.0, box.width + 8.0, box.height + 8.0});
      draw_window_outline(canvas, box.x + window->x * zoom, box.y + window->y * zoom,
                          window_side * zoom);
    }
    canvas.legend_row(16.0, caption_y, window_legend, 13.0);
  } else {
    canvas.colour(ink);
    canvas.text(16.0, caption_y + 8.0, "no window of exact target level in this image", Align::left,
                Baseline::top);
  }
  return canvas.png();
}

}  // namespace sim
