// The controller library: the thin side a controller links. The simulator is
// a process of its own, which owns the world and every output; this side
// logs each call in the memory the two share, and waits for the simulator's
// answer only where time must pass (a step) or the run may end (a step
// function's return). The first call finds the simulator that started this
// process, or starts one.
//
// Whatever the controller's process then does, crash, fork, spawn threads,
// change its locale or loop without calling, the simulator sees its calls and
// its end, and completes the run's records.
#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <mutex>
#include <string>
#include <string_view>

#include "controller_api/controller.h"
#include "sim/channel/channel.h"

extern char **environ;

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using namespace sim::channel;

// The link to the simulator, made at the first call.
struct Link {
  int socket = -1;
  Block *block = nullptr;
  const unsigned char *image = nullptr;
  // The simulator, when this process started it as its child: it then learns
  // how this process ends only from what the library tells it.
  pid_t simulator = 0;
  bool ready = false;
};

Link the_link;
// One call at a time, whatever thread makes it: the calls reach the
// simulator, and its trace, in the order they were made.
std::mutex calls;
char text_buffer[1024];
// Set in a copy of the process made by fork(): its calls never reach the
// simulator, which serves the controller's own process only.
volatile sig_atomic_t forked_copy = 0;
// Set while a thread tells a simulator started as this process's child how
// the process ends: the process is on its way out, and another thread that
// finds the simulator gone waits for that end rather than making one of its
// own.
volatile sig_atomic_t ending_told = 0;

[[noreturn]] void wait_for_the_end() {
  for (;;) ::pause();
}

[[noreturn]] void give_up(const std::string &message) {
  if (ending_told != 0) wait_for_the_end();
  std::fprintf(stderr, "sim: error: %s\n", message.c_str());
  std::exit(2);
}

void on_fork_in_child() { forked_copy = 1; }

// A call from a forked copy does nothing; it says so once.
bool in_forked_copy(const char *operation) {
  if (forked_copy == 0) return false;
  static volatile sig_atomic_t told = 0;
  if (told == 0) {
    told = 1;
    std::fprintf(stderr,
                 "sim: error: %s was called in process %d, a copy of the controller made by "
                 "fork(); only the controller's own process reaches the simulator, so its calls "
                 "do nothing\n",
                 operation, static_cast<int>(::getpid()));
  }
  return true;
}

// A closed stdin, stdout or stderr would hand its number to the link's
// socket, and the controller's own printing would land in it. /dev/null
// takes the place; a closed stdout means the console is lost from the start.
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

// The simulator program: beside this library as installed, or in the
// build that made it.
std::string simulator_program() {
  std::string tried;
  Dl_info info{};
  if (::dladdr(reinterpret_cast<void *>(&robot_step), &info) != 0 && info.dli_fname != nullptr) {
    char resolved[PATH_MAX];
    if (::realpath(info.dli_fname, resolved) != nullptr) {
      std::string folder(resolved);
      folder.erase(folder.rfind('/') + 1);
      for (const char *relative : {REACHER_SIMULATOR_FROM_LIBDIR, "../bin/reacher-sim"}) {
        const std::string candidate = folder + relative;
        if (::access(candidate.c_str(), X_OK) == 0) return candidate;
        tried += candidate + ", ";
      }
    }
  }
  if (::access(REACHER_SIMULATOR_BUILT, X_OK) == 0) return REACHER_SIMULATOR_BUILT;
  tried += REACHER_SIMULATOR_BUILT;
  give_up("the simulator program reacher-sim was not found (looked for " + tried +
          "); the controller library starts it for a controller run on its own");
}

// A field of /proc/self/status, or -1.
long status_field(std::string_view name) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.starts_with(name) && line.size() > name.size() && line[name.size()] == ':')
      return std::strtol(line.c_str() + name.size() + 1, nullptr, 10);
  return -1;
}

// Last words for a simulator that is this process's child: how the process
// ends. Safe in a signal handler.
void say_last_words(Message message, std::int32_t code) {
  char words[1 + sizeof code];
  words[0] = static_cast<char>(message);
  std::memcpy(words + 1, &code, sizeof code);
  [[maybe_unused]] const ssize_t sent = ::send(the_link.socket, words, sizeof words, MSG_NOSIGNAL);
}

void wait_for_simulator() {
  int status = 0;
  while (::waitpid(the_link.simulator, &status, 0) < 0 && errno == EINTR) {
  }
}

void on_exit_with_child_simulator(int status, void *) {
  if (forked_copy != 0 || !the_link.ready) return;
  ending_told = 1;
  say_last_words(Message::exiting, status);
  wait_for_simulator();
}

