#include "client/tests/test_support.h"

#include <atomic>
#include <cstdlib>
#include <limits>
#include <new>

#include "client/byte_streams.h"
#include "client/standard_codec.h"

namespace {
std::atomic<size_t> g_allocated_bytes{0};
}  // namespace

// Counting allocator for the decoder's allocation bounds.
void* operator new(size_t size) {
  g_allocated_bytes += size;
  if (void* block = std::malloc(size == 0 ? 1 : size)) {
    return block;
  }
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

template <typename T>
std::vector<T> RandomVector(std::mt19937* random, T low, T high) {
  std::vector<T> list(std::uniform_int_distribution<size_t>(0, 300)(*random));
  for (T& element : list) {
    if constexpr (std::is_floating_point_v<T>) {
      element = std::uniform_real_distribution<T>(low, high)(*random);
    } else {
      element = static_cast<T>(
          std::uniform_int_distribution<int64_t>(low, high)(*random));
    }
  }
  return list;
}

std::string RandomText(std::mt19937* random) {
  // Lengths around the one-byte/three-byte length boundary, any byte value.
  std::string text(std::uniform_int_distribution<size_t>(0, 300)(*random), 0);
  for (char& c : text) {
    c = static_cast<char>(std::uniform_int_distribution<int>(0, 255)(*random));
  }
  return text;
}

}  // namespace

EncodableValue RandomValue(std::mt19937* random, int depth) {
  const int kinds = depth > 0 ? 13 : 11;
  using Limits32 = std::numeric_limits<int32_t>;
  using Limits64 = std::numeric_limits<int64_t>;
  switch (std::uniform_int_distribution<int>(0, kinds)(*random)) {
    case 0:
      return EncodableValue();
    case 1:
      return EncodableValue((*random)() % 2 == 0);
    case 2:
      return EncodableValue(static_cast<int32_t>((*random)()));
    case 3:
      return EncodableValue(
          std::uniform_int_distribution<int64_t>(Limits64::min())(*random));
    case 4:
      return EncodableValue(
          std::uniform_real_distribution<double>(-1e300, 1e300)(*random));
    case 5:
      return EncodableValue(RandomText(random));
    case 6:
      return EncodableValue(RandomVector<uint8_t>(random, 0, 255));
    case 7:
      return EncodableValue(
          RandomVector<int32_t>(random, Limits32::min(), Limits32::max()));
    case 8:
      return EncodableValue(
          RandomVector<int64_t>(random, Limits64::min(), Limits64::max()));
    case 9:
      return EncodableValue(RandomVector<double>(random, -1e9, 1e9));
    case 10:
    case 11:
      return EncodableValue(RandomVector<float>(random, -1e9f, 1e9f));
    case 12: {
      EncodableList list(std::uniform_int_distribution<int>(0, 5)(*random));
      for (EncodableValue& element : list) {
        element = RandomValue(random, depth - 1);
      }
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

}  // namespace flutter::testing
