// The camera calibration the controller's tables were made from: which ground
// point each pixel of a side view sees, and back.
#pragma once

#include <optional>

#include "sim/core/geometry.h"

namespace sim {

// The ground point (body frame) that pixel (column u, row v) of a side view
// sees; nothing for the forward view, or for a pixel that looks above the
// horizon (the view's mapping has no ground there).
std::optional<Vec2> ground_point(View view, double u, double v);

// The pixel (column u, row v) of a side view that sees a ground point, the
// inverse of ground_point; nothing if no pixel position does.
std::optional<Vec2> pixel_seeing(View view, Vec2 ground);

// Whether any part of a disc on the ground shows in a side view of a
// width x height camera.
bool disc_in_view(View view, Vec2 centre, double radius, int width, int height);

}  // namespace sim
