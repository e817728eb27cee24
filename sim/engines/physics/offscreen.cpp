#include "sim/engines/physics/offscreen.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>

#include <cstdio>
#include <cstdlib>

#include "sim/core/errors.h"
#include "sim/engines/physics/driver_allocations.h"

namespace sim {

namespace {
constexpr const char *renderer_threads = "LP_NUM_THREADS";

[[noreturn]] void unavailable(const char *what) {
  char code[16];
  std::snprintf(code, sizeof code, "0x%04x", static_cast<unsigned>(eglGetError()));
  throw RunError(
      std::string("the physics engine's camera needs offscreen OpenGL through EGL, and ") + what +
      " (EGL error " + code +
      "); install Mesa's EGL and software renderer (Debian: libegl1 libegl-mesa0 "
      "libgl1-mesa-dri), or use engine = \"kinematic\"");
}
}  // namespace

OffscreenContext::OffscreenContext() {
  try {
    open();
  } catch (...) {
    close();
    throw;
  }
}

OffscreenContext::~OffscreenContext() { close(); }

OffscreenContext &OffscreenContext::shared() {
  // Never destroyed: the driver's own clean-up at exit runs after it.
  static OffscreenContext *const context = new OffscreenContext();
  context->make_current();
  return *context;
}

void OffscreenContext::make_current() {
  if (eglGetCurrentContext() == context_) return;
  if (eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, context_) != EGL_TRUE)
    unavailable("the context could not be made current");
}

void OffscreenContext::open() {
  const DriverAllocations driver;
  // Mesa's software renderer draws on as many threads as there are cores,
  // unless told otherwise when its display starts. The images here are small
  // (the video's frames are 640 x 480, the head camera's views 160 pixels a
  // side): handing their tiles to other threads costs more processor time
  // than it saves, twice the time of one thread for a video frame, and sweeps
  // already keep every core busy with worlds of their own. One thread, unless
  // the user chose.
  const bool threads_chosen = std::getenv(renderer_threads) != nullptr;
  if (!threads_chosen) ::setenv(renderer_threads, "0", 1);
  struct Unchoose {
    bool chosen;
    ~Unchoose() {
      // Only this display: a window opened later draws as Mesa would.
      if (!chosen) ::unsetenv(renderer_threads);
    }
  } const unchoose{threads_chosen};
  // Surfaceless: no X server, no GPU, no window; Mesa renders in software.
  auto get_platform_display = reinterpret_cast<PFNEGLGETPLATFORMDISPLAYEXTPROC>(
      eglGetProcAddress("eglGetPlatformDisplayEXT"));
  if (get_platform_display == nullptr) unavailable("eglGetPlatformDisplayEXT is missing");
  EGLDisplay display =
      get_platform_display(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
  if (display == EGL_NO_DISPLAY) unavailable("no surfaceless display could be opened");
  EGLint major = 0;
  EGLint minor = 0;
  if (eglInitialize(display, &major, &minor) != EGL_TRUE)
    unavailable("the surfaceless display could not be initialised");
  display_ = display;

  const EGLint attributes[] = {EGL_RED_SIZE,
                               8,
                               EGL_GREEN_SIZE,
                               8,
                               EGL_BLUE_SIZE,
                               8,
                               EGL_ALPHA_SIZE,
                               8,
                               EGL_DEPTH_SIZE,
                               24,
                               EGL_SURFACE_TYPE,
                               EGL_PBUFFER_BIT,
                               EGL_RENDERABLE_TYPE,
                               EGL_OPENGL_BIT,
                               EGL_NONE};
  EGLConfig config = nullptr;
  EGLint configs = 0;
  if (eglChooseConfig(display, attributes, &config, 1, &configs) != EGL_TRUE || configs < 1)
    unavailable("it offers no 8-bit RGBA configuration with a depth buffer");
  if (eglBindAPI(EGL_OPENGL_API) != EGL_TRUE) unavailable("desktop OpenGL is not available");
  EGLContext context = eglCreateContext(display, config, EGL_NO_CONTEXT, nullptr);
  if (context == EGL_NO_CONTEXT) unavailable("no OpenGL context could be made");
  context_ = context;
  if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context) != EGL_TRUE)
    unavailable("the context could not be made current");
}

void OffscreenContext::close() {
  if (display_ == nullptr) return;
  eglMakeCurrent(display_, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
  if (context_ != nullptr) eglDestroyContext(display_, context_);
  eglTerminate(display_);
  display_ = nullptr;
  context_ = nullptr;
}

}  // namespace sim
