// The live window (reacher-sim --view) on a display of the test's own (Xvfb),
// driven with xdotool as a person would: it shows the robot, pauses and
// steps the run, ends it whole when closed, and changes no output. Without a
// display it says so and ends with status 2.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tests/behaviour/window_close.h"
#include "tests/support/png_reader.h"

namespace {

namespace fs = std::filesystem;
using nlohmann::json;
using namespace std::chrono_literals;

std::string text_of(const fs::path &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

bool on_path(const std::string &program) {
  const char *path = std::getenv("PATH");
  std::istringstream folders(path ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');)
    if (!folder.empty() && access((fs::path(folder) / program).c_str(), X_OK) == 0) return true;
  return false;
}

fs::path test_folder() {
  const fs::path folder = fs::path(REACHER_TEST_RUNS) / "window" /
                          testing::UnitTest::GetInstance()->current_test_info()->name();
  fs::remove_all(folder);
  fs::create_directories(folder);
  return folder;
}

// A program started in the background, its output in files of `folder`.
class Started {
 public:
  Started(const std::vector<std::string> &args, const std::vector<std::string> &env,
          const fs::path &folder, const std::string &name)
      : out_(folder / (name + ".out")), err_(folder / (name + ".err")) {
    pid_ = fork();
    if (pid_ != 0) return;
    // Nothing of the test's may outlive it: an Xvfb left behind by a test
    // that crashed would hold whatever it inherited (a lock, a pipe) for good.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    std::freopen(out_.c_str(), "w", stdout);
    std::freopen(err_.c_str(), "w", stderr);
    ::close_range(3, ~0u, 0);
    for (const std::string &entry : env) {
      const std::size_t equals = entry.find('=');
      if (equals == std::string::npos)
        unsetenv(entry.c_str());
      else
        setenv(entry.substr(0, equals).c_str(), entry.substr(equals + 1).c_str(), 1);
    }
    std::vector<char *> argv;
    for (const std::string &arg : args) argv.push_back(const_cast<char *>(arg.c_str()));
    argv.push_back(nullptr);
    execvp(argv[0], argv.data());
    _exit(127);
  }
  ~Started() {
    if (pid_ > 0 && !status_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  Started(const Started &) = delete;
  Started &operator=(const Started &) = delete;

  // Its exit status (128 + N for signal N), or nothing if it is still
  // running after `seconds`, when it is killed.
  std::optional<int> wait(double seconds) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < until) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        return status_;
      }
      std::this_thread::sleep_for(20ms);
    }
    return std::nullopt;
  }
  pid_t pid() const { return pid_; }
  std::string err() const { return text_of(err_); }

 private:
  fs::path out_;
  fs::path err_;
  pid_t pid_ = -1;
  std::optional<int> status_;
};

std::vector<std::string> run_args(const fs::path &world, const fs::path &out, bool view) {
  std::vector<std::string> args{REACHER_SIM_EXE, world.string(), "--out", out.string()};
  if (view) args.push_back("--view");
  args.push_back("--");
  args.push_back(REACHER_EXE);
  return args;
}

fs::path write_world(const fs::path &folder, int steps) {
  const fs::path path = folder / "world.toml";
  std::ofstream(path) << "steps = " << steps
                      << "\ntime_step_ms = 32\n\n[[target]]\nx = 0.038\ny = 0.050\nradius = 0.006\n"
                         "color = [214, 30, 30]\n";
  return path;
}

// Grey pixels of the robot's lit parts, and pixels of the floor's greens.
struct Seen {
  int robot = 0;
  int floor = 0;
};
Seen seen_in(const support::Picture &picture) {
  Seen seen;
  for (int y = 0; y < picture.height; ++y)
    for (int x = 0; x < picture.width; ++x) {
      const support::Rgb p = picture.at(x, y);
      const int low = std::min({p[0], p[1], p[2]});
      const int high = std::max({p[0], p[1], p[2]});
      if (low > 80 && high - low < 16) ++seen.robot;
      if (p[1] > p[0] + 40 && p[1] > p[2] + 20) ++seen.floor;
    }
  return seen;
}

class Window : public testing::Test {
 protected:
  void SetUp() override {
    if (!on_path("Xvfb") || !on_path("xdotool")) {
      const std::string why = "needs Xvfb and xdotool: install xvfb and xdotool";
      // CI installs them, so there a missing display is a failure, not a skip.
      if (std::getenv("REACHER_REQUIRE_DISPLAY")) FAIL() << why;
      GTEST_SKIP() << why;
    }
    folder_ = test_folder();
    // A display number of this test's own: Xvfbs started side by side and
    // left to pick one each may pick the same.
    for (int attempt = 0; attempt < 10 && display_.empty(); ++attempt) {
      const int number = 300 + (static_cast<int>(getpid()) * 7 + attempt * 131) % 3000;
      if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number)) ||
          fs::exists("/tmp/.X" + std::to_string(number) + "-lock"))
        continue;
      xvfb_ = std::make_unique<Started>(
          std::vector<std::string>{"Xvfb", ":" + std::to_string(number), "-screen", "0",
                                   "1280x800x24", "-nolisten", "tcp", "-noreset"},
          std::vector<std::string>{}, folder_, "xvfb");
      for (int i = 0; i < 200; ++i) {
        if (fs::exists("/tmp/.X11-unix/X" + std::to_string(number))) {
          display_ = ":" + std::to_string(number);
          break;
        }
        if (xvfb_->wait(0.05)) break;  // it ended: the number was taken
      }
      if (display_.empty()) {
        kill(xvfb_->pid(), SIGTERM);
        xvfb_->wait(5.0);
        xvfb_.reset();
      }
    }
    ASSERT_FALSE(display_.empty()) << "Xvfb did not start: " << (xvfb_ ? xvfb_->err() : "");
    // The socket is there a moment before the server takes connections.
    for (int i = 0; i < 100 && xdotool("getdisplaygeometry").empty(); ++i)
      std::this_thread::sleep_for(50ms);
  }
  void TearDown() override {
    if (xvfb_) kill(xvfb_->pid(), SIGTERM);
    if (xvfb_) xvfb_->wait(10.0);
  }

  std::string xdotool(const std::string &args) const {
    const std::string command = "DISPLAY=" + display_ + " timeout 30 xdotool " + args;
    std::string out;
    if (FILE *pipe = popen(command.c_str(), "r")) {
      char buffer[256];
      while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
      pclose(pipe);
    }
    return out;
  }
  // The window's id, once it is up.
  std::string window() const {
    // Asked again and again rather than with --sync: a loaded machine's X
    // server now and then refuses a connection, and --sync gives up at once.
    for (int i = 0; i < 600; ++i) {
      const std::string id = xdotool("search --name '^reacher-sim$'");
      if (!id.empty()) return id.substr(0, id.find('\n'));
      std::this_thread::sleep_for(50ms);
    }
    return "";
  }
  void key(const std::string &id, const std::string &name) const {
    xdotool("key --window " + id + " " + name);
  }
  // As a window manager tells a window its close button was pressed.
  void close_window(const std::string &id) const {
    ASSERT_TRUE(xclose::close_window(display_, std::stoul(id)));
  }
  // The window's pictures taken so far, in order.
  std::vector<fs::path> pictures(const fs::path &out, const std::string &prefix = "window_") const {
    std::vector<fs::path> found;
    if (!fs::exists(out)) return found;
    for (const auto &entry : fs::directory_iterator(out))
      if (entry.path().filename().string().starts_with(prefix)) found.push_back(entry.path());
    std::sort(found.begin(), found.end());
    return found;
  }
  // Takes a picture of the window with its key and gives the step it shows.
  // With `queued`, the key goes in line behind the pointer's and keyboard's
  // own input (as the mouse buttons do), not straight to the window, so the
  // picture comes after them.
  std::optional<long> picture_step(const std::string &id, const fs::path &out,
                                   fs::path *path = nullptr, const std::string &prefix = "window_",
                                   bool queued = false) const {
    const std::size_t before = pictures(out, prefix).size();
    if (queued)
      xdotool("key p");
    else
      key(id, "p");
    for (int i = 0; i < 500 && pictures(out, prefix).size() == before; ++i)
      std::this_thread::sleep_for(20ms);
    const std::vector<fs::path> now = pictures(out, prefix);
    if (now.size() != before + 1) return std::nullopt;
    std::smatch step;
    const std::string name = now.back().filename().string();
    if (!std::regex_search(name, step, std::regex("_step_([0-9]+)\\.png$"))) return std::nullopt;
    if (path != nullptr) *path = now.back();
    return std::stol(step[1]);
  }
  std::vector<std::string> display_env() const { return {"DISPLAY=" + display_}; }

  fs::path folder_;
  std::string display_;
  std::unique_ptr<Started> xvfb_;
};

