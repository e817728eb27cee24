// The controller library's C functions: each one hands over to this process's
// world, created at the first call. This is the one place where the stand-in
// reports an error that stops the run and where it ends the process: no
// exception ever crosses into the controller.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "controller_api/controller.h"
#include "sim/core/errors.h"
#include "sim/system/signals.h"
#include "sim/world/spelling.h"
#include "sim/world/world.h"
#include "sim/world/world_file.h"

extern char **environ;

#define SIM_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

std::unique_ptr<sim::World> world;

// A run still going when the process exits was cut short (finish does
// nothing for one that already ended).
void finish_at_exit() {
  if (world) world->finish("the controller ended the process", true);
}

// A closed stdout or stderr would hand its number to the next file opened,
// and console lines would land in the trace. /dev/null takes the place, and
// a closed stdout means the console is lost from the start.
bool keep_standard_streams_apart() {
  bool stdout_closed = false;
  for (const int fd : {STDOUT_FILENO, STDERR_FILENO}) {
    if (::fcntl(fd, F_GETFD) != -1) continue;
    const int null = ::open("/dev/null", O_WRONLY);
    if (null >= 0 && null != fd) {
      ::dup2(null, fd);
      ::close(null);
    }
    if (fd == STDOUT_FILENO) stdout_closed = true;
  }
  return stdout_closed;
}

// The stand-in reads SIM_WORLD and SIM_OUTPUT and nothing else: a variable
// of the same family that it does not read is most likely a typing slip, and
// a run that silently ignored it would use another world or folder.
void warn_of_unread_variables() {
  const std::vector<std::string> read = {"SIM_WORLD", "SIM_OUTPUT"};
  for (char **entry = environ; *entry != nullptr; ++entry) {
    const std::string_view variable(*entry);
    const std::string name(variable.substr(0, variable.find('=')));
    if (!name.starts_with("SIM_") || name == read[0] || name == read[1]) continue;
    const std::optional<std::string> meant = sim::nearest_word(name, read);
    std::fprintf(stderr, "sim: warning: %s is not read; %s\n", name.c_str(),
                 meant ? ("did you mean " + *meant + "?").c_str()
                       : "the stand-in reads only SIM_WORLD and SIM_OUTPUT");
  }
}

sim::WorldConfig configured_world() {
  const char *path = std::getenv("SIM_WORLD");
  if (path != nullptr && *path != '\0') return sim::load_world_file(path);
  return sim::default_world();
}

sim::World &the_world() {
  if (!world) {
    const bool stdout_closed = keep_standard_streams_apart();
    sim::catch_stop_signals();
    warn_of_unread_variables();
    const char *output = std::getenv("SIM_OUTPUT");
    world = std::make_unique<sim::World>(configured_world(), output != nullptr ? output : "");
    if (stdout_closed) world->console_lost("stdout was closed");
    std::atexit(finish_at_exit);
  }
  return *world;
}

[[noreturn]] void fail(const std::string &message) {
  std::fprintf(stderr, "sim: error: %s\n", message.c_str());
  if (world) {
    world->finish("error: " + message, true);
    std::exit(std::max(2, world->exit_status()));
  }
  std::exit(2);
}

// Runs one library operation; an error that stops the run is reported once
// and ends the process with status 2, its outputs completed and marked.
template <typename Operation>
auto guarded(Operation operation) {
  try {
    return operation(the_world());
  } catch (const sim::WorldFileError &error) {
    fail(error.what());
  } catch (const sim::RunError &error) {
    fail(error.what());
  } catch (const std::bad_alloc &) {
    fail("out of memory");
  }
}

}  // namespace

SIM_EXPORT void robot_live(void (*init)(void)) {
  guarded([&](sim::World &w) { w.live(init); });
}
SIM_EXPORT void robot_run(int (*step)(void)) {
  guarded([&](sim::World &w) {
    w.run(step);
    // A run that went well returns to the controller, whose main then
    // returns; one that lost an output or was stopped by a signal ends here,
    // with a status that says so.
    if (w.exit_status() != 0) std::exit(w.exit_status());
  });
}
SIM_EXPORT int robot_step(int32_t ms) {
  return guarded([&](sim::World &w) {
    // The simulator ends the controller when its steps are done, as a real
    // one does when it stops.
    if (!w.step(ms)) std::exit(w.exit_status());
    return 0;
  });
}
SIM_EXPORT DeviceTag robot_get_device(const char *name) {
  return guarded([&](sim::World &w) { return w.get_device(name); });
}
SIM_EXPORT void servo_set_position(DeviceTag servo, float position) {
  guarded([&](sim::World &w) { w.set_position(servo, position); });
}
SIM_EXPORT void camera_enable(DeviceTag camera, int32_t ms) {
  guarded([&](sim::World &w) { w.enable_camera(camera, ms); });
}
SIM_EXPORT void receiver_enable(DeviceTag receiver, int32_t ms) {
  guarded([&](sim::World &w) { w.enable_receiver(receiver, ms); });
}
SIM_EXPORT void robot_keyboard_enable(int32_t ms) {
  guarded([&](sim::World &w) { w.enable_keyboard(ms); });
}
SIM_EXPORT const unsigned char *camera_get_image(DeviceTag camera) {
  return guarded([&](sim::World &w) { return w.camera_image(camera); });
}
SIM_EXPORT uint16_t camera_get_width(DeviceTag camera) {
  return guarded([&](sim::World &w) { return w.camera_width(camera); });
}
SIM_EXPORT uint16_t camera_get_height(DeviceTag camera) {
  return guarded([&](sim::World &w) { return w.camera_height(camera); });
}
SIM_EXPORT char *robot_get_formated_string(void) {
  return guarded([&](sim::World &w) { return w.text_buffer(); });
}
SIM_EXPORT void robot_console_print(const char *text) {
  guarded([&](sim::World &w) { w.console_print(text); });
}
