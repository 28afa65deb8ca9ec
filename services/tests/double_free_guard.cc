// Linked into a test program, this replaces the global allocation functions
// with ones that remember every live block: freeing a block twice, or one
// that never came from them, aborts the program instead of passing quietly.
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <mutex>
#include <new>
#include <set>

namespace {

// The ledger's own storage must not come from the operators it watches.
template <typename T>
struct MallocAllocator {
  using value_type = T;
  MallocAllocator() = default;
  template <typename U>
  MallocAllocator(const MallocAllocator<U>&) {}  // NOLINT
  T* allocate(size_t n) { return static_cast<T*>(std::malloc(n * sizeof(T))); }
  void deallocate(T* p, size_t) { std::free(p); }
  friend bool operator==(const MallocAllocator&, const MallocAllocator&) {
    return true;
  }
  friend bool operator!=(const MallocAllocator&, const MallocAllocator&) {
    return false;
  }
};

using Ledger = std::set<void*, std::less<void*>, MallocAllocator<void*>>;

std::mutex& LedgerLock() {
  static std::mutex lock;
  return lock;
}

Ledger& Live() {
  // Never destroyed: blocks are still freed during static destruction.
  static Ledger* live = new (std::malloc(sizeof(Ledger))) Ledger();
  return *live;
}

void* Allocate(size_t size) {
  void* block = std::malloc(size == 0 ? 1 : size);
  if (block == nullptr) {
    throw std::bad_alloc();
  }
  std::lock_guard<std::mutex> guard(LedgerLock());
  Live().insert(block);
  return block;
}

void Release(void* block) {
  if (block == nullptr) {
    return;
  }
  {
    std::lock_guard<std::mutex> guard(LedgerLock());
    if (Live().erase(block) == 0) {
      std::fprintf(stderr, "double free or foreign free of %p\n", block);
      std::fflush(stderr);
      std::abort();
    }
  }
  std::free(block);
}

}  // namespace

void* operator new(size_t size) { return Allocate(size); }
void* operator new[](size_t size) { return Allocate(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }
