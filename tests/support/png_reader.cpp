#include "tests/support/png_reader.h"

#include <png.h>

#include <algorithm>
#include <cstring>
#include <fstream>

#include "tests/support/folders.h"

namespace support {

int Picture::count(Rgb colour) const {
  int found = 0;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) found += at(x, y) == colour;
  return found;
}

Picture read_png(const std::string &path) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  Picture picture;
  if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return picture;
  image.format = PNG_FORMAT_RGB;
  picture.rgb.resize(PNG_IMAGE_SIZE(image));
  if (png_image_finish_read(&image, nullptr, picture.rgb.data(), 0, nullptr) == 0) {
    png_image_free(&image);
    return {};
  }
  picture.width = static_cast<int>(image.width);
  picture.height = static_cast<int>(image.height);
  return picture;
}

Picture saved_picture(const std::string &name, std::string_view png) {
  static const std::filesystem::path folder = fresh_folder("pictures");
  const std::string path = (folder / name).string();
  std::ofstream(path, std::ios::binary) << png;
  return read_png(path);
}

int ink_at_edges(const Picture &picture, int margin) {
  int ink = 0;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const bool edge =
          x < margin || y < margin || x >= picture.width - margin || y >= picture.height - margin;
      if (edge && picture.at(x, y) != white) ++ink;
    }
  return ink;
}

Found find_colour(const Picture &picture, Rgb colour, Area area) {
  Found found;
  double x = 0.0, y = 0.0;
  for (int row = std::max(area.top, 0); row < std::min(area.bottom, picture.height); ++row)
    for (int column = std::max(area.left, 0); column < std::min(area.right, picture.width);
         ++column)
      if (picture.at(column, row) == colour) {
        x += column + 0.5;
        y += row + 0.5;
        ++found.pixels;
      }
  if (found.pixels > 0) found.centre = {x / found.pixels, y / found.pixels};
  return found;
}

namespace {
// The longest run of `colour` down one column of the picture: its first row
// and its length.
std::pair<int, int> longest_run_down(const Picture &picture, Rgb colour, int column) {
  std::pair<int, int> longest{0, 0};
  int run = 0;
  for (int y = 0; y < picture.height; ++y) {
    run = picture.at(column, y) == colour ? run + 1 : 0;
    if (run > longest.second) longest = {y - run + 1, run};
  }
  return longest;
}
}  // namespace

Area find_frame(const Picture &picture, Rgb colour, int shortest) {
  // Its left and right sides are the outermost long lines down the picture;
  // its top and bottom, where its left side begins and ends (ticks drawn
  // across the bottom side break it up).
  Area frame{-1, 0, -1, 0};
  for (int x = 0; x < picture.width; ++x) {
    const auto [first, length] = longest_run_down(picture, colour, x);
    if (length < shortest) continue;
    if (frame.left < 0) frame = {x, first, x, first + length - 1};
    frame.right = x;
  }
  if (frame.right <= frame.left) return {};
  return frame;
}

double scale_bar_pixels(const Picture &picture, Area area) {
  const auto darkness = [&](int x, int y) {
    const Rgb c = picture.at(x, y);
    return 255.0 - (c[0] + c[1] + c[2]) / 3.0;
  };
  // The bar's line: the row with the most dark pixels.
  int bar_row = -1;
  int most = 0;
  for (int y = area.top; y < area.bottom; ++y) {
    int dark = 0;
    for (int x = area.left; x < area.right; ++x) dark += darkness(x, y) > 180.0;
    if (dark > most) most = dark, bar_row = y;
  }
  int top = bar_row;
  while (top > area.top) {
    int dark = 0;
    for (int x = area.left; x < area.right; ++x) dark += darkness(x, top - 1) > 180.0;
    if (dark * 5 < most * 4) break;
    --top;
  }
  if (most == 0 || top < area.top + 1) return 0.0;
  // Just above it, only the two ticks: each one's centre, weighted by how
  // dark each pixel is against the background beside it.
  const int y = top - 1;
  double background = 255.0;
  for (int x = area.left; x < area.right; ++x) background = std::min(background, darkness(x, y));
  std::vector<Point> ticks;
  double weight = 0.0, sum = 0.0;
  for (int x = area.left; x <= area.right; ++x) {
    const double d = x < area.right ? darkness(x, y) - background : 0.0;
    if (d > 20.0) {
      weight += d;
      sum += d * (x + 0.5);
    } else if (weight > 0.0) {
      ticks.push_back({sum / weight, static_cast<double>(y)});
      weight = sum = 0.0;
    }
  }
  // The bar's own ticks come first from its left end; whatever lies beyond
  // them is no part of it.
  if (ticks.size() < 2) return 0.0;
  return ticks[1].x - ticks[0].x;
}

}  // namespace support
