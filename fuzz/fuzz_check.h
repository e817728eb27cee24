// The one way a fuzz target fails: a message naming the broken property, then
// abort(), which libFuzzer and the replay runner both report as a crash.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {
inline void check(bool holds, const char *property) {
  if (holds) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", property);
  std::abort();
}
}  // namespace fuzz
