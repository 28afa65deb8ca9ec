// The MethodResult that answers an incoming call through its reply callback.
#ifndef CLIENT_ENGINE_METHOD_RESULT_H_
#define CLIENT_ENGINE_METHOD_RESULT_H_

#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/method_codec.h"
#include "client/method_result.h"

namespace flutter {

// The error code of the answer to a call whose handler threw.
inline constexpr char kUnhandledExceptionErrorCode[] = "unhandled_exception";

template <typename T = EncodableValue>
class EngineMethodResult : public MethodResult<T> {
 public:
  // |codec| is not owned and must outlive the result.
  EngineMethodResult(ReplyCallback reply, const MethodCodec<T>* codec)
      : reply_(std::move(reply)), codec_(codec) {}
  // A result that an exception unwinds away unanswered (its handler threw)
  // still answers, with an error, so the caller is not left waiting; the
  // messenger that catches the exception reports it.
  ~EngineMethodResult() override {
    if (reply_.armed() && std::uncaught_exceptions() > unwinding_at_start_) {
      try {
        reply_.SendResponseData(
            codec_->EncodeError(kUnhandledExceptionErrorCode, "", nullptr)
                .get());
      } catch (...) {
        // Out of memory: the messenger's last-resort empty answer.
      }
    }
  }

 protected:
  // Answers are encoded before the one-shot check, so a duplicate is
  // encoded, then discarded by the PendingReply with its diagnostic line.
  void HandleSuccess(const T* result) override {
    std::unique_ptr<std::vector<uint8_t>> data = codec_->EncodeSuccess(result);
    reply_.SendResponseData(data.get());
  }
  void HandleSuccessOwned(T&& result) override {
    std::unique_ptr<std::vector<uint8_t>> data =
        EncodeAndRelease(std::move(result));
    reply_.SendResponseData(data.get());
  }
  void HandleError(const std::string& code, const std::string& message,
                   const T* details) override {
    std::unique_ptr<std::vector<uint8_t>> data =
        codec_->EncodeError(code, message, details);
    reply_.SendResponseData(data.get());
  }
  void HandleNotImplemented() override { reply_.SendResponseData(nullptr); }

 private:
  // The value is gone before the answer is sent, so the value, its
  // encoding and the embedding's copy of it are never all alive at once.
  std::unique_ptr<std::vector<uint8_t>> EncodeAndRelease(T&& result) {
    const T owned = std::move(result);
    return codec_->EncodeSuccess(&owned);
  }

  PendingReply reply_;
  const MethodCodec<T>* codec_;
  const int unwinding_at_start_ = std::uncaught_exceptions();
};

}  // namespace flutter

#endif  // CLIENT_ENGINE_METHOD_RESULT_H_