// Nobody touches the window: every output is byte for byte that of the same
// world run without one.
TEST_F(Window, AnUntouchedViewedRunWritesWhatAHeadlessRunWrites) {
  const fs::path world = write_world(folder_, 60);
  Started headless(run_args(world, folder_ / "headless", false), {"DISPLAY"}, folder_, "headless");
  ASSERT_EQ(headless.wait(120.0), 0) << headless.err();
  Started viewed(run_args(world, folder_ / "viewed", true), display_env(), folder_, "viewed");
  ASSERT_EQ(viewed.wait(120.0), 0) << viewed.err();
  int files = 0;
  for (const auto &entry : fs::directory_iterator(folder_ / "headless")) {
    ++files;
    const fs::path other = folder_ / "viewed" / entry.path().filename();
    EXPECT_TRUE(fs::exists(other)) << other;
    EXPECT_TRUE(text_of(entry.path()) == text_of(other)) << entry.path().filename();
  }
  EXPECT_GE(files, 6);
  EXPECT_EQ(std::distance(fs::directory_iterator(folder_ / "viewed"), fs::directory_iterator{}),
            files);
}

// Space holds the run where it is, the right arrow takes exactly one step,
// and closing the paused window ends the run as an interrupt does, with
// whole outputs. The window's own picture shows the robot on its floor.
TEST_F(Window, PausesStepsOnceShowsTheRobotAndClosingEndsTheRunWhole) {
  const fs::path world = write_world(folder_, 2000);
  const fs::path out = folder_ / "out";
  Started viewed(run_args(world, out, true), display_env(), folder_, "viewed");
  const std::string id = window();
  ASSERT_FALSE(id.empty()) << viewed.err();
  std::this_thread::sleep_for(500ms);
  key(id, "space");
  fs::path first_picture;
  const std::optional<long> paused_at = picture_step(id, out, &first_picture);
  ASSERT_TRUE(paused_at) << viewed.err();
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(picture_step(id, out), paused_at) << "the step counter went on while paused";
  key(id, "Right");
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(picture_step(id, out), *paused_at + 1);
  key(id, "Right");
  std::this_thread::sleep_for(700ms);
  EXPECT_EQ(picture_step(id, out), *paused_at + 2);

  const support::Picture picture = support::read_png(first_picture.string());
  ASSERT_GT(picture.width, 0);
  const Seen seen = seen_in(picture);
  EXPECT_GT(seen.robot, 5000) << "the robot, lit grey";
  EXPECT_GT(seen.floor, picture.width * picture.height / 4) << "the green floor";

  close_window(id);
  EXPECT_EQ(viewed.wait(60.0), 128 + SIGINT) << viewed.err();
  EXPECT_NE(viewed.err().find("window was closed"), std::string::npos) << viewed.err();
  const json report = json::parse(text_of(out / "report.json"));
  EXPECT_EQ(report["interrupted"], true);
  // One whole row a step taken, after the header.
  std::istringstream state(text_of(out / "state.csv"));
  long rows = -1;
  for (std::string line; std::getline(state, line);) ++rows;
  EXPECT_EQ(rows, *paused_at + 2);
  const std::string trace = text_of(out / "trace.jsonl");
  ASSERT_FALSE(trace.empty());
  EXPECT_EQ(trace.back(), '\n');
}

