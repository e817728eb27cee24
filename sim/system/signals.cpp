#include "sim/system/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <initializer_list>

namespace sim {

namespace {
volatile std::sig_atomic_t pending = 0;
volatile std::sig_atomic_t sigpipes = 0;
volatile std::sig_atomic_t pending_before_sigpipe = 0;
int wake_pipe[2] = {-1, -1};

void make_wake_pipe() {
  if (wake_pipe[0] >= 0) return;
  if (::pipe2(wake_pipe, O_CLOEXEC | O_NONBLOCK) != 0) wake_pipe[0] = wake_pipe[1] = -1;
}

void wake() {
  const int saved = errno;
  if (wake_pipe[1] >= 0) {
    const char byte = 0;
    // A full pipe is already awake.
    [[maybe_unused]] const ssize_t written = ::write(wake_pipe[1], &byte, 1);
  }
  errno = saved;
}

void on_wake_signal(int) { wake(); }

void on_stop_signal(int signal) {
  if (signal == SIGPIPE) {
    sigpipes = sigpipes + 1;
    pending_before_sigpipe = pending;
  }
  if (pending == 0) pending = signal;
  // The next one of this kind is not caught.
  std::signal(signal, SIG_DFL);
  wake();
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
  make_wake_pipe();
  for (const int signal : {SIGINT, SIGTERM, SIGPIPE}) catch_signal(signal);
}

int stop_signal() { return pending; }

int wake_fd() {
  make_wake_pipe();
  return wake_pipe[0];
}

void drain_wakes() {
  char bytes[64];
  while (wake_pipe[0] >= 0 && ::read(wake_pipe[0], bytes, sizeof bytes) > 0) {
  }
}

void wake_on(int signal) {
  make_wake_pipe();
  struct sigaction action {};
  action.sa_handler = on_wake_signal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(signal, &action, nullptr);
}

std::string signal_name(int signal) {
  const char *abbreviation = ::sigabbrev_np(signal);
  if (abbreviation == nullptr) return "signal " + std::to_string(signal);
  return std::string("SIG") + abbreviation;
}

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
