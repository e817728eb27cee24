// An OpenGL context with no window and no display: EGL on Mesa's surfaceless
// platform, software-rendered, made once per run. Nothing else in the stand-in
// includes EGL or GL.
#pragma once

#include <string>

namespace sim {

class OffscreenContext {
 public:
  // Makes the context current on this thread. Throws RunError, saying what to
  // install, on a machine where it cannot.
  OffscreenContext();
  ~OffscreenContext();
  OffscreenContext(const OffscreenContext &) = delete;
  OffscreenContext &operator=(const OffscreenContext &) = delete;

 private:
  void open();
  void close();
  void *display_ = nullptr;  // EGLDisplay
  void *context_ = nullptr;  // EGLContext
};

}  // namespace sim
