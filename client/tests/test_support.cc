#include "client/tests/test_support.h"

#include <atomic>
#include <cstdlib>
#include <new>

#include "client/byte_streams.h"
#include "client/standard_codec.h"

namespace {
std::atomic<size_t> g_allocated_bytes{0};
}  // namespace

// Counts what is allocated, for the decoder's allocation bounds.
void* operator new(size_t size) {
  g_allocated_bytes += size;
  if (void* block = std::malloc(size == 0 ? 1 : size)) return block;
  throw std::bad_alloc();
}
void* operator new[](size_t size) { return operator new(size); }
void operator delete(void* block) noexcept { std::free(block); }
void operator delete[](void* block) noexcept { std::free(block); }
void operator delete(void* block, size_t) noexcept { std::free(block); }
void operator delete[](void* block, size_t) noexcept { std::free(block); }

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

}  // namespace flutter::testing
