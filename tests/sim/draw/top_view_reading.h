// A top view read as a person reads it: where a ground point lies, found
// from the map's frame and its scale bar in the picture's own pixels, never
// from the mapping the drawing used.
#pragma once

#include "sim/core/geometry.h"
#include "tests/support/png_reader.h"

namespace topview {

// The ground a top view shows when nothing grows it (see ground_map.h): its
// top edge lies 0.16 m ahead of the hips' line, its left edge 0.17 m to the
// robot's left, and its scale bar reads 0.05 m.
constexpr double top_edge_x = 0.16;
constexpr double left_edge_y = 0.17;
constexpr double bar_metres = 0.05;
constexpr support::Rgb frame_ink{97, 97, 97};

// Where a reader of the picture finds a ground point: from the map's frame
// and its scale bar, both found in the picture's pixels, never from the
// mapping the drawing used.
struct Reading {
  support::Area frame;
  double pixels_per_metre = 0.0;
  support::Point at(sim::Vec2 ground) const {
    return {frame.left + (left_edge_y - ground.y) * pixels_per_metre,
            frame.top + (top_edge_x - ground.x) * pixels_per_metre};
  }
  // The pixels around a ground point, `half` each way.
  support::Area around(sim::Vec2 ground, int half) const {
    const support::Point p = at(ground);
    return {static_cast<int>(p.x) - half, static_cast<int>(p.y) - half,
            static_cast<int>(p.x) + half + 1, static_cast<int>(p.y) + half + 1};
  }
};

inline Reading read_ground(const support::Picture &picture) {
  Reading reading;
  reading.frame = support::find_frame(picture, frame_ink);
  const support::Area corner{reading.frame.left + 2, reading.frame.bottom - 40,
                             (reading.frame.left + reading.frame.right) / 2,
                             reading.frame.bottom - 1};
  reading.pixels_per_metre = support::scale_bar_pixels(picture, corner) / bar_metres;
  return reading;
}

}  // namespace topview
