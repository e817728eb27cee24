#include "sim/simulator/batch.h"

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "sim/core/errors.h"
#include "sim/simulator/controller_start.h"
#include "sim/simulator/session.h"
#include "sim/system/signals.h"
#include "sim/world/world_file.h"

namespace sim {

namespace {

// What every world of the batch shares: where the batch started, its own
// stdout and stderr, and the controller.
struct Batch {
  int home = -1;     // the folder the batch was started in
  int stdout_ = -1;  // the batch's own stdout and stderr, while a world's are in place
  int stderr_ = -1;
  std::vector<char *> controller;  // its arguments, null-terminated
};

// Runs the world of one folder, the current one by then; its exit status.
int run_world(Batch &batch, const std::string &folder) {
  if (::fchdir(batch.home) != 0 || ::chdir(folder.c_str()) != 0) {
    dprintf(batch.stderr_, "reacher-sim: error: cannot enter the batch's folder %s (%s)\n",
            folder.c_str(), std::strerror(errno));
    return 2;
  }
  const int console = ::open("console.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  const int messages = ::open("stderr.txt", O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (console < 0 || messages < 0) {
    dprintf(batch.stderr_,
            "reacher-sim: error: cannot write console.txt or stderr.txt in %s (%s)\n",
            folder.c_str(), std::strerror(errno));
    if (console >= 0) ::close(console);
    if (messages >= 0) ::close(messages);
    return 2;
  }
  ::dup2(console, STDOUT_FILENO);
  ::dup2(messages, STDERR_FILENO);
  ::close(console);
  ::close(messages);

  SessionSettings settings;
  try {
    settings.world = load_world_file("world.toml");
  } catch (const WorldFileError &error) {
    std::fprintf(stderr, "sim: error: %s\n", error.what());
    return 2;
  } catch (const RunError &error) {
    std::fprintf(stderr, "sim: error: %s\n", error.what());
    return 2;
  }
  // Assigned as a string, not a literal: GCC 12 warns falsely of an overlap
  // (-Wrestrict) where a literal is assigned here.
  settings.output_folder = std::string(".");
  Peer peer;
  if (!start_controller(batch.controller, peer)) return 2;
  const int status = serve(settings, peer);
  ::close(peer.socket);
  return status;
}

}  // namespace

int run_batch(const std::vector<std::string> &folders, const std::vector<char *> &controller) {
  Batch batch;
  batch.home = ::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  batch.stdout_ = ::fcntl(STDOUT_FILENO, F_DUPFD_CLOEXEC, 3);
  batch.stderr_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (batch.home < 0 || batch.stdout_ < 0 || batch.stderr_ < 0) {
    std::fprintf(stderr, "reacher-sim: error: cannot start the batch (%s)\n", std::strerror(errno));
    return 2;
  }
  batch.controller = controller;

  int status = 0;
  for (const std::string &folder : folders) {
    if (stop_signal() != 0) {
      status = 128 + stop_signal();
      break;
    }
    status = run_world(batch, folder);
    std::fflush(stdout);
    ::dup2(batch.stdout_, STDOUT_FILENO);
    ::dup2(batch.stderr_, STDERR_FILENO);
    if (status != 0) {
      std::fprintf(stderr,
                   "reacher-sim: the run of %s ended with exit status %d; its messages are in "
                   "%s/stderr.txt\n",
                   folder.c_str(), status, folder.c_str());
      break;
    }
  }
  ::fchdir(batch.home);
  for (const int fd : {batch.home, batch.stdout_, batch.stderr_}) ::close(fd);
  return status;
}

}  // namespace sim
