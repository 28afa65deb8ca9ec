// Reads values until the message is used up: no crash, no unbounded
// allocation, and every read makes progress.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "client/byte_streams.h"
#include "client/standard_codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::AllocationCheck check(size);
  const flutter::StandardCodecSerializer& serializer =
      flutter::StandardCodecSerializer::Instance();
  flutter::ByteBufferStreamReader reader(data, size);
  while (reader.position() < size) {
    const size_t before = reader.position();
    serializer.ReadValue(&reader);
    // A value always consumes at least its tag byte.
    if (reader.position() <= before) {
      std::abort();
    }
  }
  return 0;
}
