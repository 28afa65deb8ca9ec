// The process-wide relay of return URLs: to a waiting sign-in session, or
// into the pending list and, once the channel exists, to the Dart side.
#ifndef SERVICES_AUTH_CALLBACK_RELAY_H_
#define SERVICES_AUTH_CALLBACK_RELAY_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "client/binary_messenger.h"
#include "client/encodable_value.h"
#include "client/method_call.h"
#include "client/method_channel.h"
#include "client/method_result.h"

namespace orvalin {

// The most return URLs the pending list holds. Another program can send
// them (the window accepts records from lower integrity), so a flood must
// not grow the list; a user's sign-ins and payments stay far below it
// between two "takePendingAuthCallbackUrls". With records of at most
// kMaxForwardedUrlBytes the list holds at most 1 MiB.
inline constexpr size_t kMaxPendingReturnUrls = 64;

// Called with the session's context and the URL that answers it.
using SessionCallback = void (*)(void* context, const std::wstring& url);

// A session callback and its context, as detached from the relay.
struct DetachedSession {
  SessionCallback callback = nullptr;
  void* context = nullptr;
  explicit operator bool() const { return callback != nullptr; }
};

class AuthCallbackRelay {
 public:
  static AuthCallbackRelay& Instance();

  AuthCallbackRelay(const AuthCallbackRelay&) = delete;
  AuthCallbackRelay& operator=(const AuthCallbackRelay&) = delete;

  // Hands |url| to the waiting session, or queues it (and pushes it as
  // "authCallback" when a channel is attached). False, with nothing queued
  // or pushed, when kMaxPendingReturnUrls are pending already: the window
  // that received it refuses the record, so its sender reports it.
  bool Deliver(const std::wstring& url);

  // Moves the whole pending list out, oldest first.
  std::vector<std::wstring> TakePending();

  // Stores the session and returns its id, which no other session of this
  // process gets. |replaced| receives the pair it displaced (not called, not
  // freed) so the caller can answer and free it.
  uint64_t SetSessionCallback(SessionCallback callback, void* context,
                              DetachedSession* replaced);
  // Detaches the waiting session, if any, and returns it to the caller.
  DetachedSession ClearSessionCallback();
  // Detaches the waiting session only when it is session |id|, so a session
  // that replaced it in the meantime stays in place, even one whose context
  // took over the address of a freed one.
  DetachedSession ClearSessionCallback(uint64_t id);

  void AttachChannel(flutter::MethodChannel<flutter::EncodableValue>* channel);
  // After this a delivered URL is only queued. The host detaches before the
  // engine (and with it the channel) goes away.
  void DetachChannel();

 private:
  AuthCallbackRelay() = default;
  // Detaches the waiting session; called with the lock held.
  DetachedSession TakeSessionLocked();

  std::mutex lock_;
  std::vector<std::wstring> pending_;
  SessionCallback session_callback_ = nullptr;
  void* session_context_ = nullptr;
  uint64_t session_id_ = 0;  // 0 while no session waits
  uint64_t last_session_id_ = 0;
  flutter::MethodChannel<flutter::EncodableValue>* channel_ = nullptr;
};

// Creates "orvalin.ai/auth_callback", attaches it to the relay, then installs
// the handler that keeps it alive.
void RegisterAuthCallbackChannel(flutter::BinaryMessenger* messenger);
void HandleAuthCallbackCall(
    const flutter::MethodCall<flutter::EncodableValue>& call,
    std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>> result);

}  // namespace orvalin

#endif  // SERVICES_AUTH_CALLBACK_RELAY_H_
