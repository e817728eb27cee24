// reacher-sim: the simulator, a program of its own. It owns the world, the
// engines, the offscreen context and every output, and runs a controller as
// a process of its own that reaches it only through the controller library:
//
//   reacher-sim [WORLD.toml] [--out DIR] [--view [--paused]] -- CONTROLLER [ARGS...]
//   reacher-sim --batch FOLDER... -- CONTROLLER [ARGS...]
//   reacher-sim --replay OUT_DIR [--paused]
//
// The controller library starts it the same way for a controller run on its
// own (SIM_WORLD=... ./controller), with a link the library already made.
#include <fcntl.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sim/channel/channel.h"
#include "sim/core/errors.h"
#include "sim/simulator/batch.h"
#include "sim/simulator/controller_start.h"
#include "sim/simulator/replay.h"
#include "sim/simulator/session.h"
#include "sim/system/signals.h"
#include "sim/world/engine_choice.h"
#include "sim/world/spelling.h"
#include "sim/world/world_file.h"

extern char **environ;

namespace {

void usage(std::FILE *to) {
  std::fputs(
      "usage: reacher-sim [WORLD.toml] [--out DIR] [--view [--paused]] -- CONTROLLER [ARGS...]\n"
      "       reacher-sim --batch FOLDER... -- CONTROLLER [ARGS...]\n"
      "       reacher-sim --replay OUT_DIR [--paused]\n"
      "\n"
      "Runs CONTROLLER, a program linked against the controller library, as a process of\n"
      "its own in the simulated world, and writes the run's records.\n"
      "\n"
      "  WORLD.toml   the world (default: $SIM_WORLD, else the built-in default world)\n"
      "  --out DIR    where the outputs go (default: $SIM_OUTPUT; neither: nothing is written)\n"
      "  --batch      run the world of each FOLDER in turn, in one process: FOLDER/world.toml,\n"
      "               the outputs in FOLDER, the controller's console in FOLDER/console.txt and\n"
      "               the messages about the run in FOLDER/stderr.txt, each as a run of its own\n"
      "               in FOLDER would write them; stops at the first run that does not end\n"
      "               with status 0, whose status is then the batch's\n"
      "  --view       a window on the run, in real time (also SIM_VIEW=1): space pauses, the\n"
      "               right arrow steps, + and - set the speed, F1 tells the rest; closing it\n"
      "               ends the run as Ctrl-C does. The outputs are those of a run without it\n"
      "               until a disc is dragged (ctrl + left drag), which the records then tell\n"
      "  --paused     with --view or --replay: the window starts paused, before the first step\n"
      "  --replay DIR a finished physics run's outputs in the same window: its robot from\n"
      "               state.csv, its camera images and reaches; space, the arrows, page up and\n"
      "               down, home and end go back and forth. Nothing is run or rewritten\n"
      "  -h, --help   this text\n"
      "\n"
      "stdout carries the controller's console, stderr the simulator's messages. The exit\n"
      "status is the run's: 0 when it went well; 2 for a world that cannot run or an output\n"
      "lost; 128 + N when signal N stopped the run or killed the controller; the\n"
      "controller's own status when it exited before its run was over.\n",
      to);
}

[[noreturn]] void misuse(const std::string &message) {
  std::fprintf(stderr, "reacher-sim: %s (see reacher-sim --help)\n", message.c_str());
  std::exit(2);
}

// A program started by a controller inherits what the controller set up:
// blocked or ignored signals would keep this one from ever stopping.
void clean_signals() {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  for (int signal = 1; signal < NSIG; ++signal) {
    if (signal == SIGKILL || signal == SIGSTOP) continue;
    std::signal(signal, SIG_DFL);
  }
}

// A closed stdout or stderr would hand its number to the next file opened,
// and console lines would land in an output. /dev/null takes the place, and
// a closed stdout means the console is lost from the start.
bool keep_standard_streams_apart() {
  bool stdout_closed = false;
  for (const int fd : {STDIN_FILENO, STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int null = ::open("/dev/null", fd == STDIN_FILENO ? O_RDONLY : O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
    if (fd == STDOUT_FILENO) stdout_closed = true;
  }
  return stdout_closed;
}

// The simulator reads SIM_WORLD, SIM_OUTPUT and SIM_VIEW and nothing else: a variable
// of the same family that it does not read is most likely a typing slip, and
// a run that silently ignored it would use another world or folder.
void warn_of_unread_variables() {
  const std::vector<std::string> read = {"SIM_WORLD", "SIM_OUTPUT", "SIM_VIEW"};
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string name(variable.substr(0, variable.find('=')));
    if (!name.starts_with("SIM_") || name == read[0] || name == read[1] || name == read[2] ||
        name == sim::channel::channel_variable)
      continue;
    const std::optional<std::string> meant = sim::nearest_word(name, read);
    std::fprintf(stderr, "sim: warning: %s is not read; %s\n", name.c_str(),
                 meant ? ("did you mean " + *meant + "?").c_str()
                       : "the stand-in reads only SIM_WORLD, SIM_OUTPUT and SIM_VIEW");
  }
}

struct Arguments {
  std::optional<std::string> world;
  std::optional<std::string> out;
  std::vector<char *> controller;  // the program and its arguments, null-terminated
  // Started by the controller library: the link it made, and where the
  // controller is.
  int channel = -1;
  pid_t controller_pid = 0;
  bool controller_is_parent = false;
  // A batch: the folders whose worlds it runs.
  bool batch = false;
  std::vector<std::string> folders;
  bool view = false;
  bool paused = false;
  std::optional<std::string> replay;
};

int number_argument(const char *option, const char *text) {
  char *end = nullptr;
  errno = 0;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || end == text || *end != '\0' || value < 0 || value > 1'000'000'000)
    misuse(std::string(option) + " wants a number, not '" + text + "'");
  return static_cast<int>(value);
}

Arguments parse(int argc, char **argv) {
  Arguments args;
  int i = 1;
  for (; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--") {
      ++i;
      break;
    }
    if (arg == "-h" || arg == "--help") {
      usage(stdout);
      std::exit(0);
    }
    if (arg == "--out" || arg == "--channel" || arg == "--controller-pid" || arg == "--replay") {
      if (i + 1 >= argc) misuse(std::string(arg) + " wants a value");
      const char *value = argv[++i];
      if (arg == "--out") args.out = value;
      if (arg == "--replay") args.replay = value;
      if (arg == "--channel") args.channel = number_argument("--channel", value);
      if (arg == "--controller-pid")
        args.controller_pid = number_argument("--controller-pid", value);
      continue;
    }
    if (arg.starts_with("--out=")) {
      args.out = std::string(arg.substr(6));
      continue;
    }
    if (arg == "--view") {
      args.view = true;
      continue;
    }
    if (arg == "--paused") {
      args.paused = true;
      continue;
    }
    if (arg == "--controller-is-parent") {
      args.controller_is_parent = true;
      continue;
    }
    if (arg == "--batch") {
      args.batch = true;
      continue;
    }
    if (arg.starts_with("-")) misuse("unknown option " + std::string(arg));
    if (args.batch) {
      args.folders.emplace_back(arg);
      continue;
    }
    if (args.world) misuse("one world at a time; the controller comes after --");
    args.world = std::string(arg);
  }
  for (; i < argc; ++i) args.controller.push_back(argv[i]);
  args.controller.push_back(nullptr);
  if (args.replay) {
    if (args.world || args.out || args.view || args.batch || args.channel >= 0 ||
        args.controller.size() > 1)
      misuse(
          "--replay shows a finished run's folder; it takes no world, --out, --view, --batch or "
          "controller");
    return args;
  }
  const bool started_by_library = args.channel >= 0;
  if (args.batch && (started_by_library || args.out || args.world))
    misuse("--batch takes folders, each with its world.toml and its outputs; no world or --out");
  if (args.batch && args.folders.empty()) misuse("--batch wants at least one folder");
  if (args.batch && (args.view || args.paused))
    misuse("--batch runs its worlds unwatched; --view and --paused are for one world");
  if (started_by_library && args.controller_pid == 0 && !args.controller_is_parent)
    misuse("--channel wants --controller-pid or --controller-is-parent");
  if (!started_by_library && args.controller.size() < 2)
    misuse("give the controller to run after --, as in: reacher-sim world.toml -- ./my_controller");
  return args;
}

// Says no to a controller that has said hello, when the world cannot run:
// its library then ends its process quietly, this one having said why.
void refuse(int socket) {
  char byte = 0;
  sim::channel::HelloTail hello{};
  if (sim::channel::receive_all(socket, &byte, 1) &&
      sim::channel::receive_all(socket, &hello, sizeof hello)) {
    const char refused = static_cast<char>(sim::channel::Answer::refused);
    sim::channel::send_all(socket, &refused, 1);
  }
  ::shutdown(socket, SHUT_RDWR);
}

}  // namespace