constexpr int watched_signals[] = {SIGSEGV, SIGBUS,  SIGILL,  SIGFPE,  SIGABRT, SIGTRAP,
                                   SIGSYS,  SIGXCPU, SIGXFSZ, SIGTERM, SIGINT,  SIGHUP};
struct sigaction previous_actions[NSIG];

void on_deadly_signal(int signal) {
  if (forked_copy == 0 && the_link.ready) {
    ending_told = 1;
    say_last_words(Message::killed, signal);
    wait_for_simulator();
  }
  // The signal's own action, raised again: it ends the process once this
  // handler returns (a fault also comes again on its own).
  sigaction(signal, &previous_actions[signal], nullptr);
  ::raise(signal);
}

// A simulator started as this process's child learns how the process ends
// from these: an exit, or a signal the controller left to its default.
void tell_simulator_how_this_process_ends() {
  ::on_exit(on_exit_with_child_simulator, nullptr);
  for (const int signal : watched_signals) {
    struct sigaction current {};
    if (sigaction(signal, nullptr, &current) != 0 || current.sa_handler != SIG_DFL ||
        (current.sa_flags & SA_SIGINFO) != 0)
      continue;
    previous_actions[signal] = current;
    struct sigaction action {};
    action.sa_handler = on_deadly_signal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
  }
}

// Reads of the camera's image. The controller may hold its pointer across
// steps and read the buffer whenever it likes, so the simulator cannot know
// from the calls which image it looked at. After each step that changed the
// image, and once the controller has the pointer, the image's pages are
// protected; the first read faults into this handler, which notes the read
// in the block (which image, and where the log was) and lets the read go
// on. The simulator then records the image as it was read.
struct ImageWatch {
  unsigned char *begin = nullptr;
  std::size_t bytes = 0;  // whole pages
  bool pointer_given = false;
  std::uint64_t protected_generation = UINT64_MAX;  // none yet
  struct sigaction previous {};
};
ImageWatch image_watch;

void on_segv(int signal, siginfo_t *info, void *context) {
  auto *at = static_cast<unsigned char *>(info->si_addr);
  if (the_link.block != nullptr && at >= image_watch.begin &&
      at < image_watch.begin + image_watch.bytes) {
    ::mprotect(image_watch.begin, image_watch.bytes, PROT_READ);
    Block &block = *the_link.block;
    block.read_at.store(block.log_end.load(std::memory_order_relaxed), std::memory_order_relaxed);
    block.read_generation.store(image_watch.protected_generation, std::memory_order_release);
    return;
  }
  // A fault of the controller's own: the action that was there before.
  const struct sigaction &previous = image_watch.previous;
  if ((previous.sa_flags & SA_SIGINFO) != 0 && previous.sa_sigaction != nullptr) {
    previous.sa_sigaction(signal, info, context);
  } else if (previous.sa_handler != SIG_DFL && previous.sa_handler != SIG_IGN) {
    previous.sa_handler(signal);
  } else {
    // Returning faults again, now with the default action: the crash it was.
    sigaction(SIGSEGV, &previous, nullptr);
  }
}

bool segv_handler_is_ours() {
  struct sigaction current {};
  return sigaction(SIGSEGV, nullptr, &current) == 0 && (current.sa_flags & SA_SIGINFO) != 0 &&
         current.sa_sigaction == on_segv;
}

void watch_image_reads(Block &block) {
  const std::size_t image_bytes = static_cast<std::size_t>(block.width) * block.height * 3u;
  if (image_bytes == 0 || block.image_available == 0) return;
  const auto page = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
  image_watch.begin = image_start(block);
  image_watch.bytes = (image_bytes + page - 1) / page * page;
  struct sigaction action {};
  action.sa_sigaction = on_segv;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_SIGINFO | SA_RESTART | SA_NODEFER;
  if (sigaction(SIGSEGV, &action, &image_watch.previous) != 0) return;
  block.reads_watched.store(1, std::memory_order_release);
}

// After an answer: a new image is protected, so its first read is seen. A
// controller that has put a SIGSEGV handler of its own in place is left
// alone from then on, its reads no longer watched.
void protect_new_image() {
  Block &block = *the_link.block;
  if (block.reads_watched.load(std::memory_order_relaxed) == 0 || !image_watch.pointer_given)
    return;
  const std::uint64_t generation = block.image_generation.load(std::memory_order_acquire);
  if (generation == image_watch.protected_generation) return;
  if (!segv_handler_is_ours()) {
    ::mprotect(image_watch.begin, image_watch.bytes, PROT_READ);
    block.reads_watched.store(0, std::memory_order_release);
    return;
  }
  image_watch.protected_generation = generation;
  ::mprotect(image_watch.begin, image_watch.bytes, PROT_NONE);
}