// Closed while the run goes on at its own pace: the same whole end.
TEST_F(Window, ClosingARunningWindowEndsTheRunAsAnInterruptDoes) {
  const fs::path world = write_world(folder_, 2000);
  const fs::path out = folder_ / "out";
  Started viewed(run_args(world, out, true), display_env(), folder_, "viewed");
  const std::string id = window();
  ASSERT_FALSE(id.empty()) << viewed.err();
  // Until the window shows the run well under way, however slow the machine.
  std::optional<long> step;
  for (int i = 0; i < 300 && (!step || *step <= 10); ++i) step = picture_step(id, out);
  ASSERT_TRUE(step && *step > 10) << viewed.err();
  close_window(id);
  EXPECT_EQ(viewed.wait(60.0), 128 + SIGINT) << viewed.err();
  const json report = json::parse(text_of(out / "report.json"));
  EXPECT_EQ(report["interrupted"], true);
  EXPECT_GT(report["steps"].get<long>(), 10);
}

// Where a picture of the window shows the disc's red: the middle of its
// pixels, or nothing.
std::optional<std::pair<int, int>> disc_on_screen(const support::Picture &picture) {
  long x = 0;
  long y = 0;
  long count = 0;
  for (int row = 0; row < picture.height; ++row)
    for (int column = 0; column < picture.width; ++column) {
      const support::Rgb p = picture.at(column, row);
      if (p[0] > 120 && p[1] < 70 && p[2] < 70) {
        x += column;
        y += row;
        ++count;
      }
    }
  if (count < 10) return std::nullopt;
  return std::pair<int, int>{static_cast<int>(x / count), static_cast<int>(y / count)};
}

