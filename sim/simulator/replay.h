// reacher-sim --replay OUT_DIR: a finished physics run shown again in the
// live window, from what it left behind: the robot posed row by row from
// state.csv in the model of its world.xml, the camera images it saved in the
// corner, and its reaches from report.json on the floor. Nothing is run and
// nothing in the folder changes but the window's own pictures.
#pragma once

#include <string>

namespace sim {

// Returns the process's exit status: 0 when the window was closed, 2 when
// the folder holds no run that can be replayed (said on stderr).
int replay(const std::string &folder, bool paused);

}  // namespace sim
