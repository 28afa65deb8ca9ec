#include "client/tests/test_support.h"

#include <malloc.h>

#include <atomic>
#include <cstdlib>
#include <new>

#include "client/byte_streams.h"
#include "client/standard_codec.h"

namespace {
std::atomic<size_t> g_allocated_bytes{0};
std::atomic<size_t> g_live_bytes{0};

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
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    g_live_bytes += BlockSize(block);
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

}  // namespace flutter::testing
