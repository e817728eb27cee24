#include "bench/library_world.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

extern char **environ;

namespace bench {

const std::string &library_world_file() {
  static const std::string path = [] {
    const std::filesystem::path folder =
        std::filesystem::temp_directory_path() / ("reacher_bench_" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    const std::string file = (folder / "world.toml").string();
    std::ofstream(file) << "engine = \"kinematic\"\nsteps = " << library_world_steps << "\n"
                        << "[[block]]\nview = \"right\"\nx = 77\ny = 77\n"
                        << "[[block]]\nview = \"left\"\nx = 77\ny = 130\n";
    return file;
  }();
  return path;
}

bool library_simulator_started() {
  static const bool started = [] {
    int ends[2];
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    const std::string channel = std::to_string(ends[1]);
    const std::string world = "SIM_WORLD=" + library_world_file();
    const char *argv[] = {REACHER_SIM_EXE, "--channel", channel.c_str(), "--controller-is-parent",
                          nullptr};
    std::vector<char *> env;
    for (char **entry = environ; *entry != nullptr; ++entry)
      if (std::string_view(*entry).rfind("SIM_", 0) != 0) env.push_back(*entry);
    env.push_back(const_cast<char *>(world.c_str()));
    env.push_back(nullptr);
    // The simulator's end of the link, and nothing else of this process's,
    // survives into it.
    fcntl(ends[1], F_SETFD, 0);
    pid_t simulator = 0;
    const int failed = posix_spawn(&simulator, REACHER_SIM_EXE, nullptr, nullptr,
                                   const_cast<char *const *>(argv), env.data());
    close(ends[1]);
    if (failed != 0) return false;
    setenv("SIM_CHANNEL", std::to_string(ends[0]).c_str(), 1);
    unsetenv("SIM_OUTPUT");
    return true;
  }();
  return started;
}

}  // namespace bench
