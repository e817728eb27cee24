#include "sim/system/ffmpeg_pipe.h"

#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "sim/system/files.h"
#include "sim/system/signals.h"

extern char **environ;

namespace sim {

namespace {
// Bytes a frame pipe is asked to hold: the most an unprivileged process may
// ask of Linux by default.
constexpr int roomy_pipe = 1 << 20;
// The error for a program the system cannot find, as a person reads it.
constexpr const char *not_installed = "the ffmpeg program is not installed (Debian: ffmpeg)";
}  // namespace

std::string FfmpegPipe::missing() {
  // As posix_spawnp looks: each folder of PATH in turn, an empty entry
  // meaning the current folder.
  const char *path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/bin:/usr/bin";
  for (;;) {
    const std::size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    if (folder.empty()) folder = ".";
    struct stat about {};
    const std::string program = folder + "/ffmpeg";
    if (::stat(program.c_str(), &about) == 0 && S_ISREG(about.st_mode) &&
        ::access(program.c_str(), X_OK) == 0)
      return "";
    if (colon == std::string_view::npos) return not_installed;
    folders.remove_prefix(colon + 1);
  }
}

FfmpegPipe::~FfmpegPipe() { finish(); }

std::string FfmpegPipe::start(int output, const std::vector<std::string> &arguments) {
  // ffmpeg opens the file as /dev/fd/3, the same file again (not the pipe's
  // kind of output, which an mp4 cannot be written to). Its number must not
  // be 3 already: dup2 onto itself would keep it closed on exec.
  const int inherited = ::fcntl(output, F_DUPFD_CLOEXEC, 10);
  if (inherited < 0) return "cannot pass the file on (" + system_reason(errno) + ")";
  int frames[2];
  int messages[2];
  if (::pipe2(frames, O_CLOEXEC) != 0) {
    ::close(inherited);
    return "cannot make a pipe (" + system_reason(errno) + ")";
  }
  if (::pipe2(messages, O_CLOEXEC) != 0) {
    for (const int fd : {inherited, frames[0], frames[1]}) ::close(fd);
    return "cannot make a pipe (" + system_reason(errno) + ")";
  }
  std::vector<std::string> words{"ffmpeg"};
  words.insert(words.end(), arguments.begin(), arguments.end());
  words.push_back("/dev/fd/3");
  std::vector<char *> argv;
  for (const std::string &word : words) argv.push_back(const_cast<char *>(word.c_str()));
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, frames[0], STDIN_FILENO);
  // ffmpeg's stdout would land among the controller's console lines; what it
  // says on stderr is read, and is part of why its output failed.
  posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, messages[1], STDERR_FILENO);
  posix_spawn_file_actions_adddup2(&actions, inherited, 3);
  // Its own process group: a Ctrl-C at the terminal is the run's to handle,
  // and the run then ends the output properly by closing the pipe.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
  posix_spawnattr_setpgroup(&attributes, 0);
  const int spawned = posix_spawnp(&ffmpeg_, "ffmpeg", &actions, &attributes, argv.data(), environ);
  posix_spawnattr_destroy(&attributes);
  posix_spawn_file_actions_destroy(&actions);
  for (const int fd : {inherited, frames[0], messages[1]}) ::close(fd);
  if (spawned != 0) {
    ::close(frames[1]);
    ::close(messages[0]);
    ffmpeg_ = -1;
    if (spawned == ENOENT) return not_installed;
    return "cannot start ffmpeg (" + system_reason(spawned) + ")";
  }
  // Never blocked on ffmpeg: a write waits only as long as its patience.
  ::fcntl(frames[1], F_SETFL, O_NONBLOCK);
  // Room for a whole frame or more, where the system allows it: a frame then
  // goes in one write, not in a back-and-forth of 64 KiB between the two
  // processes. Without it, frames still go, only dearer.
  ::fcntl(frames[1], F_SETPIPE_SZ, roomy_pipe);
  ::fcntl(messages[0], F_SETFL, O_NONBLOCK);
  pipe_ = frames[1];
  messages_ = messages[0];
  frames_ = 0;
  stopped_ = false;
  stop_asked_.reset();
  failure_.clear();
  said_.clear();
  return "";
}

