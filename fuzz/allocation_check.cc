// Replaces the global operator new and delete to count the bytes an input
// holds live; every form goes through malloc, so the sanitizers and
// libFuzzer's own malloc hooks still see each block.
#include <malloc.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>

#include "fuzz/fuzz_support.h"

namespace fuzz {
namespace {

// Only the thread running an input counts; libFuzzer's own threads and
// whatever runs between inputs leave the figures alone.
thread_local bool g_counting = false;
// Signed: a block allocated before the input began and freed during it
// takes the live total below its start.
int64_t g_live = 0;
int64_t g_peak = 0;
size_t g_input_size = 0;
size_t g_bound = 0;

// The input that came closest to its bound, printed when the process ends
// so that a run reports how much room the decoder left.
struct Closest {
  int64_t peak = 0;
  size_t input_size = 0;
  size_t bound = 1;
} g_closest;

size_t BoundFor(size_t input_size) {
  constexpr size_t kMax = std::numeric_limits<size_t>::max();
  if (input_size > (kMax - kLiveBytesFixed) / kLiveBytesPerInputByte) {
    return kMax;
  }
  return kLiveBytesPerInputByte * input_size + kLiveBytesFixed;
}

void PrintClosest() {
  if (g_closest.input_size == 0 && g_closest.peak == 0) {
    return;
  }
  std::fprintf(stderr,
               "allocation check: closest to the bound, %lld bytes live at "
               "peak for a %zu-byte input (bound %zu, %.1f%% of it)\n",
               static_cast<long long>(g_closest.peak), g_closest.input_size,
               g_closest.bound, 100.0 * g_closest.peak / g_closest.bound);
}

// Called before each allocation of |size| bytes on the counting thread.
void Charge(size_t size) {
  const int64_t after = g_live + static_cast<int64_t>(size);
  if (after > g_peak) {
    g_peak = after;
  }
  if (g_peak > 0 && static_cast<size_t>(g_peak) > g_bound) {
    g_counting = false;
    std::fprintf(stderr,
                 "allocation check: %lld bytes live at peak for a %zu-byte "
                 "input exceed the bound %zu * %zu + %zu = %zu bytes\n",
                 static_cast<long long>(g_peak), g_input_size,
                 kLiveBytesPerInputByte, g_input_size, kLiveBytesFixed,
                 g_bound);
    std::abort();
  }
}

void* Allocate(size_t size, size_t alignment) {
  if (g_counting) {
    Charge(size);
  }
  void* block = nullptr;
  if (alignment <= alignof(std::max_align_t)) {
    block = std::malloc(size == 0 ? 1 : size);
  } else if (posix_memalign(&block, alignment, size == 0 ? 1 : size) != 0) {
    block = nullptr;
  }
  if (block != nullptr && g_counting) {
    // What free will give back, which may round |size| up.
    g_live += static_cast<int64_t>(malloc_usable_size(block));
  }
  return block;
}

void* AllocateOrThrow(size_t size, size_t alignment) {
  void* block = Allocate(size, alignment);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  return block;
}

void Release(void* block) {
  if (block == nullptr) {
    return;
  }
  if (g_counting) {
    g_live -= static_cast<int64_t>(malloc_usable_size(block));
  }
  std::free(block);
}

}  // namespace

AllocationCheck::AllocationCheck(size_t input_size) {
  static const bool registered = std::atexit(PrintClosest) == 0;
  (void)registered;
  g_live = 0;
  g_peak = 0;
  g_input_size = input_size;
  g_bound = BoundFor(input_size);
  g_counting = true;
}

AllocationCheck::~AllocationCheck() {
  g_counting = false;
  // Compares peak / bound without dividing.
  if (static_cast<double>(g_peak) * g_closest.bound >=
      static_cast<double>(g_closest.peak) * g_bound) {
    g_closest = {g_peak, g_input_size, g_bound};
  }
}

}  // namespace fuzz

// The replaceable forms, all through the counting pair above.
void* operator new(size_t size) { return fuzz::AllocateOrThrow(size, 0); }
void* operator new[](size_t size) { return fuzz::AllocateOrThrow(size, 0); }
void* operator new(size_t size, const std::nothrow_t&) noexcept {
  return fuzz::Allocate(size, 0);
}
void* operator new[](size_t size, const std::nothrow_t&) noexcept {
  return fuzz::Allocate(size, 0);
}
void* operator new(size_t size, std::align_val_t alignment) {
  return fuzz::AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment) {
  return fuzz::AllocateOrThrow(size, static_cast<size_t>(alignment));
}
void* operator new(size_t size, std::align_val_t alignment,
                   const std::nothrow_t&) noexcept {
  return fuzz::Allocate(size, static_cast<size_t>(alignment));
}
void* operator new[](size_t size, std::align_val_t alignment,
                     const std::nothrow_t&) noexcept {
  return fuzz::Allocate(size, static_cast<size_t>(alignment));
}

void operator delete(void* block) noexcept { fuzz::Release(block); }
void operator delete[](void* block) noexcept { fuzz::Release(block); }
void operator delete(void* block, size_t) noexcept { fuzz::Release(block); }
void operator delete[](void* block, size_t) noexcept { fuzz::Release(block); }
void operator delete(void* block, const std::nothrow_t&) noexcept {
  fuzz::Release(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
  fuzz::Release(block);
}
void operator delete(void* block, std::align_val_t) noexcept {
  fuzz::Release(block);
}
void operator delete[](void* block, std::align_val_t) noexcept {
  fuzz::Release(block);
}
void operator delete(void* block, size_t, std::align_val_t) noexcept {
  fuzz::Release(block);
}
void operator delete[](void* block, size_t, std::align_val_t) noexcept {
  fuzz::Release(block);
}
void operator delete(void* block, std::align_val_t,
                     const std::nothrow_t&) noexcept {
  fuzz::Release(block);
}
void operator delete[](void* block, std::align_val_t,
                       const std::nothrow_t&) noexcept {
  fuzz::Release(block);
}
