// Signals that ask a run to end early (SIGINT, SIGTERM, SIGPIPE). The run
// notices at its next step, completes its outputs, marks them interrupted and
// exits with 128 + the signal's number. A second signal of the same kind ends
// the process at once, in case the controller never steps again.
#pragma once

#include <string>

namespace sim {

void catch_stop_signals();
// 0, or the first signal that asked the run to end.
int stop_signal();
// A file descriptor that becomes readable when a stop signal, or a signal
// passed to wake_on, arrives: a program waiting in poll() sees it at once.
// Read it empty with drain_wakes().
int wake_fd();
void drain_wakes();
// Also wakes wake_fd() on this signal (its handler does nothing else).
void wake_on(int signal);
// "SIGSEGV", or "signal 77" for one without a name.
std::string signal_name(int signal);

namespace detail {
unsigned sigpipe_count();
void forget_sigpipes_since(unsigned count);
}  // namespace detail

// Runs a write to a pipe or stream and returns its result. A SIGPIPE the write
// raised itself is forgotten: a reader that went away is an output lost, which
// the write's result shows, not a request to stop.
template <typename Write>
auto write_forgetting_own_sigpipe(Write write) {
  const unsigned before = detail::sigpipe_count();
  auto result = write();
  if (detail::sigpipe_count() != before) detail::forget_sigpipes_since(before);
  return result;
}

}  // namespace sim
