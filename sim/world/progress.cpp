#include "sim/world/progress.h"

#include <unistd.h>

#include <cstdio>
#include <string>

namespace sim {

namespace {
using namespace std::chrono_literals;
// A run that ends within this shows no bar; after it, the bar is redrawn at
// most this often.
constexpr auto quiet_start = 2s;
constexpr auto redraw = 200ms;
constexpr int bar_width = 30;
}  // namespace

Progress::Progress(std::int64_t total_steps)
    : total_(total_steps),
      terminal_(::isatty(STDERR_FILENO) == 1),
      start_(std::chrono::steady_clock::now()),
      last_(start_) {}

void Progress::step(std::int64_t steps_done) {
  // The clock is read only every 64 steps: the bar costs nothing per step.
  if (!terminal_ || (steps_done & 63) != 0) return;
  const auto now = std::chrono::steady_clock::now();
  if (now - start_ < quiet_start || now - last_ < redraw) return;
  last_ = now;
  const double done =
      total_ > 0 ? static_cast<double>(steps_done) / static_cast<double>(total_) : 1.0;
  const double seconds = std::chrono::duration<double>(now - start_).count();
  const double left = done > 0.0 ? seconds * (1.0 - done) / done : 0.0;
  const int filled = static_cast<int>(done * bar_width);
  std::string bar(static_cast<std::size_t>(filled), '#');
  bar.resize(bar_width, '.');
  std::fprintf(stderr, "\rsim: [%s] %3d %%  step %lld of %lld, about %.0f s left ", bar.c_str(),
               static_cast<int>(done * 100.0), static_cast<long long>(steps_done),
               static_cast<long long>(total_), left);
  std::fflush(stderr);
  shown_ = true;
}

void Progress::clear() {
  if (!shown_) return;
  std::fprintf(stderr, "\r\033[K");
  std::fflush(stderr);
  shown_ = false;
}

}  // namespace sim
