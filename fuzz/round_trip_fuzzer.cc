// Whatever decodes re-encodes, and that encoding is a fixed point: decoding
// and encoding it again gives the same bytes (bytes rather than values, so
// NaN payloads compare too).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "client/byte_streams.h"
#include "client/encodable_value.h"
#include "client/standard_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

const flutter::StandardCodecSerializer& Serializer() {
  return flutter::StandardCodecSerializer::Instance();
}

std::vector<uint8_t> Encode(const flutter::EncodableValue& value) {
  std::vector<uint8_t> bytes;
  flutter::ByteBufferStreamWriter writer(&bytes);
  Serializer().WriteValue(value, &writer);
  return bytes;
}

flutter::EncodableValue Decode(const uint8_t* data, size_t size) {
  flutter::ByteBufferStreamReader reader(data, size);
  return Serializer().ReadValue(&reader);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::AllocationCheck check(size);
  const flutter::EncodableValue decoded = Decode(data, size);
  const std::vector<uint8_t> first = Encode(decoded);
  const flutter::EncodableValue value = Decode(first.data(), first.size());
  const std::vector<uint8_t> second = Encode(value);
  if (second != first) {
    std::abort();
  }
  // Values without NaN also compare equal after the trip.
  if (decoded == decoded && !(decoded == value)) {
    std::abort();
  }
  return 0;
}
