// The OpenGL driver's own allocations. Mesa's software renderer keeps memory
// it allocates while making contexts and drawing for the life of the process
// and loses some of it on the way; that is the driver's, not ours, and its
// code has no frame pointers, so LeakSanitizer cannot tell it apart from a
// leak of ours by the allocation's stack. Under AddressSanitizer, the calls
// into the driver are made with leak detection off; elsewhere this is
// nothing.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
#define REACHER_LEAK_CHECKED 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REACHER_LEAK_CHECKED 1
#endif
#endif

#ifdef REACHER_LEAK_CHECKED
#include <sanitizer/lsan_interface.h>
#endif

namespace sim {

class DriverAllocations {
 public:
#ifdef REACHER_LEAK_CHECKED
  DriverAllocations() { __lsan_disable(); }
  ~DriverAllocations() { __lsan_enable(); }
#else
  // Written out, so a scope that holds one is no unused variable.
  DriverAllocations() {}
  ~DriverAllocations() {}
#endif
  DriverAllocations(const DriverAllocations &) = delete;
  DriverAllocations &operator=(const DriverAllocations &) = delete;
};

}  // namespace sim
