// The link between a controller's process and the simulator's: what crosses
// it and how it is laid out. Both sides include this; neither knows the
// other's code.
//
// The simulator makes one shared memory block and hands it over the socket
// when the controller says hello. It holds the camera image, refreshed in
// place at every step; the device table, so device look-ups and camera sizes
// are answered without a round trip; and the call log, where the library
// writes every call as a record. A record is committed (its end published)
// only when whole, so after a crash the simulator still reads every call the
// controller made.
//
// A call that needs the simulator's answer (a step, a step function's
// return) is a request: the library counts it up in the block, the simulator
// plays every record logged since and counts its answer up to match. Each
// side waits for the other by watching the block for a moment (a step of the
// kinematic engine takes well under a microsecond, and waking a sleeping
// process many times that), then sleeps on the socket, having said so in the
// block: the other side then sends one byte to wake it. The socket also
// carries the hello, records too long for the log, and last words.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

namespace sim::channel {

inline constexpr std::uint32_t magic = 0x52454331;  // "REC1"
inline constexpr std::uint32_t version = 1;

// The environment variable through which a simulator tells the library it
// started, which socket to talk on.
inline constexpr const char *channel_variable = "SIM_CHANNEL";

// A library call, as logged.
enum class Op : std::uint16_t {
  live = 1,
  run,
  step_function,  // a step function call returned; a = its result
  step,           // a = ms
  get_device,     // text = the name; a = 1 when the name was a null pointer
  set_position,   // a = tag, number = position
  camera_enable,  // a = tag, b = ms
  receiver_enable,
  keyboard_enable,  // a = ms
  get_image,        // a = tag
  get_width,
  get_height,
  get_formated_string,
  console_print,  // text; a = 1 when the text was a null pointer
};

// One logged call: a fixed head, then the text (no terminating zero), padded
// to 8 bytes.
struct Record {
  std::uint32_t size;  // bytes, head and padded text
  std::uint16_t op;
  std::uint16_t reserved;
  std::int32_t a;
  std::int32_t b;
  float number;
  std::uint32_t text_length;
};
static_assert(sizeof(Record) == 24);

inline constexpr std::size_t padded(std::size_t bytes) { return (bytes + 7u) & ~std::size_t{7}; }

// What the socket carries from the library to the simulator: one byte a
// message, with a fixed tail for some.
enum class Message : char {
  hello = 'H',  // + HelloTail
  wake = 'S',   // a request is waiting in the block
  big = 'B',    // + a Record whose text did not fit the log, sent whole on the socket
  // Last words, from the library's own handlers when the simulator is its
  // child and cannot see how it ends: + std::int32_t
  exiting = 'E',  // the exit status
  killed = 'K',   // the signal
};
struct HelloTail {
  std::int32_t pid;
  std::uint32_t version;
  std::uint32_t flags;  // hello_stdout_closed, or 0
};
// hello's flags: the controller's stdout was closed when the library started,
// so its console is lost from the first line.
inline constexpr std::uint32_t hello_stdout_closed = 1;

// The simulator's answer to the hello, and the byte that wakes a library
// waiting for an answer (which is in the block).
enum class Answer : char {
  go_on = 'g',
  refused = 'r',  // the hello was refused: the simulator already said why on stderr
  wake = 'a',
  big_played = 'b',  // a record sent whole on the socket has been played
};

enum class DeviceKind : std::uint8_t { none = 0, receiver, joint, camera };

inline constexpr std::size_t device_slots = 32;
inline constexpr std::size_t device_name_bytes = 64;

struct DeviceEntry {
  char name[device_name_bytes];  // zero-terminated
  DeviceKind kind;
};

// The block's head; the call log and the image follow it, each at an offset
// of its own (the image on a page boundary of its own).
struct Block {
  std::uint32_t magic;
  std::uint32_t version;
  std::uint64_t size;  // bytes of the whole block
  std::uint64_t log_offset;
  std::uint64_t log_capacity;
  std::uint64_t image_offset;
  std::uint32_t width;
  std::uint32_t height;
  std::uint32_t image_available;  // camera_get_image gives the image, or a null pointer
  std::uint32_t device_count;
  DeviceEntry devices[device_slots];  // tag t > 0 is devices[t - 1]

