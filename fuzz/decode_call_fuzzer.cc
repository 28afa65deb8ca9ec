// Decodes arbitrary bytes as a method call; a decoded call re-encodes to
// a message that decodes to the same call.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "client/method_call.h"
#include "client/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::AllocationCheck check(size);
  const flutter::StandardMethodCodec& codec =
      flutter::StandardMethodCodec::Instance();
  std::unique_ptr<flutter::MethodCall<>> call = codec.DecodeCall(data, size);
  if (!call) {
    return 0;
  }
  if (call->Arguments() == nullptr) {
    std::abort();  // a decoded call always carries an arguments value
  }
  std::unique_ptr<std::vector<uint8_t>> encoded = codec.EncodeCall(*call);
  std::unique_ptr<flutter::MethodCall<>> again =
      codec.DecodeCall(encoded->data(), encoded->size());
  if (!again || again->MethodName() != call->MethodName()) {
    std::abort();
  }
  std::unique_ptr<std::vector<uint8_t>> reencoded = codec.EncodeCall(*again);
  if (*reencoded != *encoded) {
    std::abort();
  }
  return 0;
}
