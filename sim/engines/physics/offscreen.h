// An OpenGL context with no window and no display: EGL on Mesa's surfaceless
// platform, software-rendered, made once per process and kept: a batch of
// worlds pays for loading the driver and compiling its shaders once.
#pragma once

#include <string>

namespace sim {

class OffscreenContext {
 public:
  // Makes the context current on this thread. Throws RunError, saying what to
  // install, on a machine where it cannot.
  OffscreenContext();
  ~OffscreenContext();
  // The process's context, made at the first call and current on the
  // calling thread. Throws RunError as the constructor does; a later call
  // tries again.
  static OffscreenContext &shared();
  OffscreenContext(const OffscreenContext &) = delete;
  OffscreenContext &operator=(const OffscreenContext &) = delete;

 private:
  void open();
  void close();
  void make_current();
  void *display_ = nullptr;  // EGLDisplay
  void *context_ = nullptr;  // EGLContext
};

}  // namespace sim
