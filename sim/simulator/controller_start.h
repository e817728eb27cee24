// Starting the controller as this process's child: a single run and every
// world of a batch start it the same way.
#pragma once

#include <vector>

#include "sim/simulator/session.h"

namespace sim {

// Starts `controller` (its arguments, null-terminated; the program found on
// PATH as execvp finds it) in the current folder, linked to this process by
// a socket pair whose other end is named in its environment. Fills peer's
// socket, child and name. A controller that cannot be run still counts as
// started: it ends at once with status 127, and the session reports it.
// False, having said why on stderr, when no process could be started.
bool start_controller(const std::vector<char *> &controller, Peer &peer);

}  // namespace sim
