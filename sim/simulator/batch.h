// A batch: one simulator process runs a list of worlds, one after another,
// starting the controller afresh for each. What the process loads once (the
// engines' libraries, the offscreen context, the compiled robot) serves every
// world, so a sweep pays its start-up once per batch rather than per world.
//
//   reacher-sim --batch FOLDER... -- CONTROLLER [ARGS...]
//
// Each FOLDER holds a world.toml and receives that world's outputs, as a run
// of its own started there would write them: `cd FOLDER && SIM_WORLD=world.toml
// SIM_OUTPUT=. CONTROLLER ARGS >console.txt 2>stderr.txt`. The controller
// runs in FOLDER; its console goes to console.txt, its stderr and the
// simulator's messages about the world to stderr.txt.
#pragma once

#include <string>
#include <vector>

namespace sim {

// Runs the worlds in order; stops at the first whose run did not end with
// status 0, or at a stop signal. Returns the exit status of the last world
// run (0 when all went well), having named a failed world on this process's
// stderr.
int run_batch(const std::vector<std::string> &folders, const std::vector<char *> &controller);

}  // namespace sim
