// The binary messenger over the embedding's messenger.
#ifndef CLIENT_BINARY_MESSENGER_IMPL_H_
#define CLIENT_BINARY_MESSENGER_IMPL_H_

#include <map>
#include <string>

#include "client/binary_messenger.h"
#include "embedding/flutter_messenger.h"

namespace flutter {

class BinaryMessengerImpl : public BinaryMessenger {
 public:
  // |messenger| is not owned; the engine wrapper keeps it alive.
  explicit BinaryMessengerImpl(FlutterDesktopMessengerRef messenger);
  ~BinaryMessengerImpl() override;

  using BinaryMessenger::SendMessage;
  void SendMessage(const std::string& channel, const uint8_t* message,
                   size_t message_size, ReplyCallback reply) const override;
  void SetChannelHandler(const std::string& channel,
                         MessageHandler handler) override;

 private:
  FlutterDesktopMessengerRef messenger_;
  // Node-based so that stored handlers never move: the embedding holds
  // their addresses.
  std::map<std::string, MessageHandler> handlers_;
};

}  // namespace flutter

#endif  // CLIENT_BINARY_MESSENGER_IMPL_H_
