// The output folder: one run at a time, earlier outputs (and only those)
// removed, files that appear under their own names only when whole.
#include "sim/system/output_folder.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

#include "sim/core/errors.h"
#include "sim/system/files.h"
#include "tests/support/folders.h"

namespace {

namespace fs = std::filesystem;
using support::fresh_folder;

bool ours(std::string_view name) {
  return sim::OutputFolder::output_named(name).starts_with("out");
}

std::string error_of(const fs::path &path) {
  try {
    const sim::OutputFolder folder(path.string(), ours);
  } catch (const sim::RunError &error) {
    return error.what();
  }
  return "(opened)";
}

TEST(OutputFolder, MakesTheFolderAndRemovesOnlyWhatEarlierRunsLeft) {
  const fs::path path = fresh_folder("folder_clean") / "made" / "here";
  fs::create_directories(path);
  for (const char *name : {"out.txt", ".out.txt.partial", "notes.txt", ".notes.txt.partial"})
    std::ofstream(path / name) << "old";
  const sim::OutputFolder folder(path.string(), ours);
  EXPECT_FALSE(fs::exists(path / "out.txt"));
  EXPECT_FALSE(fs::exists(path / ".out.txt.partial"));
  EXPECT_TRUE(fs::exists(path / "notes.txt"));
  EXPECT_TRUE(fs::exists(path / ".notes.txt.partial"));
  EXPECT_EQ(sim::OutputFolder::output_named(".out.txt.partial"), "out.txt");
  EXPECT_EQ(sim::OutputFolder::output_named(".partial"), ".partial");
}

TEST(OutputFolder, AFileAppearsUnderItsNameOnlyWhenWhole) {
  const fs::path path = fresh_folder("folder_whole");
  const sim::OutputFolder folder(path.string(), ours);
  EXPECT_EQ(folder.write("out.json", "{}\n"), "");
  EXPECT_EQ(sim::read_file((path / "out.json").string()), "{}\n");
  std::ofstream(folder.partial("out.csv")) << "a,b\n";
  EXPECT_FALSE(fs::exists(path / "out.csv"));
  EXPECT_EQ(folder.commit("out.csv"), "");
  EXPECT_EQ(sim::read_file((path / "out.csv").string()), "a,b\n");
  // Nothing to commit is a failure with the system's reason, not a silent success.
  EXPECT_EQ(folder.commit("out.png"), "No such file or directory");
  for (const auto &entry : fs::directory_iterator(path))
    EXPECT_FALSE(entry.path().filename().string().ends_with(".partial")) << entry.path();
}

TEST(OutputFolder, OneRunAtATimeAndAFolderThatCannotBeIsSaid) {
  const fs::path path = fresh_folder("folder_lock");
  {
    const sim::OutputFolder first(path.string(), ours);
    EXPECT_NE(error_of(path).find("another run is writing there"), std::string::npos);
  }
  EXPECT_EQ(error_of(path), "(opened)");  // the lock went with the first
  const fs::path file = fresh_folder("folder_is_a_file") / "file";
  std::ofstream(file) << "x";
  EXPECT_NE(error_of(file / "below").find("cannot create the folder"), std::string::npos);
}

TEST(OutputFolder, ALinkInTheFolderIsNeverFollowed) {
  const fs::path path = fresh_folder("folder_links");
  const fs::path elsewhere = fresh_folder("folder_links_elsewhere");
  // A dangling link as the lock: the file it names is not created.
  fs::create_symlink(elsewhere / "made", path / ".sim.lock");
  {
    const sim::OutputFolder folder(path.string(), ours);
    EXPECT_FALSE(fs::exists(elsewhere / "made"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path / ".sim.lock")));
    // A link planted as a partial file goes; the output is made in its place.
    std::ofstream(elsewhere / "kept") << "kept";
    fs::create_symlink(elsewhere / "kept", path / ".out.txt.partial");
    EXPECT_EQ(folder.write("out.txt", "new"), "");
    EXPECT_EQ(sim::read_file((elsewhere / "kept").string()), "kept");
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(path / "out.txt")));
  }
  // A lock that is no regular file is refused, not opened.
  fs::remove(path / ".sim.lock");
  ASSERT_EQ(::mkfifo((path / ".sim.lock").c_str(), 0644), 0);
  EXPECT_NE(error_of(path).find(".sim.lock is not a regular file"), std::string::npos);
}

}  // namespace
