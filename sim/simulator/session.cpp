#include "sim/simulator/session.h"

#include <poll.h>
#include <sys/mman.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <optional>
#include <span>
#include <string_view>

#include "sim/channel/channel.h"
#include "sim/core/errors.h"
#include "sim/core/live_window.h"
#include "sim/record/window_picture.h"
#include "sim/system/signals.h"
#include "sim/world/devices.h"
#include "sim/world/world.h"
#include "sim/world/world_file.h"

namespace sim {

namespace {

using channel::Answer;
using channel::device_name_bytes;
using channel::device_slots;
using channel::DeviceEntry;
using channel::hello_stdout_closed;
using channel::HelloTail;
using channel::Message;
using channel::Op;
using channel::padded;
using channel::receive_all;
using channel::Record;
using channel::send_all;
using channel::send_with_fd;
using Clock = std::chrono::steady_clock;

constexpr std::size_t page = 4096;
constexpr std::size_t log_capacity = std::size_t{1} << 20;  // bytes of records between answers
// A console line sent whole on the socket is read into memory: past this it
// is a controller gone wrong, not a line.
constexpr std::uint32_t max_big_text = std::uint32_t{1} << 30;

constexpr std::size_t rounded_up(std::size_t bytes, std::size_t to) {
  return (bytes + to - 1) / to * to;
}

// The block both processes map: made here, handed to the library at hello.
class SharedBlock {
 public:
  explicit SharedBlock(const WorldConfig &world) {
    const std::size_t image_bytes = static_cast<std::size_t>(world.camera_width) *
                                    static_cast<std::size_t>(world.camera_height) * 3u;
    const std::size_t log_offset = rounded_up(sizeof(channel::Block), 64);
    const std::size_t image_offset = rounded_up(log_offset + log_capacity, page);
    size_ = rounded_up(image_offset + std::max<std::size_t>(image_bytes, 1), page);
    fd_ = ::memfd_create("reacher-sim", MFD_CLOEXEC);
    if (fd_ < 0 || ::ftruncate(fd_, static_cast<off_t>(size_)) != 0)
      throw RunError(std::string("cannot make the memory shared with the controller (") +
                     std::strerror(errno) + ")");
    void *memory = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd_, 0);
    if (memory == MAP_FAILED)
      throw RunError(std::string("cannot map the memory shared with the controller (") +
                     std::strerror(errno) + ")");
    block_ = new (memory) channel::Block{};
    block_->magic = channel::magic;
    block_->version = channel::version;
    block_->size = size_;
    block_->log_offset = log_offset;
    block_->log_capacity = log_capacity;
    block_->image_offset = image_offset;
    block_->width = static_cast<std::uint32_t>(world.camera_width);
    block_->height = static_cast<std::uint32_t>(world.camera_height);
    block_->image_available = world.camera_image ? 1u : 0u;
    block_->device_count = static_cast<std::uint32_t>(devices.size());
    static_assert(devices.size() <= device_slots);
    for (std::size_t i = 0; i < devices.size(); ++i) {
      DeviceEntry &entry = block_->devices[i];
      const std::string_view name = devices[i].name;
      std::memcpy(entry.name, name.data(), std::min(name.size(), device_name_bytes - 1));
      entry.kind = devices[i].kind == sim::DeviceKind::camera     ? channel::DeviceKind::camera
                   : devices[i].kind == sim::DeviceKind::joint    ? channel::DeviceKind::joint
                   : devices[i].kind == sim::DeviceKind::receiver ? channel::DeviceKind::receiver
                                                                  : channel::DeviceKind::none;
    }
    image_ = {image_start(*block_), image_bytes};
  }
  ~SharedBlock() {
    if (block_ != nullptr) ::munmap(block_, size_);
    if (fd_ >= 0) ::close(fd_);
  }
  SharedBlock(const SharedBlock &) = delete;
  SharedBlock &operator=(const SharedBlock &) = delete;