// A controller run on its own: the simulator is started here. With the
// process single-threaded and not under a debugger, the process becomes the
// simulator and the controller goes on in a child, so that the simulator
// sees exactly how the controller ends and the process's exit status is the
// run's. Otherwise (threads would not survive the fork, and a debugger
// should stay with the controller) the simulator is started as a child.
int start_simulator() {
  const std::string program = simulator_program();
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0)
    give_up(std::string("cannot make the link to the simulator (") + std::strerror(errno) + ")");
  const std::string channel = std::to_string(ends[1]);
  if (status_field("Threads") == 1 && status_field("TracerPid") == 0) {
    const pid_t original = ::getpid();
    const pid_t controller = ::fork();
    if (controller < 0)
      give_up(std::string("cannot start the simulator (") + std::strerror(errno) + ")");
    if (controller > 0) {
      ::fcntl(ends[1], F_SETFD, 0);
      const std::string pid = std::to_string(controller);
      const char *argv[] = {program.c_str(),    "--channel", channel.c_str(),
                            "--controller-pid", pid.c_str(), nullptr};
      ::execv(program.c_str(), const_cast<char *const *>(argv));
      std::fprintf(stderr, "sim: error: cannot start the simulator %s (%s)\n", program.c_str(),
                   std::strerror(errno));
      ::kill(controller, SIGKILL);
      ::_exit(2);
    }
    // The controller, from here on: a simulator that ends takes it along.
    ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (::getppid() != original) ::_exit(2);
    ::close(ends[1]);
    return ends[0];
  }
  ::fcntl(ends[1], F_SETFD, 0);
  const char *argv[] = {program.c_str(), "--channel", channel.c_str(), "--controller-is-parent",
                        nullptr};
  pid_t simulator = 0;
  const int failed = ::posix_spawn(&simulator, program.c_str(), nullptr, nullptr,
                                   const_cast<char *const *>(argv), environ);
  ::close(ends[1]);
  if (failed != 0)
    give_up("cannot start the simulator " + program + " (" + std::strerror(failed) + ")");
  the_link.simulator = simulator;
  return ends[0];
}

// The link named by the simulator that started this process.
int inherited_link(const char *named) {
  char *end = nullptr;
  const long fd = std::strtol(named, &end, 10);
  struct stat info {};
  if (end == named || *end != '\0' || fd < 3 || fd > INT_MAX ||
      ::fstat(static_cast<int>(fd), &info) != 0 || !S_ISSOCK(info.st_mode))
    give_up(std::string(channel_variable) + " is \"" + named +
            "\", which names no link to a simulator; it is set by the simulator that starts a "
            "controller, not by hand");
  // Programs this one starts are not controllers of this run.
  ::unsetenv(channel_variable);
  ::fcntl(static_cast<int>(fd), F_SETFD, FD_CLOEXEC);
  return static_cast<int>(fd);
}

// Ends this process as the simulator asked, once the run is over. Called
// without the lock held: exit handlers may call the library again. Of
// threads that learn of the end at once, the first ends the process and the
// others wait for it.
[[noreturn]] void end_as_told() {
  static std::atomic<bool> ending{false};
  if (ending.exchange(true) || ending_told != 0) wait_for_the_end();
  std::exit(the_link.block != nullptr ? the_link.block->exit_status.load() : 2);
}

