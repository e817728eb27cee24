// What whole runs cost in processor time, as ratios measured side by side:
// - a physics reach-map world, run in a batch as the reach map runs it, over
//   its physics floor: MuJoCo's own mj_step on the world.xml that world
//   writes, for the substeps the run took (and the same world run alone);
// - a default run with its video over the same run without it.
// Times are the processor time of the simulator's process and everything it
// started (the controller, the renderer's threads, ffmpeg), from wait4, so
// each row's time is processor time, not wall-clock time.
// With $REACHER_BENCH_BEFORE_BIN naming another build's bin folder, the same
// rows run that build's programs too (its worlds alone: an earlier build may
// have no batches), so before and after are measured side by side in one
// run on one machine's load.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "sim/engines/physics/step_floor.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// A physics reach map's worlds sampled: every this many points of
// scripts/reach-map's default physics grid (10 mm), so both sides, reaches
// that hit and that miss, and points never reached are all in the sample.
constexpr int sample_every = 2;
constexpr const char *map_spacing_mm = "10";

// The worlds a batch of scripts/reach-map holds: a quarter of each core's
// share of the map's points, at most 40.
std::size_t map_batch(std::size_t points) {
  const auto cores = static_cast<std::size_t>(std::max(1L, sysconf(_SC_NPROCESSORS_ONLN)));
  return std::min<std::size_t>(40, (points + 4 * cores - 1) / (4 * cores));
}

// The programs a row runs: this build's (an empty bin), or those of the same
// names in another build's bin folder.
std::string program(const std::string &bin, const char *built) {
  if (bin.empty()) return built;
  return (fs::path(bin) / fs::path(built).filename()).string();
}

std::string before_bin() {
  const char *bin = std::getenv("REACHER_BENCH_BEFORE_BIN");
  return bin == nullptr ? "" : bin;
}

double seconds(const timeval &t) {
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
}

// Runs a program in a folder, its stdout and stderr into files there, and
// waits for it; the processor time it and its children took (s). Throws
// when it does not exit with status 0.
double run(const std::vector<std::string> &words, const fs::path &folder,
           const std::vector<std::string> &extra_env = {}) {
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> entries;
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (std::string(*entry).rfind("SIM_", 0) != 0) entries.emplace_back(*entry);
  entries.insert(entries.end(), extra_env.begin(), extra_env.end());
  std::vector<char *> envp;
  for (std::string &entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "console.txt",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "stderr.txt",
                                   O_WRONLY | O_CREAT | O_TRUNC, 0644);
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) throw std::runtime_error("cannot start " + words[0]);
  int status = 0;
  rusage usage{};
  while (wait4(child, &status, 0, &usage) < 0) {
  }
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
    throw std::runtime_error(words[0] + " failed in " + folder.string() +
                             " (see stderr.txt there)");
  return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

