#include "tests/support/folders.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

namespace support {

namespace {
// PATH as the test process found it, before any fake program was put first.
const std::string &original_path() {
  static const std::string path = [] {
    const char *found = std::getenv("PATH");
    return std::string(found != nullptr ? found : "/usr/bin:/bin");
  }();
  return path;
}
}  // namespace

fs::path fresh_folder(std::string_view name) {
  const fs::path folder =
      fs::path(testing::TempDir()) / (std::string(name) + "_" + std::to_string(::getpid()));
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

fs::path fake_program(std::string_view name, std::string_view script) {
  const fs::path folder = fresh_folder("fake_" + std::string(name) + "_" +
                                       std::to_string(std::hash<std::string_view>{}(script)));
  {
    std::ofstream file(folder / name);
    file << "#!/bin/sh\n" << script << "\n";
  }
  fs::permissions(folder / name, fs::perms::owner_all);
  return folder;
}

std::string path_entry_with(const fs::path &folder) {
  return "PATH=" + folder.string() + ":" + original_path();
}

void put_first_on_path(const fs::path &folder) {
  ::setenv("PATH", (folder.string() + ":" + original_path()).c_str(), 1);
}

std::pair<int, std::string> run_command(const std::string &command) {
  FILE *pipe = ::popen((command + " 2>&1").c_str(), "r");
  std::string said;
  char buffer[512];
  while (pipe != nullptr && std::fgets(buffer, sizeof buffer, pipe) != nullptr) said += buffer;
  const int status = pipe != nullptr ? ::pclose(pipe) : -1;
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, said};
}

}  // namespace support
