#include "sim/simulator/batch.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "sim/channel/channel.h"
#include "sim/core/errors.h"
#include "sim/simulator/session.h"
#include "sim/system/signals.h"
#include "sim/world/world_file.h"

extern char **environ;

namespace sim {

namespace {

// What every world of the batch shares: where the batch started, its own
// stdout and stderr, and how the controller is started.
struct Batch {
  int home = -1;     // the folder the batch was started in
  int stdout_ = -1;  // the batch's own stdout and stderr, while a world's are in place
  int stderr_ = -1;
  std::string program;               // the controller, found on PATH as execvp would
  std::vector<char *> argv;          // its arguments, null-terminated
  std::vector<std::string> entries;  // its environment, less any link of this process's own
  std::vector<char *> envp;          // the same as pointers, the link's entry last
};

// The controller's program file: a name with a slash as it is, otherwise the
// first executable of that name on PATH.
std::string program_path(const char *name) {
  if (std::strchr(name, '/') != nullptr) return name;
  const char *path = std::getenv("PATH");
  std::string_view folders = path != nullptr && *path != '\0' ? path : "/usr/bin:/bin";
  for (;;) {
    const std::size_t colon = folders.find(':');
    const std::string_view folder = folders.substr(0, colon);
    const std::string candidate = (folder.empty() ? "." : std::string(folder)) + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
    if (colon == std::string_view::npos) return name;
    folders.remove_prefix(colon + 1);
  }
}

// Starts the controller in the current folder, with its end of the link
// named in its environment. vfork, not fork: by the second world this
// process maps the offscreen renderer's libraries, whose page tables a fork
// would copy for every controller. The child makes system calls only.
pid_t start_controller(Batch &batch, int controller_end, int &exec_error) {
  const std::string link =
      std::string(channel::channel_variable) + "=" + std::to_string(controller_end);
  batch.envp.back() = const_cast<char *>(link.c_str());
  batch.envp.push_back(nullptr);
  const pid_t parent = ::getpid();
  volatile int failed = 0;
  const pid_t child = ::vfork();
  if (child == 0) {
    // The controller's end of the link survives exec; nothing else of ours does.
    ::fcntl(controller_end, F_SETFD, 0);
    // A controller outliving its simulator would run on without a world.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::execve(batch.program.c_str(), batch.argv.data(), batch.envp.data());
    failed = errno;
    ::_exit(127);
  }
  batch.envp.pop_back();
  exec_error = failed;
  return child;
}

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
  settings.output_folder = ".";
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    std::fprintf(stderr, "sim: error: cannot make the link to the controller (%s)\n",
                 std::strerror(errno));
    return 2;
  }
  int exec_error = 0;
  Peer peer;
  peer.child = start_controller(batch, ends[1], exec_error);
  ::close(ends[1]);
  if (peer.child < 0) {
    std::fprintf(stderr, "sim: error: cannot start the controller (%s)\n", std::strerror(errno));
    ::close(ends[0]);
    return 2;
  }
  if (exec_error != 0)
    std::fprintf(stderr, "sim: error: cannot run the controller %s (%s)\n", batch.argv[0],
                 std::strerror(exec_error));
  peer.socket = ends[0];
  peer.name = std::string("the controller ") + batch.argv[0];
  const int status = serve(settings, peer);
  ::close(ends[0]);
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
  batch.program = program_path(controller[0]);
  batch.argv = controller;
  const std::string prefix = std::string(channel::channel_variable) + "=";
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (!std::string_view(*entry).starts_with(prefix)) batch.entries.emplace_back(*entry);
  for (std::string &entry : batch.entries) batch.envp.push_back(entry.data());
  batch.envp.push_back(nullptr);  // the link's entry takes this place

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
