// The controller's step function never touches the heap: this test binary
// replaces the C allocation functions (operator new ends in them too) with
// counting ones, and runs whole cycles of the real step function against the
// fake library with a camera image that holds a target window.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "reacher/reacher.h"
#include "tests/controller/fake_controller.h"
#include "vision/red_measures.h"

#if defined(__SANITIZE_ADDRESS__)
#define REACHER_ASAN 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define REACHER_ASAN 1
#endif
#endif

namespace {
// Only calls made while this is set are counted; one thread runs everything.
bool counting = false;
long allocations = 0;

// Allocations made by whatever runs between the constructor and destructor.
class AllocationCount {
 public:
  AllocationCount() {
    allocations = 0;
    counting = true;
  }
  ~AllocationCount() { counting = false; }
  AllocationCount(const AllocationCount &) = delete;
  AllocationCount &operator=(const AllocationCount &) = delete;
  long so_far() const { return allocations; }
};
}  // namespace

#ifndef REACHER_ASAN
namespace {
void note_allocation() {
  if (counting) ++allocations;
}
}  // namespace

// glibc's own entry points, which its malloc family forwards to.
extern "C" {
void *__libc_malloc(std::size_t size);
void *__libc_calloc(std::size_t count, std::size_t size);
void *__libc_realloc(void *pointer, std::size_t size);
void *__libc_memalign(std::size_t alignment, std::size_t size);

void *malloc(std::size_t size) noexcept {
  note_allocation();
  return __libc_malloc(size);
}
void *calloc(std::size_t count, std::size_t size) noexcept {
  note_allocation();
  return __libc_calloc(count, size);
}
void *realloc(void *pointer, std::size_t size) noexcept {
  note_allocation();
  return __libc_realloc(pointer, size);
}
void *aligned_alloc(std::size_t alignment, std::size_t size) noexcept {
  note_allocation();
  return __libc_memalign(alignment, size);
}
int posix_memalign(void **out, std::size_t alignment, std::size_t size) noexcept {
  note_allocation();
  void *pointer = __libc_memalign(alignment, size);
  if (pointer == nullptr) return ENOMEM;
  *out = pointer;
  return 0;
}
}
#endif

namespace {

constexpr uint16_t side = 160;        // pixels
constexpr int32_t cycle_steps = 119;  // rest 14, search 43, head turn 21, reach 41
constexpr int cycles = 4;             // right, left, right, left

// Floor everywhere, and one 7 x 7 window of the target's red level, so every
// search sees red and every call of the step function is a whole cycle with
// a table look-up and a solve of the reach.
std::vector<unsigned char> image_with_target() {
  std::vector<unsigned char> image(std::size_t{side} * side * bytes_per_pixel, 20);
  for (int32_t y = 90; y < 90 + ag; ++y)
    for (int32_t x = 60; x < 60 + ad; ++x)
      image[(std::size_t(y) * side + std::size_t(x)) * bytes_per_pixel] = TARGET_RED_LEVEL;
  return image;
}

class NoHeap : public ::testing::Test {
 protected:
  void SetUp() override {
#ifdef REACHER_ASAN
    GTEST_SKIP() << "AddressSanitizer owns malloc; the allocation count needs a plain build";
#endif
    fake::reset();
    fake::record_console(false);  // the recording fake would allocate itself
  }
  void TearDown() override { fake::reset(); }
};

TEST_F(NoHeap, CountsAllocationsOfCPlusPlusAndC) {
  // Without this, a replacement that the linker ignored would make the next
  // test pass for nothing.
  AllocationCount count;
  auto *volatile vector = new std::vector<int>(100);
  delete vector;
  void *volatile block = std::malloc(64);
  std::free(block);
  EXPECT_GE(count.so_far(), 3);
}

TEST_F(NoHeap, StepFunctionAllocatesNothingOverWholeCycles) {
  const std::vector<unsigned char> image = image_with_target();
  fake::set_camera(image.data(), side, side);
  init();
  for (int cycle = 0; cycle < cycles; ++cycle) {
    const std::int64_t before = fake::steps();
    long allocated = 0;
    {
      AllocationCount count;
      run_kinematic();
      allocated = count.so_far();
    }
    EXPECT_EQ(allocated, 0) << "cycle " << cycle;
    EXPECT_EQ(fake::steps() - before, cycle_steps) << "cycle " << cycle << " was not whole";
    EXPECT_EQ(mode, MODE_INIT);
  }
  EXPECT_EQ(e, cycles);
}

}  // namespace
