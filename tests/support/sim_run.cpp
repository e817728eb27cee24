#include "tests/support/sim_run.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <stdexcept>

#include "sim/system/files.h"
#include "tests/support/warnings.h"

extern char **environ;

namespace simrun {

namespace fs = std::filesystem;

std::string Call::text(const std::string &key) const {
  const auto it = fields.find(key);
  if (it == fields.end()) throw std::runtime_error("no field " + key + " in " + op);
  return it->second;
}

double Call::number(const std::string &key) const {
  const std::string value = text(key);
  if (value == "nan") return std::numeric_limits<double>::quiet_NaN();
  if (value == "inf") return std::numeric_limits<double>::infinity();
  if (value == "-inf") return -std::numeric_limits<double>::infinity();
  return std::stod(value);
}

std::int64_t Call::integer(const std::string &key) const { return std::stoll(text(key)); }

std::vector<Call> RunResult::calls(const std::string &op) const {
  std::vector<Call> found;
  for (const Call &call : trace)
    if (call.op == op) found.push_back(call);
  return found;
}

std::vector<std::string> RunResult::warnings() const { return support::warning_lines(err); }

nlohmann::json RunResult::report() const {
  const std::string text = read_file(folder + "/report.json");
  if (text.empty()) return nullptr;
  return nlohmann::json::parse(text);
}

std::string read_file(const std::string &path) {
  try {
    return sim::read_file(path);
  } catch (const sim::FileError &) {
    return "";
  }
}

Call parse_call(const std::string &line) {
  Call call;
  std::size_t at = 0;
  auto fail = [&](const char *why) {
    throw std::runtime_error(std::string("bad trace line (") + why + "): " + line);
  };
  auto expect = [&](char ch) {
    if (at >= line.size() || line[at] != ch) fail("unexpected character");
    ++at;
  };
  auto string = [&]() {
    expect('"');
    std::string out;
    while (at < line.size() && line[at] != '"') {
      char ch = line[at++];
      if (ch == '\\') {
        if (at >= line.size()) fail("escape");
        const char code = line[at++];
        switch (code) {
          case 'n':
            ch = '\n';
            break;
          case 't':
            ch = '\t';
            break;
          case 'r':
            ch = '\r';
            break;
          case 'u':
            if (at + 4 > line.size()) fail("escape");
            ch = static_cast<char>(std::stoi(line.substr(at, 4), nullptr, 16));
            at += 4;
            break;
          default:
            ch = code;
        }
      }
      out += ch;
    }
    expect('"');
    return out;
  };
  expect('{');
  while (at < line.size() && line[at] != '}') {
    if (line[at] == ',') ++at;
    const std::string key = string();
    expect(':');
    std::string value;
    if (at < line.size() && line[at] == '"') {
      value = string();
    } else {
      const std::size_t end = line.find_first_of(",}", at);
      if (end == std::string::npos) fail("value");
      value = line.substr(at, end - at);
      at = end;
    }
    if (key == "step")
      call.step = std::stoll(value);
    else if (key == "op")
      call.op = value;
    else
      call.fields[key] = value;
  }
  expect('}');
  return call;
}

namespace {

std::string test_folder() {
  const auto *info = ::testing::UnitTest::GetInstance()->current_test_info();
  std::string name = info != nullptr ? std::string(info->test_suite_name()) + "." + info->name()
                                     : std::string("run");
  for (char &ch : name)
    if (ch == '/') ch = '_';
  const fs::path folder = fs::path(REACHER_TEST_RUNS) / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder.string();
}

// Waits until the run has written its first steps to the trace, so that a
// signal arrives in the middle of the run, not before the world exists.
void wait_for_steps(const std::string &folder) {
  const fs::path trace = fs::path(folder) / ".trace.jsonl.partial";
  for (int tries = 0; tries < 2000; ++tries) {
    std::error_code error;
    if (fs::file_size(trace, error) > 4096 && !error) return;
    ::usleep(5000);
  }
}

RunResult run_in(const std::string &folder, const std::string &world_path, const Options &options) {
  RunResult run;
  run.folder = folder;
  std::vector<std::string> env_text;
  // The run's own settings, and the options' entries, take the place of this
  // process's.
  const auto replaced = [&](const std::string &entry) {
    const std::string name = entry.substr(0, entry.find('=') + 1);
    if (name == "SIM_WORLD=" || name == "SIM_OUTPUT=") return true;
    return std::any_of(options.env.begin(), options.env.end(),
                       [&](const std::string &given) { return given.rfind(name, 0) == 0; });
  };
  for (char **e = environ; *e != nullptr; ++e)
    if (!replaced(*e)) env_text.push_back(*e);
  if (!world_path.empty()) env_text.push_back("SIM_WORLD=" + world_path);
  env_text.push_back("SIM_OUTPUT=" +
                     (options.output_folder.empty() ? folder : options.output_folder));
  for (const std::string &entry : options.env) env_text.push_back(entry);
  std::vector<char *> env;
  for (std::string &entry : env_text) env.push_back(entry.data());
  env.push_back(nullptr);

  const std::string out_path = folder + "/stdout.txt";
  const std::string err_path = folder + "/stderr.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  int pipe_ends[2] = {-1, -1};
  switch (options.stdout_to) {
    case Options::Stdout::file:
      posix_spawn_file_actions_addopen(&actions, 1, out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                       0644);
      break;
    case Options::Stdout::full_disk:
      posix_spawn_file_actions_addopen(&actions, 1, "/dev/full", O_WRONLY, 0);
      break;
    case Options::Stdout::closed:
      posix_spawn_file_actions_addclose(&actions, 1);
      break;
    case Options::Stdout::broken_pipe:
      if (::pipe(pipe_ends) != 0) throw std::runtime_error("cannot make a pipe");
      ::close(pipe_ends[0]);  // the reader is gone before the run starts
      posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], 1);
      break;
  }
  posix_spawn_file_actions_addopen(&actions, 2, err_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                   0644);
  std::string exe = options.executable.empty() ? REACHER_EXE : options.executable;
  std::vector<std::string> words;
  if (options.through_simulator) {
    words.push_back(REACHER_SIM_EXE);
    if (!world_path.empty()) words.push_back(world_path);
    words.push_back("--");
  }
  words.push_back(exe);
  words.insert(words.end(), options.args.begin(), options.args.end());
  std::vector<char *> argv;
  for (std::string &word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), env.data());
  posix_spawn_file_actions_destroy(&actions);
  if (pipe_ends[1] >= 0) ::close(pipe_ends[1]);
  if (spawned != 0) throw std::runtime_error("cannot start " + exe);
  if (options.signal != 0) {
    if (options.signal_when.empty())
      wait_for_steps(folder);
    else
      for (int tries = 0; tries < 6000 && !fs::exists(options.signal_when); ++tries) ::usleep(5000);
    ::kill(pid, options.signal);
  }
  int status = 0;
  if (options.timeout_s > 0.0) {
    const auto until = std::chrono::steady_clock::now() +
                       std::chrono::milliseconds(static_cast<long>(options.timeout_s * 1000));
    while (waitpid(pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > until) {
        ::kill(pid, SIGKILL);
        waitpid(pid, &status, 0);
        break;
      }
      ::usleep(10'000);
    }
  } else {
    waitpid(pid, &status, 0);
  }
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.signal = WIFSIGNALED(status) ? WTERMSIG(status) : 0;
  run.out = read_file(out_path);
  run.err = read_file(err_path);
  std::ifstream trace(folder + "/trace.jsonl");
  for (std::string line; std::getline(trace, line);)
    if (!line.empty()) run.trace.push_back(parse_call(line));
  EXPECT_TRUE(support::only_expected_warnings(run.err, options.expected_warnings))
      << "in the run in " << folder;
  return run;
}

}  // namespace

RunResult run_reacher(const std::string &world_toml, const Options &options) {
  const std::string folder = test_folder();
  std::string world_path;
  if (!world_toml.empty()) {
    world_path = folder + "/world.toml";
    std::ofstream(world_path) << world_toml;
  }
  return run_in(folder, world_path, options);
}

RunResult run_reacher_with_file(const std::string &world_path, const Options &options) {
  return run_in(test_folder(), world_path, options);
}

std::vector<float> positions_for(const RunResult &run, std::int64_t tag) {
  std::vector<float> out;
  for (const Call &call : run.trace)
    if (call.op == "servo_set_position" && call.integer("tag") == tag)
      out.push_back(static_cast<float>(call.number("position")));
  return out;
}

}  // namespace simrun