void connect() {
  const bool stdout_closed = keep_standard_streams_apart();
  const char *named = std::getenv(channel_variable);
  the_link.socket = named != nullptr ? inherited_link(named) : start_simulator();
  const char hello_byte = static_cast<char>(Message::hello);
  const HelloTail hello{static_cast<std::int32_t>(::getpid()), version,
                        stdout_closed ? hello_stdout_closed : 0u};
  char answer = 0;
  int block_fd = -1;
  if (!send_all(the_link.socket, &hello_byte, 1) ||
      !send_all(the_link.socket, &hello, sizeof hello) ||
      !receive_with_fd(the_link.socket, answer, block_fd))
    give_up("the simulator ended before the run began");
  // Refused: the simulator has said why.
  if (answer == static_cast<char>(Answer::refused)) std::exit(2);
  struct stat info {};
  if (answer != static_cast<char>(Answer::go_on) || block_fd < 0 || ::fstat(block_fd, &info) != 0)
    give_up("the simulator answered the library's hello with nothing it understands");
  const auto size = static_cast<std::size_t>(info.st_size);
  void *memory = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, block_fd, 0);
  ::close(block_fd);
  if (memory == MAP_FAILED)
    give_up(std::string("cannot map the memory shared with the simulator (") +
            std::strerror(errno) + ")");
  the_link.block = static_cast<Block *>(memory);
  Block &block = *the_link.block;
  if (block.magic != magic || block.version != version || block.size != size ||
      block.image_offset + static_cast<std::uint64_t>(block.width) * block.height * 3u > size)
    give_up("the memory shared with the simulator is not laid out as this library expects");
  // The camera's image is the simulator's to write and the controller's to read.
  ::mprotect(image_start(block), size - block.image_offset, PROT_READ);
  the_link.image = image_start(block);
  if (the_link.simulator != 0) tell_simulator_how_this_process_ends();
  watch_image_reads(block);
  pthread_atfork(nullptr, nullptr, on_fork_in_child);
  the_link.ready = true;
}

// Holds the lock for one call, making the link first if need be.
class Call {
 public:
  explicit Call(const char *operation) : refused_(in_forked_copy(operation)) {
    if (refused_) return;
    lock_ = std::unique_lock(calls);
    if (!the_link.ready) connect();
  }
  explicit operator bool() const { return !refused_; }

  // Logs the call; it reaches the simulator with the next answer.
  void log(Op op, std::int32_t a = 0, std::int32_t b = 0, float number = 0.0f,
           std::string_view text = {}) {
    Block &block = *the_link.block;
    Record record{static_cast<std::uint32_t>(padded(sizeof(Record) + text.size())),
                  static_cast<std::uint16_t>(op),
                  0,
                  a,
                  b,
                  number,
                  static_cast<std::uint32_t>(text.size())};
    if (text.size() > UINT32_MAX / 2 || record.size > block.log_capacity / 2) {
      // Too long for the log: on the socket, whole, played after the log.
      const char big = static_cast<char>(Message::big);
      if (!send_all(the_link.socket, &big, 1) ||
          !send_all(the_link.socket, &record, sizeof record) ||
          !send_all(the_link.socket, text.data(), text.size()))
        lost();
      char answer = 0;
      do {
        if (!receive_all(the_link.socket, &answer, 1)) lost();
      } while (answer != static_cast<char>(Answer::big_played));
      return;
    }
    std::uint64_t end = block.log_end.load(std::memory_order_relaxed);
    if (end + record.size > block.log_capacity) {
      request();
      end = block.log_end.load(std::memory_order_relaxed);
    }
    std::uint8_t *at = log_start(block) + end;
    std::memcpy(at, &record, sizeof record);
    if (!text.empty()) std::memcpy(at + sizeof record, text.data(), text.size());
    block.log_end.store(end + record.size, std::memory_order_release);
  }

  // The simulator plays the log and answers: false once the run is over.
  bool request() {
    Block &block = *the_link.block;
    const std::uint64_t asked = block.requests.load(std::memory_order_relaxed) + 1;
    block.requests.store(asked, std::memory_order_seq_cst);
    if (block.simulator_sleeps.load(std::memory_order_seq_cst) != 0) {
      const char wake = static_cast<char>(Message::wake);
      if (!send_all(the_link.socket, &wake, 1)) lost();
    }
    await(asked);
    protect_new_image();
    return block.over.load(std::memory_order_acquire) == 0;
  }

  // Ends the process as the simulator said, after letting the lock go.
  [[noreturn]] void end() {
    lock_.unlock();
    end_as_told();
  }

 private:
  // Waits for the answer to request `asked`: watching the block for about as
  // long as the last answer took (a kinematic step answers in about a
  // microsecond, and waking a sleeping process takes far longer), then
  // asleep on the socket until the simulator wakes it.
  void await(std::uint64_t asked) {
    Block &block = *the_link.block;
    const auto answered = [&] { return block.answers.load(std::memory_order_acquire) >= asked; };
    static std::int64_t watch_ns = 5'000;
    const std::int64_t asked_at = now_ns();
    if (!watch(answered, watch_ns)) {
      for (;;) {
        block.library_sleeps.store(1, std::memory_order_seq_cst);
        if (answered()) break;
        char byte = 0;
        if (!receive_all(the_link.socket, &byte, 1)) {
          block.library_sleeps.store(0, std::memory_order_relaxed);
          if (answered()) break;
          lost();
        }
        if (answered()) break;
      }
      block.library_sleeps.store(0, std::memory_order_relaxed);
    }
    const std::int64_t took = now_ns() - asked_at;
    watch_ns = next_watch(watch_ns, took);
  }