// A disc dragged with ctrl and the left button, in a run that starts paused:
// the move is in the report and the trace, the disc lies where it was let go
// of, and the controller's reach goes to it there.
TEST_F(Window, ADraggedDiscIsRecordedAndTheNextReachGoesToItWhereItNowLies) {
  const fs::path world = folder_ / "world.toml";
  std::ofstream(world) << "steps = 600\ntime_step_ms = 32\nstop_after_reaches = 1\n\n"
                          "[[target]]\nx = 0.038\ny = 0.050\nradius = 0.006\n"
                          "color = [214, 30, 30]\n";
  const fs::path out = folder_ / "out";
  std::vector<std::string> args = run_args(world, out, true);
  args.insert(args.begin() + 4, "--paused");
  Started viewed(args, display_env(), folder_, "viewed");
  const std::string id = window();
  ASSERT_FALSE(id.empty()) << viewed.err();
  fs::path before;
  ASSERT_EQ(picture_step(id, out, &before), 0) << viewed.err();
  const std::optional<std::pair<int, int>> disc =
      disc_on_screen(support::read_png(before.string()));
  ASSERT_TRUE(disc) << "no disc in " << before;
  const auto [x, y] = *disc;
  // Forward and a little to the right, as the window first looks at the
  // robot: towards its head, lower left on the screen.
  // The pointer comes into the window and then onto the disc, so that the
  // window has seen it move there before the button goes down.
  xdotool("mousemove --window " + id + " " + std::to_string(x + 30) + " " + std::to_string(y + 30));
  xdotool("mousemove --window " + id + " " + std::to_string(x) + " " + std::to_string(y));
  xdotool("keydown ctrl mousedown 1");
  // The server may hand on the button later than the pointer's moves that
  // follow: a picture asked for in line behind the button says it was taken.
  ASSERT_EQ(picture_step(id, out, nullptr, "window_", true), 0);
  for (int i = 1; i <= 5; ++i)
    xdotool("mousemove --window " + id + " " + std::to_string(x - 4 * i) + " " +
            std::to_string(y + 2 * i));
  xdotool("mouseup 1 keyup ctrl");
  fs::path after;
  ASSERT_EQ(picture_step(id, out, &after, "window_", true), 0)
      << "the run went on while the disc was held";
  const std::optional<std::pair<int, int>> moved =
      disc_on_screen(support::read_png(after.string()));
  ASSERT_TRUE(moved) << "no disc in " << after;
  // Near the pointer's last place (the middle of its red pixels is not
  // quite the centre it was grabbed by, seen in perspective), far from its
  // first.
  EXPECT_LT(std::hypot(moved->first - (x - 20), moved->second - (y + 10)), 10.0)
      << "the disc is shown where it was let go of";
  ASSERT_GT(std::hypot(moved->first - x, moved->second - y), 15.0) << "the disc was not moved";
  key(id, "space");
  ASSERT_EQ(viewed.wait(300.0), 0) << viewed.err();

  const json report = json::parse(text_of(out / "report.json"));
  ASSERT_TRUE(report.contains("target_moves")) << report.dump();
  ASSERT_EQ(report["target_moves"].size(), 1u) << report.dump();
  const json &move = report["target_moves"][0];
  EXPECT_EQ(move["step"], 0);
  EXPECT_EQ(move["target"], 0);
  EXPECT_EQ(move["from"], json::parse("[0.038, 0.05]"));
  const double to_x = move["to"][0];
  const double to_y = move["to"][1];
  EXPECT_GT(std::hypot(to_x - 0.038, to_y - 0.05), 0.01) << "moved further than its size";
  EXPECT_EQ(report["targets"][0]["x"], to_x);
  EXPECT_EQ(report["targets"][0]["y"], to_y);
  ASSERT_EQ(report["reaches"].size(), 1u) << report.dump();
  const json &reach = report["reaches"][0];
  EXPECT_EQ(reach["outcome"], "on_target") << reach.dump();
  EXPECT_EQ(reach["target"], 0);
  const double foot_x = reach["foot"][0];
  const double foot_y = reach["foot"][1];
  EXPECT_LT(std::hypot(foot_x - to_x, foot_y - to_y), 0.006) << "on the disc where it now lies";
  EXPECT_GT(std::hypot(foot_x - 0.038, foot_y - 0.05), 0.006) << "not where it was";
  const std::string trace = text_of(out / "trace.jsonl");
  const std::size_t line = trace.find("{\"step\":0,\"op\":\"target_move\",\"target\":0,");
  ASSERT_NE(line, std::string::npos);
  const json traced = json::parse(trace.substr(line, trace.find('\n', line) - line));
  EXPECT_EQ(traced["to_x"], to_x);
  EXPECT_EQ(traced["to_y"], to_y);
}

