// A batch (reacher-sim --batch) runs a list of worlds in one simulator
// process, whose libraries, offscreen context and compiled robot serve every
// world. Each world must still come out exactly as it does from a run of its
// own, as the reach map starts one: every file, byte for byte, whatever ran
// before it in the batch.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "tests/support/sim_run.h"

extern char **environ;

namespace {

namespace fs = std::filesystem;

// Runs a program in `folder`, stdout and stderr into files there (or, with
// `log` empty, left as they are); its exit status, -1 if it did not exit.
int run(const std::vector<std::string> &words, const fs::path &folder,
        const std::vector<std::string> &env = {}, const std::string &log = "") {
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> entries;
  for (char **entry = environ; *entry != nullptr; ++entry)
    if (std::string(*entry).rfind("SIM_", 0) != 0) entries.emplace_back(*entry);
  entries.insert(entries.end(), env.begin(), env.end());
  std::vector<char *> envp;
  for (std::string &entry : entries) envp.push_back(entry.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
  if (!log.empty()) {
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "console.txt",
                                     O_WRONLY | O_CREAT | O_TRUNC, 0666);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, log.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0666);
  }
  pid_t child = 0;
  const int failed = posix_spawn(&child, argv[0], &actions, nullptr, argv.data(), envp.data());
  posix_spawn_file_actions_destroy(&actions);
  if (failed != 0) return -1;
  int status = 0;
  while (::waitpid(child, &status, 0) < 0) {
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Every file of a folder and its text.
std::map<std::string, std::string> files_of(const fs::path &folder) {
  std::map<std::string, std::string> files;
  for (const auto &entry : fs::directory_iterator(folder))
    files[entry.path().filename().string()] = simrun::read_file(entry.path().string());
  return files;
}

fs::path fresh_folder(const std::string &name) {
  const fs::path folder = fs::path(REACHER_TEST_RUNS) / "batch" / name;
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

const std::string reach_map_world =
    "engine = \"physics\"\nsteps = 600\nstop_after_reaches = 1\n"
    "[output]\ntrace = false\nstate = false\npictures = false\nvideo = false\nmodel = false\n";

TEST(Batch, EachWorldsOutputsAreThoseOfItsRunAloneByteForByte) {
  // Physics worlds as the reach map writes them, the disc moved between
  // them; a physics world with every output, the video included; the robot
  // on its stand; a kinematic world with a scripted block.
  const std::vector<std::string> worlds = {
      reach_map_world + "[[target]]\nx = 0.05\ny = 0.05\nradius = 0.006\n",
      "engine = \"physics\"\nsteps = 140\n[[target]]\nx = 0.038\ny = -0.05\nradius = 0.006\n",
      reach_map_world + "[[target]]\nx = 0.06\ny = -0.04\nradius = 0.006\n",
      "engine = \"physics\"\nsteps = 140\n[robot]\ntorso = \"fixed\"\n"
      "[[target]]\nx = 0.038\ny = 0.05\nradius = 0.006\n"
      "[[target]]\nx = 0.045\ny = -0.055\nradius = 0.008\ncolor = [200, 40, 30]\n",
      "engine = \"kinematic\"\nsteps = 300\n[[block]]\nview = \"right\"\nx = 77\ny = 77\n",
  };
  const fs::path alone = fresh_folder("alone");
  const fs::path batch = fresh_folder("in_a_batch");
  std::vector<std::string> words = {REACHER_SIM_EXE, "--batch"};
  for (std::size_t i = 0; i < worlds.size(); ++i) {
    const std::string name = "world" + std::to_string(i);
    for (const fs::path &root : {alone, batch}) {
      fs::create_directories(root / name);
      std::ofstream(root / name / "world.toml") << worlds[i];
    }
    ASSERT_EQ(
        run({REACHER_EXE}, alone / name, {"SIM_WORLD=world.toml", "SIM_OUTPUT=."}, "stderr.txt"), 0)
        << simrun::read_file((alone / name / "stderr.txt").string());
    words.push_back(name);
  }
  words.insert(words.end(), {"--", REACHER_EXE});
  ASSERT_EQ(run(words, batch), 0);
  for (std::size_t i = 0; i < worlds.size(); ++i) {
    const std::string name = "world" + std::to_string(i);
    const std::map<std::string, std::string> expected = files_of(alone / name);
    const std::map<std::string, std::string> got = files_of(batch / name);
    ASSERT_GE(expected.size(), 4u) << name;  // world, console, stderr, report at least
    for (const auto &[file, text] : expected) {
      ASSERT_EQ(got.count(file), 1u) << name << "/" << file << " is missing from the batch";
      EXPECT_TRUE(got.at(file) == text) << name << "/" << file << " differs";
    }
    EXPECT_EQ(got.size(), expected.size()) << name;
  }
}

TEST(Batch, StopsAtTheFirstWorldThatFailsAndNamesIt) {
  const fs::path root = fresh_folder("failing");
  const std::vector<std::pair<std::string, std::string>> worlds = {
      {"good", "engine = \"kinematic\"\nsteps = 10\n"},
      {"bad", "engine = \"kinematic\"\nstep = 10\n"},
      {"never", "engine = \"kinematic\"\nsteps = 10\n"}};
  for (const auto &[name, text] : worlds) {
    fs::create_directories(root / name);
    std::ofstream(root / name / "world.toml") << text;
  }
  EXPECT_EQ(run({REACHER_SIM_EXE, "--batch", "good", "bad", "never", "--", REACHER_EXE}, root, {},
                "batch.txt"),
            2);
  const std::string said = simrun::read_file((root / "batch.txt").string());
  EXPECT_NE(said.find("bad ended with exit status 2"), std::string::npos) << said;
  EXPECT_NE(simrun::read_file((root / "bad" / "stderr.txt").string()).find("step"),
            std::string::npos);
  EXPECT_TRUE(fs::exists(root / "good" / "report.json"));
  EXPECT_FALSE(fs::exists(root / "never" / "stderr.txt"));
}

}  // namespace
