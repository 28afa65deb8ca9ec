// A named two-way route for method calls between the host and the Dart side.
#ifndef CLIENT_METHOD_CHANNEL_H_
#define CLIENT_METHOD_CHANNEL_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <iostream>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/binary_messenger.h"
#include "client/engine_method_result.h"
#include "client/method_call.h"
#include "client/method_codec.h"
#include "client/method_result.h"

namespace flutter {

template <typename T = EncodableValue>
using CallHandler = std::function<void(
    const MethodCall<T>& call, std::unique_ptr<MethodResult<T>> result)>;

template <typename T = EncodableValue>
class MethodChannel {
 public:
  // Neither |messenger| nor |codec| is owned; both must outlive the channel
  // and every handler it installs.
  MethodChannel(BinaryMessenger* messenger, const std::string& name,
                const MethodCodec<T>* codec)
      : messenger_(messenger), name_(name), codec_(codec) {}
  ~MethodChannel() = default;

  MethodChannel(const MethodChannel&) = delete;
  MethodChannel& operator=(const MethodChannel&) = delete;

  // Sends a call to the Dart side. Without |result| no answer is awaited.
  void InvokeMethod(const std::string& method, std::unique_ptr<T> arguments,
                    std::unique_ptr<MethodResult<T>> result = nullptr) {
    MethodCall<T> call(method, std::move(arguments));
    std::unique_ptr<std::vector<uint8_t>> message = codec_->EncodeCall(call);
    if (!result) {
      messenger_->SendMessage(name_, message->data(), message->size(), nullptr);
      return;
    }
    std::shared_ptr<MethodResult<T>> shared_result(std::move(result));
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    ReplyCallback on_reply = [shared_result, codec, channel_name](
                                 const uint8_t* reply, size_t reply_size) {
      if (reply_size == 0) {
        shared_result->NotImplemented();
        return;
      }
      if (!codec->DecodeResponse(reply, reply_size, shared_result.get())) {
        std::cerr << "Unable to decode reply to method invocation on channel "
                  << channel_name << std::endl;
        shared_result->NotImplemented();
      }
    };
    messenger_->SendMessage(name_, message->data(), message->size(),
                            std::move(on_reply));
  }

  // Installs |handler| for calls on this channel; an empty one removes it.
  // The installed route does not refer back to this object.
  void SetCallHandler(CallHandler<T> handler) const {
    if (!handler) {
      messenger_->SetChannelHandler(name_, nullptr);
      return;
    }
    const MethodCodec<T>* codec = codec_;
    std::string channel_name = name_;
    MessageHandler binary_handler =
        [handler = std::move(handler), codec, channel_name](
            const uint8_t* message, size_t message_size, ReplyCallback reply) {
          // Created before decoding, so an undecodable message is answered.
          auto result =
              std::make_unique<EngineMethodResult<T>>(std::move(reply), codec);
          std::unique_ptr<MethodCall<T>> call =
              codec->DecodeCall(message, message_size);
          if (!call) {
            std::cerr << "Unable to construct method call from message on "
                         "channel "
                      << channel_name << std::endl;
            result->NotImplemented();
            return;
          }
          handler(*call, std::move(result));
        };
    messenger_->SetChannelHandler(name_, std::move(binary_handler));
  }

 private:
  BinaryMessenger* messenger_;
  std::string name_;
  const MethodCodec<T>* codec_;
};

}  // namespace flutter

#endif  // CLIENT_METHOD_CHANNEL_H_
