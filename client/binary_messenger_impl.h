// The binary messenger over the embedding's messenger.
#ifndef CLIENT_BINARY_MESSENGER_IMPL_H_
#define CLIENT_BINARY_MESSENGER_IMPL_H_

#include <map>
#include <memory>
#include <string>

#include "client/binary_messenger.h"
#include "embedding/flutter_messenger.h"

namespace flutter {

namespace internal {
struct ChannelRoute;
}  // namespace internal

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
  // The embedding holds each route's address. Shared, so that a dispatch
  // keeps its route alive while the handler removes or replaces itself.
  std::map<std::string, std::shared_ptr<internal::ChannelRoute>> routes_;
};

}  // namespace flutter

#endif  // CLIENT_BINARY_MESSENGER_IMPL_H_
