#include "controller_api/controller.h"
#include "reacher/reacher.h"

namespace {
void start() { init(); }
int step() { return run_kinematic(); }
}  // namespace

int main() {
  robot_live(start);
  robot_run(step);
  return 0;
}
