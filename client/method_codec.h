// Turns method calls and their answers into channel messages and back.
#ifndef CLIENT_METHOD_CODEC_H_
#define CLIENT_METHOD_CODEC_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "client/method_call.h"
#include "client/method_result.h"

namespace flutter {

template <typename T>
class MethodCodec {
 public:
  MethodCodec() = default;
  virtual ~MethodCodec() = default;

  MethodCodec(const MethodCodec&) = delete;
  MethodCodec& operator=(const MethodCodec&) = delete;

  // Null when the message is not a method call.
  virtual std::unique_ptr<MethodCall<T>> DecodeCall(
      const uint8_t* message, size_t message_size) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeCall(
      const MethodCall<T>& call) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeSuccess(
      const T* result) const = 0;
  virtual std::unique_ptr<std::vector<uint8_t>> EncodeError(
      const std::string& code, const std::string& message,
      const T* details) const = 0;
  // True when the envelope was understood and delivered to |result|.
  virtual bool DecodeResponse(const uint8_t* response, size_t response_size,
                              MethodResult<T>* result) const = 0;
};

}  // namespace flutter

#endif  // CLIENT_METHOD_CODEC_H_
