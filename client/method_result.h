// The one-shot answer to a method call, and the byte-level reply holder.
#ifndef CLIENT_METHOD_RESULT_H_
#define CLIENT_METHOD_RESULT_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "client/encodable_value.h"

namespace flutter {

// Answers one channel message, or receives the answer to one sent message.
// A null pointer with size 0 is the empty response.
using ReplyCallback = std::function<void(const uint8_t* reply, size_t size)>;

template <typename T = EncodableValue>
class MethodResult {
 public:
  MethodResult() = default;
  virtual ~MethodResult() = default;

  MethodResult(const MethodResult&) = delete;
  MethodResult& operator=(const MethodResult&) = delete;

  void Success() { HandleSuccess(nullptr); }
  void Success(const T& result) { HandleSuccess(&result); }
  // Hands the value over, so the answer can free it as soon as it is
  // encoded (a 10 MB profile photo need not outlive its encoding).
  void Success(T&& result) { HandleSuccessOwned(std::move(result)); }
  void Error(const std::string& code, const std::string& message = "",
             const T* details = nullptr) {
    HandleError(code, message, details);
  }
  void Error(const std::string& code, const std::string& message,
             const T& details) {
    HandleError(code, message, &details);
  }
  void NotImplemented() { HandleNotImplemented(); }

 protected:
  virtual void HandleSuccess(const T* result) = 0;
  virtual void HandleError(const std::string& code, const std::string& message,
                           const T* details) = 0;
  virtual void HandleNotImplemented() = 0;
  // Comes after the three answer slots so their order stays as it always
  // was. By default the same as HandleSuccess.
  virtual void HandleSuccessOwned(T&& result) { HandleSuccess(&result); }
};

// Holds one ReplyCallback and lets it be used once: armed until the first
// SendResponseData, spent afterwards.
class PendingReply {
 public:
  explicit PendingReply(ReplyCallback reply);
  ~PendingReply();

  PendingReply(const PendingReply&) = delete;
  PendingReply& operator=(const PendingReply&) = delete;

  // Null or empty |data| sends the empty response.
  void SendResponseData(const std::vector<uint8_t>* data);
  // True until the first SendResponseData.
  bool armed() const { return static_cast<bool>(reply_); }

 private:
  ReplyCallback reply_;
};

}  // namespace flutter

#endif  // CLIENT_METHOD_RESULT_H_
