#include "client/tests/test_support.h"

#include <malloc.h>

#include <atomic>
#include <cstdint>
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
  if (block != nullptr) {
    g_live_bytes -= BlockSize(block);
    std::free(block);
  }
}
}  // namespace

// Counting allocator for the decoder's allocation bounds and heap growth.
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
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line);
  }
  return lines;
}

Bytes Encode(const EncodableValue& value, const Bytes& prefix) {
  Bytes message = prefix;
  ByteBufferStreamWriter writer(&message);
  StandardCodecSerializer::Instance().WriteValue(value, &writer);
  return message;
}

EncodableValue Decode(const Bytes& message, size_t offset, size_t* end) {
  ByteBufferStreamReader reader(message.data(), message.size());
  for (size_t i = 0; i < offset; ++i) reader.ReadByte();
  EncodableValue value = StandardCodecSerializer::Instance().ReadValue(&reader);
  if (end != nullptr) *end = reader.position();
  return value;
}

void RecordingResult::HandleSuccess(const EncodableValue* result) {
  log_->push_back({Answer::kSuccess,
                   result ? std::optional(*result) : std::nullopt, "", ""});
}

void RecordingResult::HandleError(const std::string& code,
                                  const std::string& message,
                                  const EncodableValue* details) {
  log_->push_back({Answer::kError,
                   details ? std::optional(*details) : std::nullopt, code,
                   message});
}

void RecordingResult::HandleNotImplemented() {
  log_->push_back({Answer::kNotImplemented, std::nullopt, "", ""});
}

namespace {

// 0 to 300 elements: both sides of the one-byte length limit.
template <typename T, typename Distribution>
std::vector<T> RandomVector(std::mt19937* random, Distribution element) {
  std::vector<T> list(std::uniform_int_distribution<size_t>(0, 300)(*random));
  for (T& item : list) item = static_cast<T>(element(*random));
  return list;
}

}  // namespace

EncodableValue RandomValue(std::mt19937* random, int depth) {
  using Int64 = std::uniform_int_distribution<int64_t>;
  using Real = std::uniform_real_distribution<double>;
  const int last_kind = depth > 0 ? 12 : 10;
  switch (std::uniform_int_distribution<int>(0, last_kind)(*random)) {
    case 0:
      return EncodableValue();
    case 1:
      return EncodableValue((*random)() % 2 == 0);
    case 2:
      return EncodableValue(static_cast<int32_t>((*random)()));
    case 3:
      return EncodableValue(Int64(INT64_MIN)(*random));
    case 4:
      return EncodableValue(Real(-1e300, 1e300)(*random));
    case 5: {
      std::vector<char> text = RandomVector<char>(random, Int64(0, 255));
      return EncodableValue(std::string(text.begin(), text.end()));
    }
    case 6:
      return EncodableValue(RandomVector<uint8_t>(random, Int64(0, 255)));
    case 7:
      return EncodableValue(
          RandomVector<int32_t>(random, Int64(INT32_MIN, INT32_MAX)));
    case 8:
      return EncodableValue(RandomVector<int64_t>(random, Int64(INT64_MIN)));
    case 9:
      return EncodableValue(RandomVector<double>(random, Real(-1e9, 1e9)));
    case 10:
      return EncodableValue(RandomVector<float>(random, Real(-1e9, 1e9)));
    case 11: {
      EncodableList list(std::uniform_int_distribution<int>(0, 5)(*random));
      for (EncodableValue& item : list) item = RandomValue(random, depth - 1);
      return EncodableValue(std::move(list));
    }
    default: {
      EncodableMap map;
      for (int n = std::uniform_int_distribution<int>(0, 5)(*random); n > 0;
           --n) {
        map[RandomValue(random, depth - 1)] = RandomValue(random, depth - 1);
      }
      return EncodableValue(std::move(map));
    }
  }
}

size_t AllocatedBytes() { return g_allocated_bytes.load(); }

size_t LiveBytes() { return g_live_bytes.load(); }

}  // namespace flutter::testing
