// Temporary folders and stand-in programs for tests. Every folder is named
// after the test process, so test programs running side by side (ctest -j)
// never share one.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <utility>

namespace support {

namespace fs = std::filesystem;

// An empty folder `name` under the tests' temporary folder, made afresh:
// whatever an earlier run left there is removed.
fs::path fresh_folder(std::string_view name);

// A program called `name` that runs the shell script `script`, alone in a
// fresh folder, which is returned: put it first on PATH to stand in for the
// real program.
fs::path fake_program(std::string_view name, std::string_view script);
// "PATH=<folder>:<this process's PATH when it started>", for a run's
// environment.
std::string path_entry_with(const fs::path &folder);
// Puts `folder` first on this process's own PATH, in place of any folder an
// earlier call put there, for code under test that starts programs itself.
void put_first_on_path(const fs::path &folder);

// Runs a shell command, its stderr joined to its stdout: its exit status (-1
// if it did not exit) and everything it said.
std::pair<int, std::string> run_command(const std::string &command);

}  // namespace support
