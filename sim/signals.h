// Signals that ask a run to end early (SIGINT, SIGTERM, SIGPIPE). The run
// notices at its next step, completes its outputs, marks them interrupted and
// exits with 128 + the signal's number. A second signal of the same kind ends
// the process at once, in case the controller never steps again.
#pragma once

namespace sim {

void catch_stop_signals();
// 0, or the first signal that asked the run to end.
int stop_signal();

namespace detail {
unsigned sigpipe_count();
void forget_sigpipes_since(unsigned count);
}  // namespace detail

// Runs a write to a pipe or stream and tells whether it raised SIGPIPE itself:
// a reader that went away is an output lost, not a request to stop, so that
// SIGPIPE is forgotten.
template <typename Write>
auto write_forgetting_own_sigpipe(Write write, bool &raised_sigpipe) {
  const unsigned before = detail::sigpipe_count();
  auto result = write();
  raised_sigpipe = detail::sigpipe_count() != before;
  if (raised_sigpipe) detail::forget_sigpipes_since(before);
  return result;
}

}  // namespace sim