// Red pixels in the window's top right corner, where the camera's image is.
int red_in_inset(const support::Picture &picture) {
  int red = 0;
  for (int y = 0; y < 230 && y < picture.height; ++y)
    for (int x = std::max(0, picture.width - 230); x < picture.width; ++x) {
      const support::Rgb p = picture.at(x, y);
      if (p[0] > 150 && p[1] < 80 && p[2] < 80) ++red;
    }
  return red;
}

// A finished headless run replayed in the window: it starts at the first
// step, goes forward and back a step and a hundred at a time and to its
// ends, shows the robot and, once the run had fetched one, the camera's
// image; closing it ends the replay with status 0 and leaves the run's
// outputs as they were.
TEST_F(Window, AReplayGoesBackAndForthThroughAFinishedRunsSteps) {
  const fs::path world = write_world(folder_, 130);
  const fs::path out = folder_ / "run";
  Started headless(run_args(world, out, false), {"DISPLAY"}, folder_, "headless");
  ASSERT_EQ(headless.wait(120.0), 0) << headless.err();
  const std::string report = text_of(out / "report.json");
  Started replay({REACHER_SIM_EXE, "--replay", out.string(), "--paused"}, display_env(), folder_,
                 "replay");
  const std::string id = window();
  ASSERT_FALSE(id.empty()) << replay.err();
  const std::string prefix = "replay_";
  fs::path first;
  EXPECT_EQ(picture_step(id, out, &first, prefix), 1) << replay.err();
  for (const auto &[keys, step] :
       std::vector<std::pair<std::string, long>>{{"Right Right Right", 4},
                                                 {"Left", 3},
                                                 {"Next", 103},
                                                 {"End", 130},
                                                 {"Prior", 30},
                                                 {"Home", 1},
                                                 {"Left", 1}}) {
    key(id, keys);
    EXPECT_EQ(picture_step(id, out, nullptr, prefix), step) << keys;
  }
  key(id, "End");
  fs::path last;
  EXPECT_EQ(picture_step(id, out, &last, prefix), 130);
  const support::Picture at_first = support::read_png(first.string());
  const support::Picture at_last = support::read_png(last.string());
  EXPECT_GT(seen_in(at_first).robot, 5000) << "the robot, lit grey";
  EXPECT_EQ(red_in_inset(at_first), 0) << "no camera image fetched yet at step 1";
  EXPECT_GT(red_in_inset(at_last), 20) << "the disc in the camera's last saved image";
  close_window(id);
  EXPECT_EQ(replay.wait(60.0), 0) << replay.err();
  EXPECT_EQ(text_of(out / "report.json"), report);
}

