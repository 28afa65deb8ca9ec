// Helpers shared by the client layer's tests.
#ifndef CLIENT_TESTS_TEST_SUPPORT_H_
#define CLIENT_TESTS_TEST_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include "client/encodable_value.h"
#include "client/method_result.h"

namespace flutter::testing {

using Bytes = std::vector<uint8_t>;

// Redirects std::cerr into a buffer for its lifetime.
class CerrCapture {
 public:
  CerrCapture() : previous_(std::cerr.rdbuf(buffer_.rdbuf())) {}
  ~CerrCapture() { std::cerr.rdbuf(previous_); }
  CerrCapture(const CerrCapture&) = delete;
  CerrCapture& operator=(const CerrCapture&) = delete;

  std::string text() const { return buffer_.str(); }
  std::vector<std::string> Lines() const;

 private:
  std::ostringstream buffer_;
  std::streambuf* previous_;
};

// Encodes |value| with the shared serializer after |prefix| leading bytes.
Bytes Encode(const EncodableValue& value, const Bytes& prefix = {});
// Decodes one value starting at |offset|; |end| receives the position after.
EncodableValue Decode(const Bytes& message, size_t offset = 0,
                      size_t* end = nullptr);

// What a RecordingResult was told, in order.
struct Answer {
  enum Kind { kSuccess, kError, kNotImplemented } kind;
  std::optional<EncodableValue> value;  // result or details
  std::string code;
  std::string message;
};
using AnswerLog = std::shared_ptr<std::vector<Answer>>;

class RecordingResult : public MethodResult<> {
 public:
  explicit RecordingResult(AnswerLog log) : log_(std::move(log)) {}

 protected:
  void HandleSuccess(const EncodableValue* result) override;
  void HandleError(const std::string& code, const std::string& message,
                   const EncodableValue* details) override;
  void HandleNotImplemented() override;

 private:
  AnswerLog log_;
};

// A random value tree of every wire kind, no deeper than |depth|.
EncodableValue RandomValue(std::mt19937* random, int depth);

// Bytes handed to operator new since the program started.
size_t AllocatedBytes();
// Bytes held through operator new right now.
size_t LiveBytes();

}  // namespace flutter::testing

#endif  // CLIENT_TESTS_TEST_SUPPORT_H_