  // The simulator closed the link: the run is over if it said so, and
  // otherwise the simulator is gone.
  [[noreturn]] void lost() {
    if (the_link.block != nullptr && the_link.block->over.load() != 0) end();
    lock_.unlock();
    give_up("the simulator ended while the run was under way; its last messages say why");
  }

  bool refused_;
  std::unique_lock<std::mutex> lock_;
};

}  // namespace

SIM_EXPORT void robot_live(void (*init)(void)) {
  {
    Call call("robot_live");
    if (!call) return;
    call.log(Op::live);
  }
  if (init != nullptr) init();
}

SIM_EXPORT void robot_run(int (*step)(void)) {
  {
    Call call("robot_run");
    if (!call) return;
    call.log(Op::run, step == nullptr ? 1 : 0);
    if (!call.request()) {
      if (the_link.block->exit_status.load() != 0) call.end();
      return;
    }
  }
  for (;;) {
    const int result = step();
    Call call("robot_run");
    if (!call) return;
    call.log(Op::step_function, result);
    // A run that went well returns to the controller, whose main then
    // returns; one that lost an output or was stopped ends here, with a
    // status that says so.
    if (!call.request()) {
      if (the_link.block->exit_status.load() != 0) call.end();
      return;
    }
  }
}

SIM_EXPORT int robot_step(int32_t ms) {
  Call call("robot_step");
  if (!call) return -1;
  call.log(Op::step, ms);
  // The simulator ends the controller when its steps are done, as a real
  // one does when it stops.
  if (!call.request()) call.end();
  return 0;
}

SIM_EXPORT DeviceTag robot_get_device(const char *name) {
  Call call("robot_get_device");
  if (!call) return 0;
  const std::string_view wanted = name != nullptr ? name : "";
  call.log(Op::get_device, name == nullptr ? 1 : 0, 0, 0.0f, wanted);
  return tag_of(*the_link.block, wanted);
}

SIM_EXPORT void servo_set_position(DeviceTag servo, float position) {
  Call call("servo_set_position");
  if (!call) return;
  call.log(Op::set_position, servo, 0, position);
}

SIM_EXPORT void camera_enable(DeviceTag camera, int32_t ms) {
  Call call("camera_enable");
  if (!call) return;
  call.log(Op::camera_enable, camera, ms);
}

SIM_EXPORT void receiver_enable(DeviceTag receiver, int32_t ms) {
  Call call("receiver_enable");
  if (!call) return;
  call.log(Op::receiver_enable, receiver, ms);
}

SIM_EXPORT void robot_keyboard_enable(int32_t ms) {
  Call call("robot_keyboard_enable");
  if (!call) return;
  call.log(Op::keyboard_enable, ms);
}

SIM_EXPORT const unsigned char *camera_get_image(DeviceTag camera) {
  Call call("camera_get_image");
  if (!call) return nullptr;
  call.log(Op::get_image, camera);
  const Block &block = *the_link.block;
  if (kind_of(block, camera) != DeviceKind::camera || block.image_available == 0) return nullptr;
  if (!image_watch.pointer_given) {
    image_watch.pointer_given = true;
    protect_new_image();
  }
  return the_link.image;
}

SIM_EXPORT uint16_t camera_get_width(DeviceTag camera) {
  Call call("camera_get_width");
  if (!call) return 0;
  call.log(Op::get_width, camera);
  const Block &block = *the_link.block;
  return kind_of(block, camera) == DeviceKind::camera ? static_cast<uint16_t>(block.width) : 0;
}

SIM_EXPORT uint16_t camera_get_height(DeviceTag camera) {
  Call call("camera_get_height");
  if (!call) return 0;
  call.log(Op::get_height, camera);
  const Block &block = *the_link.block;
  return kind_of(block, camera) == DeviceKind::camera ? static_cast<uint16_t>(block.height) : 0;
}

SIM_EXPORT char *robot_get_formated_string(void) {
  Call call("robot_get_formated_string");
  if (!call) return text_buffer;
  call.log(Op::get_formated_string);
  return text_buffer;
}

SIM_EXPORT void robot_console_print(const char *text) {
  Call call("robot_console_print");
  if (!call) return;
  call.log(Op::console_print, text == nullptr ? 1 : 0, 0, 0.0f,
           text != nullptr ? std::string_view(text) : std::string_view());
}