  channel::Block &block() { return *block_; }
  int fd() const { return fd_; }
  std::span<unsigned char> image() const { return image_; }

 private:
  int fd_ = -1;
  std::size_t size_ = 0;
  channel::Block *block_ = nullptr;
  std::span<unsigned char> image_;
};

// How the controller's process ended, as this process learned it.
struct Ending {
  ControllerEnd::How how = ControllerEnd::How::vanished;
  int code = 0;
};

std::optional<Ending> ending_of(int wait_status) {
  if (WIFEXITED(wait_status)) return Ending{ControllerEnd::How::exited, WEXITSTATUS(wait_status)};
  if (WIFSIGNALED(wait_status)) return Ending{ControllerEnd::How::killed, WTERMSIG(wait_status)};
  return std::nullopt;
}

// The status a shell gives a process that ended so.
int shell_status(const Ending &ending) {
  return ending.how == ControllerEnd::How::killed ? 128 + ending.code : ending.code;
}

class Session {
 public:
  Session(const SessionSettings &settings, const Peer &peer) : settings_(settings), peer_(peer) {}

  int run();
  // How many frames the window showed, and how fast.
  void tell_frames() const;

 private:
  enum class Next { serve, gone };

  bool greet();
  Next on_message();
  void play_log();
  void play(const Record &record, std::string_view text);
  bool request_waiting() const;
  void serve_request();
  // A read of an outdated image waits for it to be drawn.
  bool draw_waiting() const;
  void serve_draw();
  // Tells the library about the image: its generation, and whether it is
  // older than the world.
  void publish_image();
  void answer(std::uint64_t asked);
  // Reaps the controller if it has ended (a child only).
  bool reaped();
  // Waits up to `seconds` for the controller, a child, to end.
  bool reaped_within(double seconds);
  // The run has ended with the controller still there: lets it go, then
  // makes it go.
  void end_controller();
  int gone(std::optional<Ending> ending);
  int status() const;
  void stuck();
  void fail(const std::string &message);
  // With a window: holds the step about to be played while paused, and
  // until its time at the window's speed; draws the window meanwhile.
  void before_step();
  void draw_window();
  // Moves into the world the discs let go of in the window.
  void take_disc_moves();
  std::string window_status() const;
  void save_picture();
  // The controller read the camera's image: the window's inset shows it.
  void image_seen();

