// What stops a run from starting or going on, such as a machine without the
// offscreen rendering the physics engine needs, or an output folder that
// cannot be written: the message says what and why. Errors are thrown up to
// the call layer, which alone reports them and ends the run.
#pragma once

#include <stdexcept>

namespace sim {

struct RunError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

}  // namespace sim