void FfmpegPipe::read_messages() {
  // Its first words say why; a flood of them is cut short.
  constexpr std::size_t kept = 4096;
  char buffer[4096];
  while (messages_ >= 0) {
    const ssize_t got = ::read(messages_, buffer, sizeof buffer);
    if (got > 0) {
      said_.append(buffer,
                   std::min(static_cast<std::size_t>(got), kept - std::min(kept, said_.size())));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    ::close(messages_);  // ffmpeg closed it: it has exited
    messages_ = -1;
  }
}

bool FfmpegPipe::wait(bool for_frames, Clock::time_point since) {
  for (;;) {
    read_messages();
    if (!for_frames && messages_ < 0) return true;
    const Clock::time_point now = Clock::now();
    Clock::time_point deadline = since + patience_;
    if (stop_signal() != 0) {
      if (!stop_asked_) stop_asked_ = now;
      deadline = std::min(deadline, *stop_asked_ + patience_once_stopped);
    }
    if (now >= deadline) return false;
    pollfd watched[2]{};
    nfds_t count = 0;
    if (for_frames) watched[count++] = {pipe_, POLLOUT, 0};
    if (messages_ >= 0) watched[count++] = {messages_, POLLIN, 0};
    // A signal that comes between the check above and poll is seen within a
    // quarter of a second.
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
    const int slice = static_cast<int>(std::min<std::int64_t>(left, 250));
    if (::poll(watched, count, slice) > 0 && for_frames && watched[0].revents != 0) return true;
  }
}

void FfmpegPipe::stop(const std::string &why) {
  if (failure_.empty()) failure_ = why;
  stopped_ = true;
  if (ffmpeg_ > 0) ::kill(-ffmpeg_, SIGKILL);
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
}

bool FfmpegPipe::write_frame(std::span<const unsigned char> frame) {
  if (pipe_ < 0) return false;
  Clock::time_point progress = Clock::now();
  std::size_t done = 0;
  while (done < frame.size()) {
    const ssize_t wrote = write_forgetting_own_sigpipe(
        [&] { return ::write(pipe_, frame.data() + done, frame.size() - done); });
    if (wrote > 0) {
      done += static_cast<std::size_t>(wrote);
      progress = Clock::now();
      continue;
    }
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      if (wait(true, progress)) continue;
      const auto waited = std::chrono::duration<double>(Clock::now() - progress).count();
      char why[128];
      std::snprintf(why, sizeof why,
                    "ffmpeg took no frame data for %.0f s at frame %lld, so it was stopped", waited,
                    static_cast<long long>(frames_ + 1));
      stop(why);
      return false;
    }
    failure_ = "ffmpeg stopped taking frames at frame " + std::to_string(frames_ + 1) + " (" +
               system_reason(errno) + ")";
    ::close(pipe_);
    pipe_ = -1;
    return false;
  }
  ++frames_;
  return true;
}

std::string FfmpegPipe::reap(Clock::time_point deadline) {
  int status = 0;
  for (;;) {
    const pid_t done = ::waitpid(ffmpeg_, &status, WNOHANG);
    if (done == ffmpeg_) break;
    if (done < 0 && errno != EINTR) {
      ffmpeg_ = -1;
      return "ffmpeg's end could not be seen (" + system_reason(errno) + ")";
    }
    if (Clock::now() >= deadline) {
      ::kill(-ffmpeg_, SIGKILL);
      while (::waitpid(ffmpeg_, &status, 0) < 0 && errno == EINTR) {
      }
      break;
    }
    ::usleep(10'000);
  }
  ffmpeg_ = -1;
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return "";
  if (WIFEXITED(status)) return "ffmpeg exited with status " + std::to_string(WEXITSTATUS(status));
  if (WIFSIGNALED(status))
    return "ffmpeg was ended by signal " + std::to_string(WTERMSIG(status)) + " (" +
           strsignal(WTERMSIG(status)) + ")";
  return "ffmpeg ended abnormally";
}

std::string FfmpegPipe::finish() {
  if (ffmpeg_ <= 0) return failure_;
  if (pipe_ >= 0) ::close(pipe_);
  pipe_ = -1;
  // Once its input ends, ffmpeg finishes the file and exits, which closes its
  // standard error.
  if (!wait(false, Clock::now()))
    stop("ffmpeg did not finish its output in time after its last frame, so it was stopped");
  std::vector<std::string> why;
  if (!failure_.empty()) why.push_back(failure_);
  const std::string end = reap(Clock::now() + std::chrono::seconds(1));
  if (!end.empty() && !stopped_) why.push_back(end);
  read_messages();
  if (messages_ >= 0) ::close(messages_);
  messages_ = -1;
  // At -loglevel error, anything ffmpeg says is an error, even when it
  // exits 0 (as it does when the disk fills while it ends the file).
  // It knows the file only by the name it was handed.
  for (std::size_t at; (at = said_.find("/dev/fd/3")) != std::string::npos;)
    said_.replace(at, 9, "the output file");
  std::string said;
  for (std::size_t at = 0; at < said_.size();) {
    std::size_t line_end = said_.find('\n', at);
    if (line_end == std::string::npos) line_end = said_.size();
    if (line_end > at) said += (said.empty() ? "" : "; ") + said_.substr(at, line_end - at);
    at = line_end + 1;
  }
  if (!said.empty()) why.push_back("ffmpeg said: " + said);
  failure_.clear();
  for (const std::string &part : why) failure_ += (failure_.empty() ? "" : "; ") + part;
  return failure_;
}

}  // namespace sim
