#include "sim/simulator/controller_start.h"

#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "sim/channel/channel.h"

extern char **environ;

namespace sim {

bool start_controller(const std::vector<char *> &controller, Peer &peer) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
    std::fprintf(stderr, "sim: error: cannot make the link to the controller (%s)\n",
                 std::strerror(errno));
    return false;
  }
  // Its environment: this process's, less any link of its own, plus its end
  // of the link. Made before the child starts, which may only make system
  // calls.
  const std::string prefix = std::string(channel::channel_variable) + "=";
  const std::string link = prefix + std::to_string(ends[1]);
  std::vector<char *> envp;
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (!std::string_view(*entry).starts_with(prefix)) envp.push_back(*entry);
  envp.push_back(const_cast<char *>(link.c_str()));
  envp.push_back(nullptr);

  // vfork, not fork: once the offscreen renderer's libraries are mapped (in
  // a batch, from its second world on), a fork would copy their page tables
  // for every controller.
  const pid_t parent = ::getpid();
  volatile int exec_error = 0;
  const pid_t child = ::vfork();
  if (child == 0) {
    // The controller's end of the link survives exec; nothing else of ours does.
    ::fcntl(ends[1], F_SETFD, 0);
    // A controller outliving its simulator would run on without a world.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != parent) ::_exit(127);
    ::execvpe(controller[0], controller.data(), envp.data());
    exec_error = errno;
    ::_exit(127);
  }
  ::close(ends[1]);
  if (child < 0) {
    std::fprintf(stderr, "sim: error: cannot start the controller (%s)\n", std::strerror(errno));
    ::close(ends[0]);
    return false;
  }
  if (exec_error != 0)
    std::fprintf(stderr, "sim: error: cannot run the controller %s (%s)\n", controller[0],
                 std::strerror(exec_error));
  peer.child = child;
  peer.socket = ends[0];
  peer.name = std::string("the controller ") + controller[0];
  return true;
}

}  // namespace sim
