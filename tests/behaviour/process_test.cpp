// The simulator runs in a process of its own: whatever the controller's
// process does, the run's records come out whole and say how it ended. Each
// test runs a real misbehaving controller (probe_controller.c), on its own
// (the library starts the simulator) and under reacher-sim.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

#if defined(__SANITIZE_ADDRESS__)
#define PROBES_UNDER_ADDRESS_SANITIZER
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define PROBES_UNDER_ADDRESS_SANITIZER
#endif
#endif

namespace {

namespace fs = std::filesystem;
using nlohmann::json;

const std::string kinematic_world = "engine = \"kinematic\"\nsteps = 300\n";

simrun::Options probe(std::vector<std::string> args, bool through_simulator = false) {
  simrun::Options options;
  options.executable = REACHER_PROBE_EXE;
  options.args = std::move(args);
  options.through_simulator = through_simulator;
  options.timeout_s = 60.0;
  return options;
}

json report_of(const simrun::RunResult &run) {
  const std::string text = simrun::read_file(run.folder + "/report.json");
  if (text.empty()) return json();
  return json::parse(text);
}

std::vector<std::string> lines_of(const std::string &path) {
  std::vector<std::string> lines;
  std::istringstream in(simrun::read_file(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// Every output is whole: none is left half-written, the state log has one
// whole row a step, and the trace (read by the run) ends with the run's end.
void expect_whole_outputs(const simrun::RunResult &run, std::int64_t steps) {
  for (const auto &entry : fs::directory_iterator(run.folder))
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos) << entry.path();
  const std::vector<std::string> rows = lines_of(run.folder + "/state.csv");
  ASSERT_FALSE(rows.empty());
  EXPECT_EQ(static_cast<std::int64_t>(rows.size()), steps + 1);
  const auto columns = [](const std::string &row) {
    return std::count(row.begin(), row.end(), ',');
  };
  EXPECT_EQ(columns(rows.back()), columns(rows.front()));
  ASSERT_FALSE(run.trace.empty());
  EXPECT_EQ(run.trace.back().op, "end");
  EXPECT_EQ(report_of(run).value("steps", -1), steps);
}

struct Crash {
  const char *action;
  const char *name;
  int status;  // the run's exit status
  const char *ended;
  const char *says;  // in the summary line
};

class ControllerCrash : public ::testing::TestWithParam<std::tuple<Crash, bool>> {};

TEST_P(ControllerCrash, LeavesEveryOutputWholeAndSaysHowAndWhenTheControllerEnded) {
  const auto [crash, through_simulator] = GetParam();
  const simrun::RunResult run =
      simrun::run_reacher(kinematic_world, probe({"plain", crash.action}, through_simulator));
  EXPECT_EQ(run.status, crash.status) << run.err;
  expect_whole_outputs(run, 29);
  const json report = report_of(run);
  EXPECT_TRUE(report.value("interrupted", false));
  ASSERT_TRUE(report.contains("controller")) << report.dump();
  EXPECT_EQ(report["controller"]["ended"], crash.ended);
  EXPECT_EQ(report["controller"]["step"], 29);
  EXPECT_NE(run.err.find(crash.says), std::string::npos) << run.err;
}

#ifdef PROBES_UNDER_ADDRESS_SANITIZER
// AddressSanitizer takes the fault, reports it and exits with 1.
const Crash segv_crash{"segv", "segv", 1, "exited",
                       "the controller exited with status 1 at step 29, before its run was over"};
#else
const Crash segv_crash{"segv", "segv", 128 + SIGSEGV, "killed",
                       "the controller was killed by SIGSEGV at step 29"};
#endif

INSTANTIATE_TEST_SUITE_P(
    Probes, ControllerCrash,
    ::testing::Combine(
        ::testing::Values(
            Crash{"abort", "abort", 128 + SIGABRT, "killed",
                  "the controller was killed by SIGABRT at step 29"},
            segv_crash,
            Crash{"exit0", "exit0", 0, "exited",
                  "the controller exited with status 0 at step 29, before its run was over"}),
        ::testing::Bool()),
    [](const auto &param_info) {
      return std::string(std::get<0>(param_info.param).name) +
             (std::get<1>(param_info.param) ? "_under_reacher_sim" : "_on_its_own");
    });

TEST(ControllerCrash, AbortInAThreadedControllerStillLeavesWholeOutputs) {
  // With threads at its first call the library starts the simulator as its
  // child, which learns of the end from the library's last words.
  const simrun::RunResult run = simrun::run_reacher("engine = \"kinematic\"\nsteps = 3000\n",
                                                    probe({"two_threads", "abort"}));
  EXPECT_EQ(run.signal, SIGABRT) << run.err;
  const json report = report_of(run);
  EXPECT_TRUE(report.value("interrupted", false));
  EXPECT_EQ(report["controller"]["signal"], "SIGABRT");
  for (const auto &entry : fs::directory_iterator(run.folder))
    EXPECT_EQ(entry.path().filename().string().find(".partial"), std::string::npos);
}

TEST(ThreadedController, RunsAPhysicsWorldFromAWorkerThread) {
  const simrun::RunResult run = simrun::run_reacher("steps = 40\n", probe({"threads"}));
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("error"), std::string::npos) << run.err;
  const json report = report_of(run);
  EXPECT_EQ(report.value("steps", -1), 40);
  EXPECT_FALSE(report.value("interrupted", true));
}

TEST(ThreadedController, CallsFromTwoThreadsAreServedOneAtATimeInTheOrderTraced) {
  const simrun::RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 400\n", probe({"two_threads"}));
  EXPECT_EQ(run.status, 0) << run.err;
  expect_whole_outputs(run, 400);
  // Both threads' calls are there (the main thread's start and run, the
  // other's set-points), and the steps only ever grow.
  EXPECT_EQ(run.calls("robot_live").size(), 1u);
  EXPECT_EQ(run.calls("robot_run").size(), 1u);
  EXPECT_FALSE(simrun::positions_for(run, 14).empty());
  std::int64_t step = 0;
  for (const simrun::Call &call : run.trace) {
    EXPECT_GE(call.step, step) << call.op;
    step = call.step;
  }
}

TEST(ForkedController, TheChildGetsAClearErrorAndTheParentsRunIsUntouched) {
  simrun::Options options = probe({"plain", "fork"});
  options.env.push_back("PROBE_STEP=10");
  const simrun::RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 100\n", options);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("a copy of the controller made by fork()"), std::string::npos) << run.err;
  expect_whole_outputs(run, 100);
  EXPECT_FALSE(report_of(run).value("interrupted", true));
  EXPECT_EQ(run.out.find("the forked child speaks"), std::string::npos);
  for (const simrun::Call &call : run.calls("robot_console_print"))
    EXPECT_EQ(call.text("text").find("forked"), std::string::npos);
}

// A decimal-comma locale of the test's own, made from Debian's locale sources.
std::string decimal_comma_locale_folder() {
  const fs::path folder = fs::path(REACHER_TEST_RUNS) / "locales";
  if (!fs::exists(folder / "de_DE.UTF-8")) {
    fs::create_directories(folder);
    const std::string command =
        "localedef -i de_DE -f UTF-8 " + (folder / "de_DE.UTF-8").string() + " 2>/dev/null";
    if (std::system(command.c_str()) != 0) return "";
  }
  return folder.string();
}

TEST(LocaleController, ADecimalCommaControllerRunsPhysicsAndLeavesTheSameRecords) {
  const std::string locales = decimal_comma_locale_folder();
  ASSERT_FALSE(locales.empty()) << "localedef could not make de_DE.UTF-8: install Debian's "
                                   "locales package (scripts/deps does)";
  simrun::Options comma = probe({"locale"});
  comma.env = {"LOCPATH=" + locales, "LC_ALL=de_DE.UTF-8"};
  const std::string world = "steps = 30\n";
  const simrun::RunResult with_comma = simrun::run_reacher(world, comma);
  ASSERT_NE(with_comma.out.find("writes 0.5 as 0,5"), std::string::npos)
      << "the controller's locale did not take: " << with_comma.out;
  EXPECT_EQ(with_comma.status, 0) << with_comma.err;
  const std::string comma_folder = with_comma.folder + "_comma";
  fs::remove_all(comma_folder);
  fs::rename(with_comma.folder, comma_folder);
  const simrun::RunResult plain = simrun::run_reacher(world, probe({"plain"}));
  EXPECT_EQ(plain.status, 0) << plain.err;
  for (const char *name : {"world.xml", "state.csv", "trace.jsonl"})
    EXPECT_EQ(simrun::read_file(comma_folder + "/" + name),
              simrun::read_file(plain.folder + "/" + name))
        << name;
}

class StoppedController : public ::testing::TestWithParam<bool> {};

TEST_P(StoppedController, OneSigtermEndsABusyLoopWithWholeOutputs) {
  simrun::Options options = probe({"plain", "busy"}, GetParam());
  options.env.push_back("PROBE_STEP=300");
  const std::string mark = fs::path(REACHER_TEST_RUNS) / ("busy_" + std::to_string(GetParam()));
  fs::remove(mark);
  options.env.push_back("PROBE_MARK=" + mark);
  options.signal = SIGTERM;
  options.signal_when = mark;
  const auto started = std::chrono::steady_clock::now();
  const simrun::RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 100000\n", options);
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(run.status, 128 + SIGTERM) << run.err;
  EXPECT_LT(seconds, 30.0);
  expect_whole_outputs(run, 300);
  EXPECT_TRUE(report_of(run).value("interrupted", false));
  EXPECT_NE(run.err.find("interrupted by SIGTERM"), std::string::npos) << run.err;
}

INSTANTIATE_TEST_SUITE_P(Probes, StoppedController, ::testing::Bool(), [](const auto &param_info) {
  return std::string(param_info.param ? "under_reacher_sim" : "on_its_own");
});

TEST(StoppedController, ARunIsEndedAsStuckOnceTheControllerStopsCallingForStuckAfterS) {
  simrun::Options options = probe({"plain", "busy"});
  options.env.push_back("PROBE_STEP=50");
  const simrun::RunResult run =
      simrun::run_reacher("engine = \"kinematic\"\nsteps = 100000\nstuck_after_s = 0.5\n", options);
  EXPECT_EQ(run.status, 2) << run.err;
  expect_whole_outputs(run, 50);
  EXPECT_NE(run.err.find("the controller made no library call for 0.5 s"), std::string::npos)
      << run.err;
}

}  // namespace
