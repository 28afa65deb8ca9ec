#include "client/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {
namespace {

// A counted reference to the embedding's messenger: the last copy to go
// gives it back, so a late answer never touches a freed messenger.
using MessengerReference = std::shared_ptr<FlutterDesktopMessenger>;

MessengerReference TakeReference(FlutterDesktopMessengerRef messenger) {
  return MessengerReference(FlutterDesktopMessengerAddRef(messenger),
                            &FlutterDesktopMessengerRelease);
}

// Holds the messenger lock for one scope; excludes the engine's teardown.
class MessengerLock {
 public:
  explicit MessengerLock(FlutterDesktopMessengerRef messenger)
      : locked_(FlutterDesktopMessengerLock(messenger)) {}
  ~MessengerLock() {
    if (locked_ != nullptr) {
      FlutterDesktopMessengerUnlock(locked_);
    }
  }
  MessengerLock(const MessengerLock&) = delete;
  MessengerLock& operator=(const MessengerLock&) = delete;

 private:
  FlutterDesktopMessengerRef locked_;
};

// Answers one incoming message, at most once.
ReplyCallback MakeResponder(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* response_handle) {
  return [messenger = TakeReference(messenger), response_handle](
             const uint8_t* reply, size_t reply_size) mutable {
    MessengerLock lock(messenger.get());
    if (!FlutterDesktopMessengerIsAvailable(messenger.get())) {
      return;  // The engine is gone; nobody is waiting for the answer.
    }
    if (response_handle == nullptr) {
      std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                   "response."
                << std::endl;
      return;
    }
    FlutterDesktopMessengerSendResponse(messenger.get(), response_handle, reply,
                                        reply_size);
    response_handle = nullptr;
  };
}

void DispatchIncoming(FlutterDesktopMessengerRef messenger,
                      const FlutterDesktopMessage* message, void* user_data) {
  auto* handler = static_cast<MessageHandler*>(user_data);
  (*handler)(message->message, message->message_size,
             MakeResponder(messenger, message->response_handle));
}

void DeliverReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<ReplyCallback> record(static_cast<ReplyCallback*>(user_data));
  (*record)(data, data_size);
}

}  // namespace

BinaryMessengerImpl::BinaryMessengerImpl(FlutterDesktopMessengerRef messenger)
    : messenger_(messenger) {}

// Only the stored handlers go; the embedding is not called here.
BinaryMessengerImpl::~BinaryMessengerImpl() = default;

void BinaryMessengerImpl::SendMessage(const std::string& channel,
                                      const uint8_t* message,
                                      size_t message_size,
                                      ReplyCallback reply) const {
  if (!reply) {
    FlutterDesktopMessengerSend(messenger_, channel.c_str(), message,
                                message_size);
    return;
  }
  auto record = std::make_unique<ReplyCallback>(std::move(reply));
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                           message_size, &DeliverReply,
                                           record.get())) {
    // DeliverReply owns the record from here on.
    static_cast<void>(record.release());
  }
}

void BinaryMessengerImpl::SetChannelHandler(const std::string& channel,
                                            MessageHandler handler) {
  if (!handler) {
    handlers_.erase(channel);
    FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(), nullptr,
                                       nullptr);
    return;
  }
  // Assigning in place keeps the stored handler's address stable.
  MessageHandler& stored = handlers_[channel];
  stored = std::move(handler);
  FlutterDesktopMessengerSetCallback(messenger_, channel.c_str(),
                                     &DispatchIncoming, &stored);
}

}  // namespace flutter
