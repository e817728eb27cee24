// What each reach did: the window the controller's image held, the ground
// point under its centre (the point the controller aimed at), and where the
// foot came to rest. The stand-in finds the window itself, with its own plain
// scan, so a fault in the controller's search shows as a disagreement.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "sim/ground.h"
#include "sim/report.h"

namespace sim {

// A 7 x 7 window of pixels, by its top-left pixel.
struct Window {
  int x = 0;  // image column
  int y = 0;  // image row
};

inline constexpr int window_side = 7;  // pixels
// The red bytes of a window showing the target's colour (49 x 214).
inline constexpr int window_sum = window_side * window_side * 214;

// The window of exact target level in the top-left square of an image (3
// bytes a pixel, red first, rows top to bottom): the last match of a scan
// with x outer and y inner, as the controller scans. Positions stay below
// 157, where the controller's tables end, whatever the camera's size.
std::optional<Window> find_target_level_window(const unsigned char *rgb, int width, int height);

struct Reach {
  std::int64_t search_step = 0;  // when the controller searched its image for the window
  int leg = 0;                   // 0 left, 2 right
  std::optional<Window> window;  // what the stand-in saw in that image
  std::optional<Vec2> aimed;     // the ground point under the window's centre
  Placement placement;           // where the foot came to rest
  // The foot's distance from the aimed point: how well the reach was executed.
  std::optional<double> error() const;
};

// Follows the reaches of a run. A reach runs from the controller's window
// search to its next rest posture; its placement is the last one of that
// side's leg in between, and it counts only if that foot is away from its
// rest point (a reach without a window sends the leg back to rest).
class ReachLog {
 public:
  void search(std::int64_t step, int leg, std::optional<Window> window, std::optional<Vec2> aimed);
  void placed(const Placement &placement);
  void rest_posture();
  // Every reach, the one still open included.
  std::vector<Reach> reaches() const;
  // Reaches that are over: their leg went back to rest (or a new one began).
  std::int64_t finished_count() const { return static_cast<std::int64_t>(closed_.size()); }

 private:
  std::vector<Reach> closed_;
  std::optional<Reach> open_;
  bool open_placed_ = false;
};

// How far (x, y) lies from the rest point of front leg 0 or 2's foot, right
// under its hip, and whether that is within the millimetre that still counts
// as at rest.
double from_rest_point(int leg, double x, double y);
bool at_rest_point(int leg, double x, double y);

}  // namespace sim
