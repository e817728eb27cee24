// The ffmpeg child process, with stand-in ffmpeg programs first on PATH: the
// file it is handed is the caller's, every way it can fail is told with its
// reason, and a stalled one is stopped once its patience runs out.
#include "sim/system/ffmpeg_pipe.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "sim/system/signals.h"
#include "tests/support/folders.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// A program called ffmpeg running `script`, first on PATH.
void fake_ffmpeg(const std::string &script) {
  support::put_first_on_path(support::fake_program("ffmpeg", script));
}

int new_file(const fs::path &path) {
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
}

std::string contents(int file) {
  std::string bytes(4096, '\0');
  const ssize_t got = ::pread(file, bytes.data(), bytes.size(), 0);
  bytes.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return bytes;
}

TEST(FfmpegPipe, FramesReachTheFileHandedOnWhichTheCallerKeeps) {
  // Writes its standard input to its last argument, the file it was given.
  fake_ffmpeg("for last; do :; done; cat >\"$last\"");
  const int file = new_file(support::fresh_folder("pipe_file") / "out");
  sim::FfmpegPipe ffmpeg;
  ASSERT_EQ(ffmpeg.start(file, {"-f", "mp4"}), "");
  const std::vector<unsigned char> frames[] = {{'a', 'b'}, {'c'}, {'d', 'e', 'f'}};
  for (const auto &frame : frames) EXPECT_TRUE(ffmpeg.write_frame(frame));
  EXPECT_EQ(ffmpeg.finish(), "");
  EXPECT_EQ(ffmpeg.frames_written(), 3);
  EXPECT_EQ(contents(file), "abcdef");
  ::close(file);
}

TEST(FfmpegPipe, EveryWayFfmpegFailsIsToldWithItsReason) {
  // As in a run: a write to an ffmpeg that has gone is the writer's to notice.
  sim::catch_stop_signals();
  const std::pair<const char *, const char *> cases[] = {
      {"exit 1", "ffmpeg exited with status 1"},
      {"cat >/dev/null; kill -9 $$", "ffmpeg was ended by signal 9"},
      // A full disk as ffmpeg meets it: its exit status says nothing, its
      // words do, and the file is named as a person knows it.
      {"cat >/dev/null; echo 'Error writing trailer of /dev/fd/3: No space left' >&2",
       "ffmpeg said: Error writing trailer of the output file: No space left"},
      // One that exits at once: the frames meet a closed pipe.
      {"exec 0<&-; exit 0", "ffmpeg stopped taking frames at frame 1"}};
  // More than a pipe holds, even one a megabyte long.
  const std::vector<unsigned char> frame(2 * 1024 * 1024, 7);
  for (const auto &[script, reason] : cases) {
    fake_ffmpeg(script);
    const int file = new_file(support::fresh_folder("pipe_fails") / "out");
    sim::FfmpegPipe ffmpeg(5s);
    ASSERT_EQ(ffmpeg.start(file, {}), "") << script;
    for (int i = 0; i < 3 && ffmpeg.write_frame(frame);) ++i;
    EXPECT_NE(ffmpeg.finish().find(reason), std::string::npos) << script;
    ::close(file);
  }
}

TEST(FfmpegPipe, AnFfmpegThatStallsIsStoppedOnceItsPatienceRunsOut) {
  // More than a pipe holds, even one a megabyte long.
  const std::vector<unsigned char> frame(2 * 1024 * 1024, 7);
  // One that never reads, and one that reads every frame but never ends.
  for (const auto &[script, reason] :
       {std::pair{"exec sleep 100000", "took no frame data"},
        std::pair{"cat >/dev/null; exec sleep 100000", "did not finish its output in time"}}) {
    fake_ffmpeg(script);
    const int file = new_file(support::fresh_folder("pipe_stalled") / "out");
    sim::FfmpegPipe ffmpeg(300ms);
    ASSERT_EQ(ffmpeg.start(file, {}), "");
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 3 && ffmpeg.write_frame(frame);) ++i;
    EXPECT_NE(ffmpeg.finish().find(reason), std::string::npos) << script;
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s) << script;
    ::close(file);
  }
}

TEST(FfmpegPipe, AMissingFfmpegIsFoundOutBeforeAnythingStarts) {
  // An ffmpeg that cannot run, and one that is a folder: neither is one.
  const fs::path not_runnable = support::fake_program("ffmpeg", "exit 0");
  fs::permissions(not_runnable / "ffmpeg", fs::perms::owner_read | fs::perms::owner_write);
  const fs::path a_folder = support::fresh_folder("ffmpeg_is_a_folder");
  fs::create_directories(a_folder / "ffmpeg");
  const std::string neither = not_runnable.string() + ":" + a_folder.string();
  ::setenv("PATH", neither.c_str(), 1);
  EXPECT_EQ(sim::FfmpegPipe::missing(), "the ffmpeg program is not installed (Debian: ffmpeg)");
  const int file = new_file(support::fresh_folder("pipe_missing") / "out");
  sim::FfmpegPipe ffmpeg;
  EXPECT_NE(ffmpeg.start(file, {}), "");
  EXPECT_FALSE(ffmpeg.is_open());
  ::close(file);
  // One that runs, in a folder of PATH after those two.
  const fs::path runnable = support::fake_program("ffmpeg", "exit 0 # runs");
  ::setenv("PATH", (neither + ":" + runnable.string()).c_str(), 1);
  EXPECT_EQ(sim::FfmpegPipe::missing(), "");
}

}  // namespace
