// A 64-bit random stream (xoshiro256**, seeded through splitmix64) and the
// distributions the stand-in draws from it: the same numbers for the same
// seed on every machine, unlike the standard library's distributions, so a
// seeded run or map is the same wherever it is made.
#pragma once

#include <array>
#include <cstdint>

namespace sim {

class RandomStream {
 public:
  explicit RandomStream(std::uint64_t seed);
  std::uint64_t next();
  // Uniform in (0, 1), never 0 or 1.
  double uniform();
  // Standard normal (ziggurat method): mean 0, sigma 1.
  double normal();

 private:
  std::array<std::uint64_t, 4> state_{};
};

// One step of splitmix64: a well-mixed 64-bit number from a counter, for
// seeds derived from seeds.
std::uint64_t splitmix(std::uint64_t &state);

}  // namespace sim
