// Linked into a test program, this replaces the global allocation functions
// with ones that tag every live block: freeing a block twice, or one that
// never came from them, aborts the program instead of passing quietly.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <new>

namespace {

constexpr uint64_t kLive = 0x4C495645424C4F43;  // stays in the header
constexpr size_t kHeader = 16;                  // keeps the block's alignment

void* Allocate(size_t size) {
  auto* block = static_cast<uint64_t*>(std::malloc(size + kHeader));
  if (block == nullptr) throw std::bad_alloc();
  *block = kLive;
  return reinterpret_cast<char*>(block) + kHeader;
}

void Release(void* pointer) {
  if (pointer == nullptr) return;
  auto* block =
      reinterpret_cast<uint64_t*>(static_cast<char*>(pointer) - kHeader);
  if (*block != kLive) {
    std::fprintf(stderr, "double free or foreign free of %p\n", pointer);
    std::fflush(stderr);
    std::abort();
  }
  *block = 0;
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
