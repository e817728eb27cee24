#include "controller_api/controller.h"
#include "reacher/reacher.h"

// Hands the start-up and step functions to the library, which runs the robot
// until the simulation ends.
int main() {
  robot_live(init);
  robot_run(run_kinematic);
  return 0;
}