  const SessionSettings &settings_;
  Peer peer_;
  std::unique_ptr<SharedBlock> shared_;
  std::unique_ptr<World> world_;
  std::optional<Ending> ended_;  // the controller's process, once it has ended
  bool failed_ = false;
  Clock::time_point last_call_ = Clock::now();
  std::uint64_t last_log_end_ = 0;
  std::optional<Clock::time_point> over_since_;
  std::uint64_t answered_ = 0;     // the requests answered
  std::uint64_t read_played_ = 0;  // the image generation whose read was played last
  std::int64_t answered_at_ = 0;   // when the last was (ns)
  // How long to watch the block for the next request before sleeping.
  std::int64_t watch_ns_ = 5'000;
  // The window, and how it paces the run: a step is due `anchor_wall_ +
  // (steps since anchor_step_) x step length / speed`.
  std::unique_ptr<LiveWindow> window_;
  bool pace_steps_ = false;  // steps being played are the controller's, as it asks
  Clock::time_point anchor_wall_;
  std::int64_t anchor_step_ = 0;
  double anchor_speed_ = -1.0;
  Clock::time_point last_frame_;
  // Drawing takes at most about half the time, so that a window on a slow
  // machine slows the run by half at worst: the next frame waits as long as
  // the last one took.
  Clock::duration last_frame_took_{};
  std::int64_t frames_ = 0;
  Clock::time_point first_frame_;
  int pictures_ = 0;
  bool window_closed_ = false;
  // The camera image as the controller last read it, and the step then.
  std::vector<unsigned char> inset_;
  std::int64_t inset_step_ = -1;
};

// Frames the window shows at most, a second.
constexpr double window_frame_rate = 60.0;

std::string Session::window_status() const {
  const World &world = *world_;
  char text[256];
  std::string last = "none yet";
  const std::vector<Reach> &done = world.reaches().finished();
  if (!done.empty()) {
    const Reach &reach = done.back();
    last = std::string(reach.leg == 0 ? "left, " : "right, ") + outcome_name(reach.outcome());
    if (const std::optional<double> error = reach.error()) {
      char mm[32];
      std::snprintf(mm, sizeof mm, ", %.1f mm from its aim", *error * 1000.0);
      last += mm;
    }
  }
  std::snprintf(text, sizeof text,
                "step %lld of %lld   %.2f s   %s%s   F1: help\nleft leg: %s   right leg: %s   "
                "last reach: %s",
                static_cast<long long>(world.steps_done()),
                static_cast<long long>(settings_.world.steps),
                static_cast<double>(world.steps_done()) * settings_.world.time_step_ms / 1000.0,
                window_->paused() ? "PAUSED at " : "", window_->speed_text().c_str(),
                leg_state_name(world.reaches().state(0)), leg_state_name(world.reaches().state(2)),
                last.c_str());
  return text;
}

void Session::save_picture() {
  LiveWindow::Picture picture;
  if (!window_->take_picture(picture)) return;
  if (settings_.picture_folder.empty()) {
    std::fprintf(stderr, "sim: the run has no output folder; the window's picture is not kept\n");
    return;
  }
  char name[64];
  std::snprintf(name, sizeof name, "window_%03d_step_%06lld.png", ++pictures_,
                static_cast<long long>(world_->steps_done()));
  save_window_picture(picture, settings_.picture_folder + "/" + name);
}

void Session::image_seen() {
  if (!window_) return;
  const std::span<unsigned char> image = shared_->image();
  inset_.assign(image.begin(), image.end());
  inset_step_ = world_->steps_done();
}

void Session::draw_window() {
  const std::vector<Reach> reaches = world_->reaches().reaches();
  std::optional<LiveWindow::Outline> outline;
  std::vector<FloorMark> marks;
  for (const Reach &reach : reaches) {
    if (reach.decided_on && reach.decided_on->window && reach.decided_on->step == inset_step_)
      outline = LiveWindow::Outline{reach.decided_on->window->x, reach.decided_on->window->y,
                                    window_side};
    const double floor_z = reach.placement ? reach.placement->foot.z : reach.end_foot.z;
    switch (reach.outcome()) {
      case ReachOutcome::on_target:
      case ReachOutcome::off_target:
        marks.push_back({FloorMark::Kind::aimed, {reach.aimed.x, reach.aimed.y, floor_z}});
        marks.push_back({reach.outcome() == ReachOutcome::on_target ? FloorMark::Kind::on_target
                                                                    : FloorMark::Kind::off_target,
                         reach.placement->foot});
        break;
      case ReachOutcome::no_contact:
        marks.push_back({FloorMark::Kind::no_contact, {reach.aimed.x, reach.aimed.y, floor_z}});
        break;
      case ReachOutcome::unfinished:
        marks.push_back({FloorMark::Kind::unfinished, reach.end_foot});
        break;
    }
  }
  window_->set_floor_marks(std::move(marks));
  if (!inset_.empty())
    window_->set_inset(settings_.world.camera_width, settings_.world.camera_height, inset_,
                       outline);
  const Clock::time_point start = Clock::now();
  window_->show(window_status());
  last_frame_ = Clock::now();
  last_frame_took_ = last_frame_ - start;
  if (frames_++ == 0) first_frame_ = start;
  save_picture();
}

void Session::take_disc_moves() {
  while (const std::optional<LiveWindow::DiscMove> move = window_->take_disc_move())
    world_->move_target(move->disc, move->to);
}

void Session::tell_frames() const {
  if (!window_ || frames_ < 2) return;
  const double seconds = std::chrono::duration<double>(last_frame_ - first_frame_).count();
  if (seconds <= 0.0) return;
  std::fprintf(stderr, "sim: the window showed %lld frames, %.1f a second\n",
               static_cast<long long>(frames_), static_cast<double>(frames_ - 1) / seconds);
}

void Session::before_step() {
  const double frame =
      std::max(1.0 / window_frame_rate, std::chrono::duration<double>(last_frame_took_).count());
  const double step_s = settings_.world.time_step_ms / 1000.0;
  for (;;) {
    window_->wait(0.0);
    take_disc_moves();
    if (window_->closed()) {
      // The run ends as an interrupt ends it: whole outputs, marked so. Once
      // only: a second SIGINT ends the process at once.
      if (!window_closed_) {
        window_closed_ = true;
        std::fprintf(stderr, "sim: the window was closed; the run ends as on SIGINT\n");
        std::raise(SIGINT);
      }
      return;
    }
    const Clock::time_point now = Clock::now();
    const bool frame_due = std::chrono::duration<double>(now - last_frame_).count() >= frame;
    if (window_->dragging()) {
      // Nothing steps while a disc is held; the pace starts again after.
      anchor_speed_ = -1.0;
      if (frame_due) draw_window();
      window_->wait(frame);
      continue;
    }
    if (window_->paused()) {
      if (window_->take_step()) {
        anchor_speed_ = -1.0;
        break;
      }
      if (frame_due) draw_window();
      window_->wait(frame);
      continue;
    }
    const double speed = window_->speed();
    if (speed != anchor_speed_) {
      anchor_speed_ = speed;
      anchor_wall_ = now;
      anchor_step_ = world_->steps_done();
    }
    if (speed == 0.0) break;
    const Clock::time_point due =
        anchor_wall_ +
        std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(
            static_cast<double>(world_->steps_done() - anchor_step_) * step_s / speed));
    if (now >= due) break;
    if (frame_due) draw_window();
    const double left = std::chrono::duration<double>(due - Clock::now()).count();
    window_->wait(std::min(left, frame));
  }
  if (std::chrono::duration<double>(Clock::now() - last_frame_).count() >= frame) draw_window();
  // Time held here is the window's, not a controller that stopped calling.
  last_call_ = Clock::now();
}