int main(int argc, char **argv) {
  clean_signals();
  const bool stdout_closed = keep_standard_streams_apart();
  Arguments args = parse(argc, argv);
  sim::catch_stop_signals();
  sim::wake_on(SIGCHLD);
  warn_of_unread_variables();
  if (args.batch) return sim::run_batch(args.folders, args.controller);
  if (args.replay) return sim::replay(*args.replay, args.paused);

  sim::SessionSettings settings;
  std::optional<std::string> refusal;
  try {
    const char *world_variable = std::getenv("SIM_WORLD");
    if (args.world)
      settings.world = sim::load_world_file(*args.world);
    else if (world_variable != nullptr && *world_variable != '\0')
      settings.world = sim::load_world_file(world_variable);
    else
      settings.world = sim::default_world();
  } catch (const sim::WorldFileError &error) {
    refusal = error.what();
  } catch (const sim::RunError &error) {
    refusal = error.what();
  }
  const char *output_variable = std::getenv("SIM_OUTPUT");
  settings.output_folder = args.out ? *args.out : output_variable != nullptr ? output_variable : "";
  const char *view_variable = std::getenv("SIM_VIEW");
  settings.view = args.view || (view_variable != nullptr && *view_variable != '\0' &&
                                std::string_view(view_variable) != "0");
  if (args.paused && !settings.view)
    misuse("--paused holds the window's run: give --view too (or set SIM_VIEW=1)");
  settings.paused = args.paused;
  settings.picture_folder = settings.output_folder;
  // Found out before the controller starts: a run asked to be watched that
  // cannot be ends at once, rather than run unseen.
  if (settings.view && !refusal)
    if (const std::optional<std::string> why = sim::window_unavailable(settings.world))
      refusal = *why;

  sim::Peer peer;
  if (args.channel >= 0) {
    peer.socket = args.channel;
    ::fcntl(peer.socket, F_SETFD, FD_CLOEXEC);
    peer.child = args.controller_pid;
    if (args.controller_is_parent) {
      peer.parent = ::getppid();
      // A parent that ends without a word, its link held open by a process
      // it forked, is seen by this signal.
      sim::wake_on(SIGUSR1);
      ::prctl(PR_SET_PDEATHSIG, SIGUSR1);
    }
    peer.name = "the controller";
  } else {
    if (refusal) {
      std::fprintf(stderr, "sim: error: %s\n", refusal->c_str());
      return 2;
    }
    if (!sim::start_controller(args.controller, peer)) return 2;
  }
  if (refusal) {
    std::fprintf(stderr, "sim: error: %s\n", refusal->c_str());
    refuse(peer.socket);
    if (peer.child > 0) ::waitpid(peer.child, nullptr, 0);
    return 2;
  }
  settings.stdout_closed = stdout_closed;
  return sim::serve(settings, peer);
}
