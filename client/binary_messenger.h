// Raw byte messages between the host and the Dart side, per channel.
#ifndef CLIENT_BINARY_MESSENGER_H_
#define CLIENT_BINARY_MESSENGER_H_

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "client/method_result.h"

// <windows.h> maps SendMessage to SendMessageW; the messenger's operation
// keeps its own name, and Windows code here calls SendMessageW explicitly.
#ifdef SendMessage
#undef SendMessage
#endif

namespace flutter {

// Receives one incoming message and the callback that answers it.
using MessageHandler = std::function<void(
    const uint8_t* message, size_t message_size, ReplyCallback reply)>;

class BinaryMessenger {
 public:
  BinaryMessenger() = default;
  virtual ~BinaryMessenger() = default;

  BinaryMessenger(const BinaryMessenger&) = delete;
  BinaryMessenger& operator=(const BinaryMessenger&) = delete;

  // An empty |reply| sends without waiting for an answer.
  virtual void SendMessage(const std::string& channel, const uint8_t* message,
                           size_t message_size, ReplyCallback reply) const = 0;
  // Sends without waiting for an answer. Not virtual: a default argument
  // on a virtual would depend on the static type of the caller.
  void SendMessage(const std::string& channel, const uint8_t* message,
                   size_t message_size) const {
    SendMessage(channel, message, message_size, nullptr);
  }
  // An empty |handler| removes the channel's handler.
  virtual void SetChannelHandler(const std::string& channel,
                                 MessageHandler handler) = 0;
};

}  // namespace flutter

#endif  // CLIENT_BINARY_MESSENGER_H_
