// Runs the real reacher executable under the stand-in, as its own process,
// and reads back what it did: the trace of every library call, the console
// (stdout), the stand-in's messages (stderr), the exit status and the report.
// A run that gives a warning its test did not declare fails that test.
#pragma once

#include <cstdint>
#include <map>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace simrun {

// One library call from trace.jsonl.
struct Call {
  std::int64_t step = 0;  // steps completed before the call
  std::string op;
  std::map<std::string, std::string> fields;  // raw JSON values, strings unescaped

  bool has(const std::string &key) const { return fields.count(key) != 0; }
  std::string text(const std::string &key) const;
  double number(const std::string &key) const;
  std::int64_t integer(const std::string &key) const;
};

struct RunResult {
  int status = -1;     // exit status, or -1 if it did not exit normally
  int signal = 0;      // the signal that ended it, if one did
  std::string folder;  // SIM_OUTPUT of the run
  std::string out;     // the controller's console
  std::string err;     // the stand-in's messages
  std::vector<Call> trace;

  // Calls of one operation, in order.
  std::vector<Call> calls(const std::string &op) const;
  // Lines of err that are warnings.
  std::vector<std::string> warnings() const;
  // report.json, parsed; null when the run left none.
  nlohmann::json report() const;
};

// How a run is started, beyond its world.
struct Options {
  std::vector<std::string> env;  // extra NAME=value entries
  // Where the console goes: a file (read back into RunResult::out), a full
  // disk, nowhere (stdout closed), or a pipe whose reader has gone.
  enum class Stdout { file, full_disk, closed, broken_pipe } stdout_to = Stdout::file;
  // Sent once the run has taken its first steps (or, with signal_when, once
  // that file exists); 0: none.
  int signal = 0;
  std::string signal_when;
  // SIM_OUTPUT, if not the test's own folder.
  std::string output_folder;
  // The controller executable, if not this build's reacher, and its arguments.
  std::string executable;
  std::vector<std::string> args;
  // Run as `reacher-sim [WORLD] -- CONTROLLER ARGS...` rather than the
  // controller on its own.
  bool through_simulator = false;
  // Gives up on a run that has not ended after this many seconds, killing it
  // (status -1, signal SIGKILL).
  double timeout_s = 0.0;
  // Words of the warnings the test expects; any other warning fails it.
  std::vector<std::string> expected_warnings;
};

// Runs reacher in a fresh folder named after the current test, with
// world_toml as its world file (empty: no SIM_WORLD, the default world).
RunResult run_reacher(const std::string &world_toml, const Options &options = {});
// The same, for a world file that already exists.
RunResult run_reacher_with_file(const std::string &world_path, const Options &options = {});

// The text of a file, or "" if it cannot be read.
std::string read_file(const std::string &path);
// Parses one trace line; throws std::runtime_error on a malformed one.
Call parse_call(const std::string &line);

// Set-points given to one tag, in order.
std::vector<float> positions_for(const RunResult &run, std::int64_t tag);

}  // namespace simrun