bool Session::greet() {
  for (;;) {
    pollfd fds[2] = {{peer_.socket, POLLIN, 0}, {wake_fd(), POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0 && errno != EINTR) return false;
    if (fds[1].revents != 0) {
      drain_wakes();
      if (stop_signal() != 0) return false;
      if (reaped()) return false;
    }
    if (fds[0].revents == 0) continue;
    char byte = 0;
    HelloTail hello{};
    if (!receive_all(peer_.socket, &byte, 1) || byte != static_cast<char>(Message::hello) ||
        !receive_all(peer_.socket, &hello, sizeof hello))
      return false;
    if (hello.version != channel::version) {
      std::fprintf(stderr,
                   "sim: error: the controller's library speaks version %u of the simulator's "
                   "link, and this simulator version %u: use the library and the simulator of "
                   "one build\n",
                   hello.version, channel::version);
      failed_ = true;
      const char refused = static_cast<char>(Answer::refused);
      send_all(peer_.socket, &refused, 1);
      return false;
    }
    try {
      shared_ = std::make_unique<SharedBlock>(settings_.world);
      world_ = std::make_unique<World>(settings_.world, settings_.output_folder, shared_->image());
      if (settings_.view) {
        window_ = world_->open_window();
        if (settings_.paused) window_->pause();
        draw_window();
      }
    } catch (const RunError &error) {
      world_.reset();
      std::fprintf(stderr, "sim: error: %s\n", error.what());
    } catch (const WorldFileError &error) {
      std::fprintf(stderr, "sim: error: %s\n", error.what());
    } catch (const std::bad_alloc &) {
      std::fprintf(stderr, "sim: error: out of memory\n");
    }
    if (!world_) {
      failed_ = true;
      const char refused = static_cast<char>(Answer::refused);
      send_all(peer_.socket, &refused, 1);
      return false;
    }
    if ((hello.flags & hello_stdout_closed) != 0 || settings_.stdout_closed)
      world_->console_lost("stdout was closed");
    last_call_ = Clock::now();
    publish_image();
    return send_with_fd(peer_.socket, static_cast<char>(Answer::go_on), shared_->fd());
  }
}

void Session::fail(const std::string &message) {
  std::fprintf(stderr, "sim: error: %s\n", message.c_str());
  failed_ = true;
  world_->finish("error: " + message, true);
}

void Session::play(const Record &record, std::string_view text) {
  World &world = *world_;
  const auto tag = static_cast<std::uint8_t>(record.a);
  switch (static_cast<Op>(record.op)) {
    case Op::live:
      world.lived();
      break;
    case Op::run:
      world.run_begins(record.a == 0);
      break;
    case Op::step_function:
      world.step_function_returned(record.a);
      break;
    case Op::step:
      if (window_ && pace_steps_) before_step();
      world.step(record.a);
      break;
    case Op::get_device: {
      const std::string name(text);
      world.get_device(record.a != 0 ? nullptr : name.c_str());
      break;
    }
    case Op::set_position:
      world.set_position(tag, record.number);
      break;
    case Op::camera_enable:
      world.enable_camera(tag, record.b);
      break;
    case Op::receiver_enable:
      world.enable_receiver(tag, record.b);
      break;
    case Op::keyboard_enable:
      world.enable_keyboard(record.a);
      break;
    case Op::get_image:
      world.camera_image(tag);
      // Where reads are seen, the read is the look, not the fetch.
      if (shared_->block().reads_watched.load(std::memory_order_relaxed) == 0) image_seen();
      break;
    case Op::get_width:
      world.camera_width(tag);
      break;
    case Op::get_height:
      world.camera_height(tag);
      break;
    case Op::get_formated_string:
      world.text_buffer();
      break;
    case Op::console_print: {
      const std::string line(text);
      world.console_print(record.a != 0 ? nullptr : line.c_str());
      break;
    }
    default:
      throw RunError("the controller's process wrote over the library's call log (a call of " +
                     std::to_string(record.op) + ", which no operation is)");
  }
}

void Session::play_log() {
  channel::Block &block = shared_->block();
  const std::uint64_t end = block.log_end.load(std::memory_order_acquire);
  const std::uint8_t *log = log_start(block);
  // The log lives in the controller's memory too: whatever it holds is read
  // as input, never trusted.
  if (end > block.log_capacity || end % 8 != 0)
    throw RunError("the controller's process wrote over the library's call log (its end, " +
                   std::to_string(end) + ", lies outside it)");
  world_->watch_reads(block.reads_watched.load(std::memory_order_acquire) != 0);
  // A read the library saw is played where the log was when it came.
  const auto read_before = [&](std::uint64_t offset) {
    const std::uint64_t read = block.read_generation.load(std::memory_order_acquire);
    if (read == read_played_ || block.read_at.load(std::memory_order_relaxed) > offset) return;
    read_played_ = read;
    if (read == world_->camera().generation()) {
      world_->image_read();
      image_seen();
    }
  };
  std::uint64_t at = 0;
  while (at < end) {
    read_before(at);
    Record record;
    if (end - at < sizeof record)
      throw RunError(
          "the controller's process wrote over the library's call log (a call cut "
          "short at byte " +
          std::to_string(at) + ")");
    std::memcpy(&record, log + at, sizeof record);
    if (record.size != padded(sizeof record + record.text_length) || record.size > end - at)
      throw RunError("the controller's process wrote over the library's call log (a call of " +
                     std::to_string(record.size) + " bytes at byte " + std::to_string(at) + ")");
    play(record, {reinterpret_cast<const char *>(log + at + sizeof record), record.text_length});
    at += record.size;
  }
  read_before(UINT64_MAX);
  // Emptied here, while the library waits: it writes from the start again.
  block.log_end.store(0, std::memory_order_release);
  last_log_end_ = 0;
}

bool Session::request_waiting() const {
  return shared_->block().requests.load(std::memory_order_acquire) > answered_;
}

bool Session::draw_waiting() const {
  const channel::Block &block = shared_->block();
  return block.draws_asked.load(std::memory_order_acquire) !=
         block.draws_done.load(std::memory_order_relaxed);
}

void Session::serve_draw() {
  channel::Block &block = shared_->block();
  const std::uint32_t asked = block.draws_asked.load(std::memory_order_acquire);
  last_call_ = Clock::now();
  world_->draw_camera();
  publish_image();
  block.draws_done.store(asked, std::memory_order_release);
  channel::wake_sleepers(block.draws_done);
}

void Session::publish_image() {
  channel::Block &block = shared_->block();
  block.image_generation.store(world_->camera().generation(), std::memory_order_release);
  block.image_outdated.store(world_->camera().outdated() ? 1u : 0u, std::memory_order_release);
}

void Session::serve_request() {
  channel::Block &block = shared_->block();
  const std::uint64_t asked = block.requests.load(std::memory_order_acquire);
  last_call_ = Clock::now();
  pace_steps_ = true;
  play_log();
  pace_steps_ = false;
  answer(asked);
}

void Session::answer(std::uint64_t asked) {
  channel::Block &block = shared_->block();
  if (world_->finished()) {
    block.exit_status.store(world_->exit_status(), std::memory_order_relaxed);
    block.over.store(1, std::memory_order_release);
    if (!over_since_) over_since_ = Clock::now();
  }
  publish_image();
  answered_ = asked;
  answered_at_ = channel::now_ns();
  block.answers.store(asked, std::memory_order_seq_cst);
  if (block.library_sleeps.load(std::memory_order_seq_cst) != 0) {
    const char wake = static_cast<char>(Answer::wake);
    send_all(peer_.socket, &wake, 1);
  }
}

Session::Next Session::on_message() {
  char byte = 0;
  if (!receive_all(peer_.socket, &byte, 1)) return Next::gone;
  last_call_ = Clock::now();
  switch (static_cast<Message>(byte)) {
    case Message::wake:
      // The request it rang for is in the block (and may be answered already).
      return Next::serve;
    case Message::big: {
      Record record{};
      if (!receive_all(peer_.socket, &record, sizeof record)) return Next::gone;
      if (record.text_length > max_big_text)
        throw RunError("the controller printed a line of " + std::to_string(record.text_length) +
                       " bytes, more than the simulator takes");
      std::string text(record.text_length, '\0');
      if (!receive_all(peer_.socket, text.data(), text.size())) return Next::gone;
      play_log();
      play(record, text);
      const char played = static_cast<char>(Answer::big_played);
      send_all(peer_.socket, &played, 1);
      return Next::serve;
    }
    case Message::exiting:
    case Message::killed: {
      std::int32_t code = 0;
      if (!receive_all(peer_.socket, &code, sizeof code)) return Next::gone;
      ended_ = Ending{static_cast<Message>(byte) == Message::exiting ? ControllerEnd::How::exited
                                                                     : ControllerEnd::How::killed,
                      code};
      return Next::gone;
    }
    default:
      throw RunError(std::string("the controller's library sent what no message is ('") + byte +
                     "')");
  }
}

bool Session::reaped() {
  // A parent is gone when this process has another.
  if (peer_.parent > 0 && !ended_ && ::getppid() != peer_.parent) ended_ = Ending{};
  if (peer_.child <= 0 || ended_) return ended_.has_value();
  int wait_status = 0;
  const pid_t got = ::waitpid(peer_.child, &wait_status, WNOHANG);
  if (got != peer_.child) return false;
  ended_ = ending_of(wait_status);
  if (!ended_) ended_ = Ending{};
  return true;
}

bool Session::reaped_within(double seconds) {
  const Clock::time_point until = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                                     std::chrono::duration<double>(seconds));
  while (!reaped()) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now());
    if (left.count() <= 0) return false;
    pollfd wake{wake_fd(), POLLIN, 0};
    ::poll(&wake, 1, static_cast<int>(std::min<long long>(left.count(), 50)));
    drain_wakes();
  }
  return true;
}