  // Written by the library: bytes of whole records in the log, the requests
  // made, and whether it sleeps waiting for an answer.
  alignas(64) std::atomic<std::uint64_t> log_end;
  std::atomic<std::uint64_t> requests;
  std::atomic<std::uint32_t> library_sleeps;
  // Written by the simulator: the requests answered, whether it sleeps
  // waiting for one, and once the run is over, that it is and the status the
  // controller's process should end with.
  alignas(64) std::atomic<std::uint64_t> answers;
  std::atomic<std::uint32_t> simulator_sleeps;
  std::atomic<std::int32_t> over;
  std::atomic<std::int32_t> exit_status;
  // Counts the camera image's changes: equal counts, equal images.
  std::atomic<std::uint64_t> image_generation;

  // Reads of the camera's image, seen by the library through the image's
  // page protection: whether it watches them, and the last image read (its
  // generation) and where the log was when it was read.
  alignas(64) std::atomic<std::uint32_t> reads_watched;
  std::atomic<std::uint64_t> read_generation;
  std::atomic<std::uint64_t> read_at;
};
static_assert(std::atomic<std::uint64_t>::is_always_lock_free);

inline std::uint8_t *log_start(Block &block) {
  return reinterpret_cast<std::uint8_t *>(&block) + block.log_offset;
}
inline unsigned char *image_start(Block &block) {
  return reinterpret_cast<unsigned char *>(&block) + block.image_offset;
}

// The tag of a device name in the block's table, 0 for none.
inline std::uint8_t tag_of(const Block &block, std::string_view name) {
  for (std::uint32_t i = 0; i < block.device_count && i < device_slots; ++i) {
    const char *entry = block.devices[i].name;
    if (name.size() < device_name_bytes && std::strlen(entry) == name.size() &&
        std::memcmp(entry, name.data(), name.size()) == 0)
      return static_cast<std::uint8_t>(i + 1);
  }
  return 0;
}
inline DeviceKind kind_of(const Block &block, std::uint8_t tag) {
  if (tag == 0 || tag > block.device_count || tag > device_slots) return DeviceKind::none;
  return block.devices[tag - 1].kind;
}

// Watches `ready` for up to `budget_ns` nanoseconds, pausing the processor
// between looks; true as soon as it holds.
template <typename Ready>
bool watch(Ready ready, std::int64_t budget_ns);

// How long to watch next time, after a wait that took `took` ns: twice that
// when it was short (at least 10 us, so that a hiccup does not send a side to
// sleep), and after a long one half the last budget (at least 5 us), so that
// a side whose answers take a millisecond, a physics step, soon watches next
// to nothing.
inline std::int64_t next_watch(std::int64_t last, std::int64_t took) {
  if (took < 50'000) return std::clamp<std::int64_t>(2 * took, 10'000, 100'000);
  return std::max<std::int64_t>(last / 2, 5'000);
}

// A monotonic clock, in nanoseconds.
std::int64_t now_ns();

// Writes all of `bytes` to a socket, retrying after signals. False when the
// other side is gone.
bool send_all(int fd, const void *bytes, std::size_t count);
// Reads exactly `count` bytes, retrying after signals. False at the end of
// the stream or on an error.
bool receive_all(int fd, void *bytes, std::size_t count);
// Sends one byte with a file descriptor attached (SCM_RIGHTS).
bool send_with_fd(int socket, char byte, int fd);
// Receives one byte and the file descriptor attached to it, if any (-1).
bool receive_with_fd(int socket, char &byte, int &fd);

template <typename Ready>
bool watch(Ready ready, std::int64_t budget_ns) {
  if (ready()) return true;
  if (budget_ns <= 0) return false;
  const std::int64_t until = now_ns() + budget_ns;
  for (;;) {
    for (int i = 0; i < 64; ++i) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#elif defined(__aarch64__)
      asm volatile("yield");
#endif
      if (ready()) return true;
    }
    if (now_ns() >= until) return ready();
  }
}

}  // namespace sim::channel
