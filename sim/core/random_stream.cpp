#include "sim/core/random_stream.h"

#include <cmath>

namespace sim {

namespace {

std::uint64_t rotl(std::uint64_t x, int k) { return (x << k) | (x >> (64 - k)); }

// The ziggurat's 128 layers of equal area under the normal density
// (Marsaglia and Tsang, 2000): layer i's right edge x[i], with x[0] the
// base's equivalent width, and the density at each edge.
struct Ziggurat {
  static constexpr int layers = 128;
  static constexpr double tail = 3.442619855899;       // x where the tail begins
  static constexpr double area = 9.91256303526217e-3;  // of each layer
  std::array<double, layers + 1> x{};
  std::array<double, layers + 1> density{};
  Ziggurat() {
    x[0] = area / std::exp(-0.5 * tail * tail);
    x[1] = tail;
    for (int i = 2; i < layers; ++i)
      x[static_cast<std::size_t>(i)] =
          std::sqrt(-2.0 * std::log(area / x[static_cast<std::size_t>(i - 1)] +
                                    std::exp(-0.5 * x[static_cast<std::size_t>(i - 1)] *
                                             x[static_cast<std::size_t>(i - 1)])));
    x[layers] = 0.0;
    for (std::size_t i = 0; i <= layers; ++i) density[i] = std::exp(-0.5 * x[i] * x[i]);
  }
};

const Ziggurat &ziggurat() {
  static const Ziggurat table;
  return table;
}

}  // namespace

std::uint64_t splitmix(std::uint64_t &state) {
  std::uint64_t z = (state += 0x9e3779b97f4a7c15ull);
  z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
  z = (z ^ (z >> 27)) * 0x94d049bb133111ebull;
  return z ^ (z >> 31);
}

RandomStream::RandomStream(std::uint64_t seed) {
  for (std::uint64_t &word : state_) word = splitmix(seed);
}

std::uint64_t RandomStream::next() {
  const std::uint64_t result = rotl(state_[1] * 5, 7) * 9;
  const std::uint64_t t = state_[1] << 17;
  state_[2] ^= state_[0];
  state_[3] ^= state_[1];
  state_[1] ^= state_[2];
  state_[0] ^= state_[3];
  state_[2] ^= t;
  state_[3] = rotl(state_[3], 45);
  return result;
}

double RandomStream::uniform() {
  // 53 random bits, and half a step above 0.
  return (static_cast<double>(next() >> 11) + 0.5) * 0x1.0p-53;
}

double RandomStream::normal() {
  const Ziggurat &z = ziggurat();
  for (;;) {
    // The layer, the side and the point across the layer from separate bits.
    const std::uint64_t bits = next();
    const auto layer = static_cast<std::size_t>(bits & 127u);
    const double sign = (bits & 128u) != 0 ? -1.0 : 1.0;
    const double across = static_cast<double>(bits >> 11) * 0x1.0p-53;  // [0, 1)
    const std::size_t i = layer;
    // Layer i spans x from 0 to x[i] and the density from density[i] up to
    // density[i + 1]: a point left of x[i + 1] lies wholly under the curve,
    // as it mostly does.
    const double u = across * z.x[i];
    if (u < z.x[i + 1]) return sign * u;
    if (i == 0) {
      // The base's part beyond the tail's start stands for the tail itself.
      double tail_x = 0.0, y = 0.0;
      do {
        tail_x = -std::log(uniform()) / Ziggurat::tail;
        y = -std::log(uniform());
      } while (y + y < tail_x * tail_x);
      return sign * (Ziggurat::tail + tail_x);
    }
    // The wedge between the layer's rectangle and the curve.
    const double height = z.density[i] + uniform() * (z.density[i + 1] - z.density[i]);
    if (height < std::exp(-0.5 * u * u)) return sign * u;
  }
}

}  // namespace sim
