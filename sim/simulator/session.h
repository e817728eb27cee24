// One run: a controller in a process of its own, served over its socket from
// its hello to its end. The session owns the world and every output; the
// controller reaches them only through the calls it logs, so whatever its
// process does (crash, fork, threads, a locale, a loop that never calls) the
// records are completed here.
#pragma once

#include <sys/types.h>

#include <string>

#include "sim/core/world_config.h"

namespace sim {

// Who the controller is to this process.
struct Peer {
  int socket = -1;
  pid_t child = 0;   // the controller's process, when it is this one's child
  pid_t parent = 0;  // the controller's process, when it is this one's parent
  std::string name;  // how messages name it
};

struct SessionSettings {
  WorldConfig world;
  std::string output_folder;  // empty: nothing is written
  // How long a controller may go on after its run has ended before it is
  // stopped (s).
  double grace_s = 10.0;
  // This process's stdout was closed when it started: the console is lost.
  bool stdout_closed = false;
  // A live window on the run, which paces it: real time unless its keys say
  // otherwise. Pictures of it taken with its key go to picture_folder.
  bool view = false;
  bool paused = false;  // the window starts paused, before the first step
  std::string picture_folder;
};

// Serves the controller until it has ended and every output is written.
// Returns the exit status the simulator's process should end with.
int serve(const SessionSettings &settings, const Peer &peer);

}  // namespace sim