void Session::end_controller() {
  channel::Block &block = shared_->block();
  block.exit_status.store(status(), std::memory_order_relaxed);
  block.over.store(1, std::memory_order_release);
  // A library waiting for an answer gets one, or reads the end of the
  // stream, finds the run over and ends its process with the status above.
  block.answers.store(block.requests.load(std::memory_order_acquire), std::memory_order_seq_cst);
  block.draws_done.store(block.draws_asked.load(std::memory_order_acquire),
                         std::memory_order_release);
  channel::wake_sleepers(block.draws_done);
  ::shutdown(peer_.socket, SHUT_RDWR);
  if (peer_.child <= 0 || reaped_within(1.0)) return;
  ::kill(peer_.child, SIGTERM);
  if (reaped_within(2.0)) {
    std::fprintf(stderr,
                 "sim: the controller did not end by itself; it was stopped with SIGTERM\n");
    return;
  }
  ::kill(peer_.child, SIGKILL);
  reaped_within(5.0);
  std::fprintf(stderr,
               "sim: the controller did not end by itself, nor on SIGTERM; it was stopped with "
               "SIGKILL\n");
}

int Session::status() const {
  const int run = world_->exit_status();
  if (world_->stopped_by() != 0) return run;
  if (failed_) return std::max(2, run);
  if (run != 0) return run;
  if (ended_) return shell_status(*ended_);
  return 0;
}

