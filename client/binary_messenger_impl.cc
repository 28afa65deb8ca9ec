#include "client/binary_messenger_impl.h"

#include <iostream>
#include <memory>
#include <utility>

namespace flutter {

namespace internal {

// One installed handler and the channel it serves.
struct ChannelRoute : std::enable_shared_from_this<ChannelRoute> {
  ChannelRoute(std::string channel_name, MessageHandler message_handler)
      : channel(std::move(channel_name)), handler(std::move(message_handler)) {}

  const std::string channel;
  const MessageHandler handler;
};

}  // namespace internal

namespace {

// No exception may unwind through the embedding's C frames; one that
// reaches them is reported here, in one line, and goes no further.
void ReportException(const char* handler_kind, const std::string& channel) {
  std::cerr << "Unhandled exception in " << handler_kind << " on channel "
            << channel << std::endl;
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

// Sends the answer behind |*handle| unless it was sent already (then the
// duplicate is reported) or the engine is gone (then nobody is waiting).
void RespondOnce(FlutterDesktopMessengerRef messenger,
                 const FlutterDesktopMessageResponseHandle** handle,
                 const uint8_t* reply, size_t reply_size) {
  MessengerLock lock(messenger);
  if (!FlutterDesktopMessengerIsAvailable(messenger)) {
    return;
  }
  if (*handle == nullptr) {
    std::cerr << "Error: Response can be set only once. Ignoring duplicate "
                 "response."
              << std::endl;
    return;
  }
  FlutterDesktopMessengerSendResponse(messenger, *handle, reply, reply_size);
  *handle = nullptr;
}

// The answer to one incoming message. Holds a counted reference to the
// messenger, so a late answer never touches a freed messenger.
class Responder {
 public:
  Responder(FlutterDesktopMessengerRef messenger,
            const FlutterDesktopMessageResponseHandle* handle)
      : messenger_(FlutterDesktopMessengerAddRef(messenger)), handle_(handle) {}
  ~Responder() { FlutterDesktopMessengerRelease(messenger_); }
  Responder(const Responder&) = delete;
  Responder& operator=(const Responder&) = delete;

  void Respond(const uint8_t* reply, size_t reply_size) {
    RespondOnce(messenger_, &handle_, reply, reply_size);
  }
  bool answered() const { return handle_ == nullptr; }

 private:
  FlutterDesktopMessengerRef messenger_;
  const FlutterDesktopMessageResponseHandle* handle_;
};

void DispatchIncoming(FlutterDesktopMessengerRef messenger,
                      const FlutterDesktopMessage* message, void* user_data) {
  const std::shared_ptr<internal::ChannelRoute> route =
      static_cast<internal::ChannelRoute*>(user_data)->shared_from_this();
  std::shared_ptr<Responder> responder;
  try {
    responder =
        std::make_shared<Responder>(messenger, message->response_handle);
    route->handler(message->message, message->message_size,
                   [responder](const uint8_t* reply, size_t reply_size) {
                     responder->Respond(reply, reply_size);
                   });
  } catch (...) {
    ReportException("message handler", route->channel);
    // The codec is unknown here: the empty answer is the one every caller
    // understands. The caller is answered once, whatever happened.
    if (responder == nullptr) {
      const FlutterDesktopMessageResponseHandle* handle =
          message->response_handle;
      RespondOnce(messenger, &handle, nullptr, 0);
    } else if (!responder->answered()) {
      responder->Respond(nullptr, 0);
    }
  }
}

// What a send with reply waits on.
struct ReplyRecord {
  std::string channel;
  ReplyCallback reply;
};

void DeliverReply(const uint8_t* data, size_t data_size, void* user_data) {
  std::unique_ptr<ReplyRecord> record(static_cast<ReplyRecord*>(user_data));
  try {
    record->reply(data, data_size);
  } catch (...) {
    ReportException("reply handler", record->channel);
  }
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
  auto record =
      std::make_unique<ReplyRecord>(ReplyRecord{channel, std::move(reply)});
  if (FlutterDesktopMessengerSendWithReply(messenger_, channel.c_str(), message,
                                           message_size, &DeliverReply,
                                           record.get())) {
    // DeliverReply owns the record from here on.
    static_cast<void>(record.release());
  }
}

void BinaryMessengerImpl::SetChannelHandler(const std::string& channel,
                                            MessageHandler handler) {
  // |channel| may belong to the handler released below (a channel object
  // owned by its own handler), so the name is copied first.
  const std::string name = channel;
  if (!handler) {
    routes_.erase(name);
    FlutterDesktopMessengerSetCallback(messenger_, name.c_str(), nullptr,
                                       nullptr);
    return;
  }
  auto route =
      std::make_shared<internal::ChannelRoute>(name, std::move(handler));
  internal::ChannelRoute* address = route.get();
  routes_[name] = std::move(route);
  FlutterDesktopMessengerSetCallback(messenger_, name.c_str(),
                                     &DispatchIncoming, address);
}

}  // namespace flutter