std::string read_text(const fs::path &file) {
  std::ifstream in(file);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The sampled worlds of a default physics reach map, each in a job folder
// of its own as the map lays them, with the world.xml its run writes and the
// steps it took.
struct MapSample {
  fs::path root;                  // removed at exit
  std::vector<std::string> jobs;  // folders under root
  std::vector<std::string> models;
  std::vector<long> steps;  // of 32 ms, each
  std::size_t batch = 1;    // worlds a batch of the whole map holds
};

fs::path bench_root() {
  return fs::temp_directory_path() / ("reacher_sweep_bench_" + std::to_string(getpid()));
}

// Each build lays and runs its own map: an earlier build's world files need
// not read the same as this one's.
MapSample make_map_sample(const std::string &bin, const std::string &name) {
  MapSample s;
  s.root = bench_root() / name;
  fs::remove_all(s.root);
  fs::create_directories(s.root);
  run({program(bin, REACHER_REACH_MAP_EXE), "grid", "--out", (s.root / "map").string(), "--engine",
       "physics", "--spacing", map_spacing_mm},
      s.root);
  std::ifstream jobs(s.root / "map" / "jobs.txt");
  std::string job;
  int i = 0;
  for (; std::getline(jobs, job); ++i) {
    if (i % sample_every != 0) continue;
    const fs::path folder = s.root / "map" / job;
    // The same world once more with its model written, for the floor.
    const fs::path model_run = s.root / "models" / job;
    fs::create_directories(model_run);
    std::string world = read_text(folder / "world.toml");
    world.replace(world.find("model = false"), 13, "model = true");
    std::ofstream(model_run / "world.toml") << world;
    run({program(bin, REACHER_SIM_EXE), "world.toml", "--out", ".", "--",
         program(bin, REACHER_EXE)},
        model_run);
    const nlohmann::json report = nlohmann::json::parse(read_text(model_run / "report.json"));
    s.jobs.push_back(job);
    s.models.push_back((model_run / "world.xml").string());
    // Each 32 ms step of the world is as many substeps as the model's own
    // time step makes of it.
    s.steps.push_back(report.at("steps").get<long>());
  }
  s.batch = map_batch(static_cast<std::size_t>(i));
  return s;
}

const MapSample &map_sample(bool before) {
  static const bool cleaned = [] {
    std::atexit([] { fs::remove_all(bench_root()); });
    return true;
  }();
  static_cast<void>(cleaned);
  if (before) {
    static const MapSample sample = make_map_sample(before_bin(), "before");
    return sample;
  }
  static const MapSample sample = make_map_sample("", "this");
  return sample;
}

// Each iteration runs the sample (in batches as the map makes them, or each
// world alone) and the floor of every world in it; the row's time is the
// worlds' processor time.
void reach_map_worlds(benchmark::State &state, bool batched, bool before) try {
  const std::string bin = before ? before_bin() : "";
  const MapSample &sample = map_sample(before);
  double worlds = 0.0;
  double floor = 0.0;
  for (auto _ : state) {
    double took = 0.0;
    const fs::path map = sample.root / "map";
    if (batched) {
      // In batches of the size the map gives its jobs.
      for (std::size_t first = 0; first < sample.jobs.size(); first += sample.batch) {
        const auto from = sample.jobs.begin() + static_cast<long>(first);
        const auto to = sample.jobs.begin() +
                        static_cast<long>(std::min(sample.jobs.size(), first + sample.batch));
        std::vector<std::string> words = {program(bin, REACHER_SIM_EXE), "--batch"};
        words.insert(words.end(), from, to);
        words.insert(words.end(), {"--", program(bin, REACHER_EXE)});
        took += run(words, map);
      }
    } else {
      for (const std::string &job : sample.jobs)
        took +=
            run({program(bin, REACHER_EXE)}, map / job, {"SIM_WORLD=world.toml", "SIM_OUTPUT=."});
    }
    for (std::size_t i = 0; i < sample.models.size(); ++i)
      floor += sim::step_floor_seconds(sample.models[i], sample.steps[i], 0.032);
    worlds += took;
    state.SetIterationTime(took);
  }
  const double count = static_cast<double>(state.iterations() * sample.jobs.size());
  state.counters["worlds"] = static_cast<double>(sample.jobs.size());
  if (batched) state.counters["batch"] = static_cast<double>(sample.batch);
  state.counters["world_cpu_ms"] = worlds / count * 1e3;
  state.counters["floor_cpu_ms"] = floor / count * 1e3;
  state.counters["over_floor"] = worlds / floor;
} catch (const std::exception &error) {
  state.SkipWithError(error.what());
}

// The default world with every output, with and without its video, one
// after the other in each iteration.
void default_run_with_video_over_without(benchmark::State &state, bool before) try {
  const std::string bin = before ? before_bin() : "";
  const fs::path root = bench_root() / (before ? "video-before" : "video");
  const std::string world = read_text(fs::path(REACHER_SOURCE_DIR) / "worlds" / "default.toml");
  double with = 0.0;
  double without = 0.0;
  for (auto _ : state) {
    double this_time = 0.0;
    for (const bool video : {true, false}) {
      const fs::path folder = root / (video ? "with" : "without");
      fs::remove_all(folder);
      fs::create_directories(folder);
      std::ofstream(folder / "world.toml")
          << world << "\n[output]\nvideo = " << (video ? "true" : "false") << "\n";
      const double took = run({program(bin, REACHER_SIM_EXE), "world.toml", "--out", ".", "--",
                               program(bin, REACHER_EXE)},
                              folder);
      (video ? with : without) += took;
      if (video) this_time = took;
    }
    state.SetIterationTime(this_time);
  }
  fs::remove_all(root);
  const double runs = static_cast<double>(state.iterations());
  state.counters["with_video_cpu_s"] = with / runs;
  state.counters["without_cpu_s"] = without / runs;
  state.counters["with_over_without"] = with / without;
} catch (const std::exception &error) {
  state.SkipWithError(error.what());
}

void ReachMapWorldsInABatchOverPhysicsFloor(benchmark::State &state) {
  reach_map_worlds(state, true, false);
}
BENCHMARK(ReachMapWorldsInABatchOverPhysicsFloor)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

void ReachMapWorldsAloneOverPhysicsFloor(benchmark::State &state) {
  reach_map_worlds(state, false, false);
}
BENCHMARK(ReachMapWorldsAloneOverPhysicsFloor)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(1);

void DefaultRunWithVideoOverWithout(benchmark::State &state) {
  default_run_with_video_over_without(state, false);
}
BENCHMARK(DefaultRunWithVideoOverWithout)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Iterations(2);

// The earlier build's rows, only when one is named.
const bool before_registered = [] {
  if (before_bin().empty()) return false;
  benchmark::RegisterBenchmark(
      "Before/ReachMapWorldsAloneOverPhysicsFloor",
      [](benchmark::State &state) { reach_map_worlds(state, false, true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(1);
  benchmark::RegisterBenchmark(
      "Before/DefaultRunWithVideoOverWithout",
      [](benchmark::State &state) { default_run_with_video_over_without(state, true); })
      ->Unit(benchmark::kMillisecond)
      ->UseManualTime()
      ->Iterations(2);
  return true;
}();

}  // namespace
