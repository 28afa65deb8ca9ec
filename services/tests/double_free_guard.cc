// Linked into a test program, this replaces the global allocation functions
// with ones that tag every live block: freeing a block twice, or one that
// never came from them, aborts the program instead of passing quietly.
// Freed blocks are parked, and a new block of a parked size gets the newest
// such block back, as a heap's free lists would: code that tells objects
// apart by address meets the reuse every time, not by chance.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr uint64_t kLive = 0x4C495645424C4F43;
constexpr int kParkedLimit = 64;
uint64_t* g_parked[kParkedLimit];  // each: tag, size, then the caller's bytes
int g_parked_count = 0;

void* Allocate(size_t size) {
  uint64_t* block = nullptr;
  for (int i = g_parked_count - 1; i >= 0 && block == nullptr; --i) {
    if (g_parked[i][1] == size) {
      block = g_parked[i];
      g_parked[i] = g_parked[--g_parked_count];
    }
  }
  if (block == nullptr) block = static_cast<uint64_t*>(std::malloc(size + 16));
  if (block == nullptr) throw std::bad_alloc();
  block[0] = kLive;
  block[1] = size;
  return block + 2;
}

void Release(void* pointer) {
  if (pointer == nullptr) return;
  uint64_t* block = static_cast<uint64_t*>(pointer) - 2;
  if (block[0] != kLive) {
    std::fprintf(stderr, "double free or foreign free of %p\n", pointer);
    std::fflush(stderr);
    std::abort();
  }
  block[0] = 0;
  if (g_parked_count == kParkedLimit) {
    std::free(g_parked[0]);
    g_parked[0] = g_parked[--g_parked_count];
  }
  g_parked[g_parked_count++] = block;
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
