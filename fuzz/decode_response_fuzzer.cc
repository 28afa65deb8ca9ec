// Decodes arbitrary bytes as a result envelope: a true return delivers
// exactly one answer, a false one delivers none, and nothing escapes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "client/method_result.h"
#include "client/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

class CountingResult : public flutter::MethodResult<> {
 public:
  int answers = 0;

 protected:
  void HandleSuccess(const flutter::EncodableValue* /*result*/) override {
    ++answers;
  }
  void HandleError(const std::string& /*code*/, const std::string& /*message*/,
                   const flutter::EncodableValue* /*details*/) override {
    ++answers;
  }
  void HandleNotImplemented() override { ++answers; }
};

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
  fuzz::SilenceDiagnostics();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const fuzz::AllocationCheck check(size);
  CountingResult result;
  const bool decoded = flutter::StandardMethodCodec::Instance().DecodeResponse(
      data, size, &result);
  if (result.answers != (decoded ? 1 : 0)) {
    std::abort();
  }
  return 0;
}
