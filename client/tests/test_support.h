// Helpers shared by the client layer's tests.
#ifndef CLIENT_TESTS_TEST_SUPPORT_H_
#define CLIENT_TESTS_TEST_SUPPORT_H_

#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "client/encodable_value.h"
#include "client/method_result.h"

namespace flutter::testing {

using Bytes = std::vector<uint8_t>;
using I32s = std::vector<int32_t>;
using I64s = std::vector<int64_t>;
using F64s = std::vector<double>;
using F32s = std::vector<float>;

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

Bytes Concat(Bytes head, const Bytes& tail);
// Encodes |value| with the shared serializer after |prefix| leading bytes.
Bytes Encode(const EncodableValue& value, const Bytes& prefix = {});
// Decodes one value from the start; |end| receives the position after it.
EncodableValue Decode(const Bytes& message, size_t* end = nullptr);

// Logs each answer it is given as one line: "success", "error <code>
// <message>" or "not_implemented", then " <text>" for a string result or
// string details.
class RecordingResult : public MethodResult<> {
 public:
  using Log = std::shared_ptr<std::vector<std::string>>;
  explicit RecordingResult(Log log) : log_(std::move(log)) {}

 protected:
  void HandleSuccess(const EncodableValue* result) override {
    log_->push_back("success" + Text(result));
  }
  void HandleError(const std::string& code, const std::string& message,
                   const EncodableValue* details) override {
    log_->push_back("error " + code + " " + message + Text(details));
  }
  void HandleNotImplemented() override { log_->push_back("not_implemented"); }

 private:
  static std::string Text(const EncodableValue* value) {
    return value ? " " + std::get<std::string>(*value) : "";
  }
  Log log_;
};

// Bytes handed to operator new since the program started.
size_t AllocatedBytes();
// Bytes held through operator new right now.
size_t LiveBytes();

// Watches the live heap for its lifetime, one watch at a time. A request
// that would take it more than |ceiling| bytes above where it started is
// refused with std::bad_alloc, so that code asking for gigabytes fails its
// test instead of taking the machine's memory; the peak counts such a
// request as if it had been granted.
class HeapWatch {
 public:
  explicit HeapWatch(size_t ceiling = size_t{1} << 30);
  ~HeapWatch();
  HeapWatch(const HeapWatch&) = delete;
  HeapWatch& operator=(const HeapWatch&) = delete;

  // The most the live heap has held above where it started.
  size_t PeakBytes() const;
};

}  // namespace flutter::testing

#endif  // CLIENT_TESTS_TEST_SUPPORT_H_