// Without the state log and model of a physics run, a replay says what is
// missing and ends with status 2.
TEST(ReplayWithoutARun, SaysWhatIsMissingAndEndsWithStatusTwo) {
  const fs::path folder = test_folder();
  Started none({REACHER_SIM_EXE, "--replay", (folder / "nothing").string()}, {}, folder, "none");
  EXPECT_EQ(none.wait(60.0), 2);
  EXPECT_NE(none.err().find("no such folder"), std::string::npos) << none.err();
  std::ofstream(folder / "state.csv") << "step,time_s\n1,0.032\n";
  Started bad({REACHER_SIM_EXE, "--replay", folder.string()}, {}, folder, "bad");
  EXPECT_EQ(bad.wait(60.0), 2);
  EXPECT_NE(bad.err().find("state.csv: its header is not a state log's"), std::string::npos)
      << bad.err();
  // A named pipe in the state log's place is refused, not waited on forever.
  const fs::path piped = folder / "piped";
  fs::create_directories(piped);
  ASSERT_EQ(::mkfifo((piped / "state.csv").c_str(), 0600), 0);
  Started fifo({REACHER_SIM_EXE, "--replay", piped.string()}, {}, folder, "fifo");
  EXPECT_EQ(fifo.wait(60.0), 2);
  EXPECT_NE(fifo.err().find("state.csv: cannot be read"), std::string::npos) << fifo.err();
}

// No display: one message naming DISPLAY and the headless way, status 2,
// nothing written; for reacher-sim --view and for SIM_VIEW=1 alike.
TEST(WindowWithoutDisplay, SaysSoAndEndsWithStatusTwo) {
  const fs::path folder = test_folder();
  const fs::path world = write_world(folder, 60);
  Started through(run_args(world, folder / "through", true), {"DISPLAY", "WAYLAND_DISPLAY"}, folder,
                  "through");
  Started direct({REACHER_EXE},
                 {"DISPLAY", "WAYLAND_DISPLAY", "SIM_VIEW=1", "SIM_WORLD=" + world.string(),
                  "SIM_OUTPUT=" + (folder / "direct").string()},
                 folder, "direct");
  for (Started *run : {&through, &direct}) {
    EXPECT_EQ(run->wait(60.0), 2) << run->err();
    EXPECT_NE(run->err().find("DISPLAY is not set"), std::string::npos) << run->err();
    EXPECT_NE(run->err().find("without --view"), std::string::npos) << run->err();
  }
  EXPECT_FALSE(fs::exists(folder / "through" / "report.json"));
  EXPECT_FALSE(fs::exists(folder / "direct" / "report.json"));
}

}  // namespace
