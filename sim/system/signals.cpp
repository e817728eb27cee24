#include "sim/system/signals.h"

#include <csignal>
#include <initializer_list>

namespace sim {

namespace {
volatile std::sig_atomic_t pending = 0;
volatile std::sig_atomic_t sigpipes = 0;
volatile std::sig_atomic_t pending_before_sigpipe = 0;

void on_stop_signal(int signal) {
  if (signal == SIGPIPE) {
    sigpipes = sigpipes + 1;
    pending_before_sigpipe = pending;
  }
  if (pending == 0) pending = signal;
  // The next one of this kind is not caught.
  std::signal(signal, SIG_DFL);
}

void catch_signal(int signal) {
  struct sigaction action {};
  action.sa_handler = on_stop_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}
}  // namespace

void catch_stop_signals() {
  for (const int signal : {SIGINT, SIGTERM, SIGPIPE}) catch_signal(signal);
}

int stop_signal() { return pending; }

namespace detail {
unsigned sigpipe_count() { return static_cast<unsigned>(sigpipes); }

void forget_sigpipes_since(unsigned count) {
  sigpipes = static_cast<std::sig_atomic_t>(count);
  pending = pending_before_sigpipe;
  // Caught again: the SIGPIPE was ours, not someone's request to stop.
  catch_signal(SIGPIPE);
}
}  // namespace detail

}  // namespace sim