int Session::gone(std::optional<Ending> ending) {
  World &world = *world_;
  // A child that closed its end of the link may still be on its way out.
  if (!ending && peer_.child > 0 && reaped_within(2.0)) ending = ended_;
  try {
    play_log();
  } catch (const RunError &error) {
    if (!world.finished()) fail(error.what());
  }
  if (!world.finished()) {
    // Without an ending, the controller's process closed its link (or,
    // as this process's parent, ended without a word): nothing more can
    // come from it.
    if (ending) ended_ = ending;
    const Ending told = ending.value_or(Ending{});
    world.controller_ended({told.how, told.code, world.steps_done()});
  }
  if (peer_.child > 0 && !ended_) end_controller();
  return status();
}

void Session::stuck() {
  char seconds[32];
  std::snprintf(seconds, sizeof seconds, "%g", settings_.world.stuck_after_s);
  const std::string reason = std::string("the controller made no library call for ") + seconds +
                             " s (stuck_after_s), so the run ended";
  std::fprintf(stderr, "sim: error: %s\n", reason.c_str());
  failed_ = true;
  world_->finish(reason, true);
}

int Session::run() {
  if (!greet()) {
    // Refused, stopped or gone before it said hello: nothing ran.
    if (peer_.child > 0 && !reaped()) {
      ::shutdown(peer_.socket, SHUT_RDWR);
      if (!reaped_within(1.0)) {
        ::kill(peer_.child, SIGKILL);
        reaped_within(5.0);
      }
    }
    if (stop_signal() != 0) return 128 + stop_signal();
    if (failed_) return 2;
    if (ended_) {
      std::fprintf(stderr,
                   "sim: warning: %s ended (%s) without calling the library: nothing was "
                   "simulated and nothing was written\n",
                   peer_.name.c_str(),
                   ended_->how == ControllerEnd::How::killed
                       ? signal_name(ended_->code).c_str()
                       : ("exit status " + std::to_string(ended_->code)).c_str());
      return shell_status(*ended_);
    }
    return 2;
  }
  World &world = *world_;
  const double stuck_after = settings_.world.stuck_after_s;
  channel::Block &block = shared_->block();
  try {
    for (;;) {
      if (draw_waiting()) {
        serve_draw();
        continue;
      }
      if (request_waiting()) {
        serve_request();
        continue;
      }
      // The controller's next request mostly follows its answer within
      // microseconds: watched for, it is served at once; slept for, it
      // waits for this process to be woken.
      if (!over_since_) {
        const bool came =
            channel::watch([&] { return request_waiting() || draw_waiting(); }, watch_ns_);
        const std::int64_t gap = channel::now_ns() - answered_at_;
        watch_ns_ = channel::next_watch(watch_ns_, came ? gap : std::int64_t{1} << 40);
        if (came) continue;
      }
      block.simulator_sleeps.store(1, std::memory_order_seq_cst);
      if (request_waiting() || draw_waiting()) {
        block.simulator_sleeps.store(0, std::memory_order_relaxed);
        continue;
      }
      int timeout_ms = -1;
      const Clock::time_point now = Clock::now();
      if (over_since_) {
        const double left =
            settings_.grace_s - std::chrono::duration<double>(now - *over_since_).count();
        timeout_ms = static_cast<int>(std::max(0.0, left) * 1000.0) + 1;
      } else if (stuck_after > 0.0) {
        const double left = stuck_after - std::chrono::duration<double>(now - last_call_).count();
        timeout_ms = static_cast<int>(std::max(0.0, left) * 1000.0) + 1;
      }
      pollfd fds[2] = {{peer_.socket, POLLIN, 0}, {wake_fd(), POLLIN, 0}};
      const int ready = ::poll(fds, 2, timeout_ms);
      block.simulator_sleeps.store(0, std::memory_order_relaxed);
      if (ready < 0 && errno != EINTR)
        throw RunError(std::string("waiting for the controller failed (") + std::strerror(errno) +
                       ")");
      if (fds[1].revents != 0) drain_wakes();
      if (stop_signal() != 0 && world.stopped_by() == 0 && !world.finished()) {
        play_log();
        world.stopped_by_signal();
      }
      if (world.stopped_by() != 0 || (stop_signal() != 0 && world.finished())) {
        if (!ended_) end_controller();
        return status();
      }
      if (reaped()) return gone(ended_);
      if (ready > 0 && fds[0].revents != 0 && on_message() == Next::gone) return gone(ended_);
      if (ready == 0) {
        const Clock::time_point then = Clock::now();
        if (over_since_) {
          if (std::chrono::duration<double>(then - *over_since_).count() >= settings_.grace_s) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%g", settings_.grace_s);
            std::fprintf(stderr, "sim: the controller was still running %s s after its run ended\n",
                         seconds);
            end_controller();
            return status();
          }
        } else if (stuck_after > 0.0) {
          // Calls that need no answer go into the log without a word on the
          // socket: a log that grew is a controller at work.
          const std::uint64_t log_end = shared_->block().log_end.load(std::memory_order_acquire);
          if (log_end != last_log_end_) {
            last_log_end_ = log_end;
            last_call_ = then;
          } else if (std::chrono::duration<double>(then - last_call_).count() >= stuck_after) {
            play_log();
            stuck();
            end_controller();
            return status();
          }
        }
      }
    }
  } catch (const RunError &error) {
    if (!world.finished()) fail(error.what());
  } catch (const WorldFileError &error) {
    if (!world.finished()) fail(error.what());
  } catch (const std::bad_alloc &) {
    if (!world.finished()) fail("out of memory");
  }
  if (!ended_) end_controller();
  return status();
}

}  // namespace

int serve(const SessionSettings &settings, const Peer &peer) {
  Session session(settings, peer);
  const int status = session.run();
  session.tell_frames();
  return status;
}

}  // namespace sim
