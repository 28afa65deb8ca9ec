#include "client/tests/test_support.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "client/byte_streams.h"
#include "client/standard_codec.h"

namespace {
std::atomic<size_t> g_allocated_bytes{0};
std::atomic<size_t> g_live_bytes{0};
// The watched heap (see HeapWatch): where it started, how far it may grow
// above that (0: not watched) and the most it held.
std::atomic<size_t> g_watch_base{0};
std::atomic<size_t> g_watch_ceiling{0};
std::atomic<size_t> g_watch_peak{0};

void RaisePeak(size_t live) {
  size_t peak = g_watch_peak.load();
  while (live > peak && !g_watch_peak.compare_exchange_weak(peak, live)) {
  }
}

// False, with the request counted in the peak, when |size| more bytes
// would take the watched heap past its ceiling.
bool WithinCeiling(size_t size) {
  const size_t ceiling = g_watch_ceiling.load();
  if (ceiling == 0) return true;
  const size_t limit = g_watch_base.load() + ceiling;
  const size_t live = g_live_bytes.load();
  if (live <= limit && size <= limit - live) return true;
  const size_t most = std::numeric_limits<size_t>::max();
  RaisePeak(size > most - live ? most : live + size);
  return false;
}

// The block's usable size, the same on allocation and release.
size_t BlockSize(void* block) {
#ifdef _WIN32
  return _msize(block);
#else
  return malloc_usable_size(block);
#endif
}

void Release(void* block) {
  if (block == nullptr) return;
  g_live_bytes -= BlockSize(block);
  std::free(block);
}
}  // namespace

// Counts what is allocated and what is held, for the decoder's allocation
// bounds and the channels' heap growth.
void* operator new(size_t size) {
  g_allocated_bytes += size;
  if (!WithinCeiling(size)) throw std::bad_alloc();
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    RaisePeak(g_live_bytes += BlockSize(block));
    return block;
  }
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { Release(block); }
void operator delete[](void* block) noexcept { Release(block); }
void operator delete(void* block, size_t) noexcept { Release(block); }
void operator delete[](void* block, size_t) noexcept { Release(block); }

namespace flutter::testing {

std::vector<std::string> CerrCapture::Lines() const {
  std::vector<std::string> lines;
  std::istringstream text(buffer_.str());
  for (std::string line; std::getline(text, line);) lines.push_back(line);
  return lines;
}

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

Bytes Encode(const EncodableValue& value, const Bytes& prefix) {
  Bytes message = prefix;
  ByteBufferStreamWriter writer(&message);
  StandardCodecSerializer::Instance().WriteValue(value, &writer);
  return message;
}

EncodableValue Decode(const Bytes& message, size_t* end) {
  ByteBufferStreamReader reader(message.data(), message.size());
  EncodableValue value = StandardCodecSerializer::Instance().ReadValue(&reader);
  if (end != nullptr) *end = reader.position();
  return value;
}

size_t AllocatedBytes() { return g_allocated_bytes.load(); }
size_t LiveBytes() { return g_live_bytes.load(); }

HeapWatch::HeapWatch(size_t ceiling) {
  g_watch_base = g_live_bytes.load();
  g_watch_peak = g_watch_base.load();
  g_watch_ceiling = ceiling;
}

HeapWatch::~HeapWatch() { g_watch_ceiling = 0; }

size_t HeapWatch::PeakBytes() const {
  return g_watch_peak.load() - g_watch_base.load();
}

}  // namespace flutter::testing
