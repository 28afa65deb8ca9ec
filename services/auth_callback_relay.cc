#include "services/auth_callback_relay.h"

#include <utility>

#include "services/service_helpers.h"

namespace orvalin {

AuthCallbackRelay& AuthCallbackRelay::Instance() {
  static AuthCallbackRelay relay;
  return relay;
}

bool AuthCallbackRelay::Deliver(const std::wstring& url) {
  DetachedSession session;
  flutter::MethodChannel<flutter::EncodableValue>* channel = nullptr;
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (session_callback_ != nullptr) {
      // A session serves one URL only.
      session = TakeSessionLocked();
    } else if (pending_.size() >= kMaxPendingReturnUrls) {
      return false;
    } else {
      pending_.push_back(url);
      channel = channel_;
    }
  }
  // Outside the lock: the callback and the push may call back into the relay.
  if (session) {
    session.callback(session.context, url);
    return true;
  }
  if (channel != nullptr) {
    channel->InvokeMethod(
        "authCallback",
        std::make_unique<flutter::EncodableValue>(WideToUtf8(url)));
  }
  return true;
}

std::vector<std::wstring> AuthCallbackRelay::TakePending() {
  std::lock_guard<std::mutex> guard(lock_);
  std::vector<std::wstring> taken = std::move(pending_);
  pending_.clear();
  return taken;
}

DetachedSession AuthCallbackRelay::TakeSessionLocked() {
  DetachedSession taken{session_callback_, session_context_};
  session_callback_ = nullptr;
  session_context_ = nullptr;
  session_id_ = 0;
  return taken;
}

uint64_t AuthCallbackRelay::SetSessionCallback(SessionCallback callback,
                                               void* context,
                                               DetachedSession* replaced) {
  std::lock_guard<std::mutex> guard(lock_);
  *replaced = TakeSessionLocked();
  session_callback_ = callback;
  session_context_ = context;
  session_id_ = ++last_session_id_;
  return session_id_;
}

DetachedSession AuthCallbackRelay::ClearSessionCallback() {
  std::lock_guard<std::mutex> guard(lock_);
  return TakeSessionLocked();
}

DetachedSession AuthCallbackRelay::ClearSessionCallback(uint64_t id) {
  std::lock_guard<std::mutex> guard(lock_);
  if (session_callback_ == nullptr || session_id_ != id) {
    return DetachedSession();
  }
  return TakeSessionLocked();
}

void AuthCallbackRelay::AttachChannel(
    flutter::MethodChannel<flutter::EncodableValue>* channel) {
  std::lock_guard<std::mutex> guard(lock_);
  channel_ = channel;
}

void AuthCallbackRelay::DetachChannel() {
  std::lock_guard<std::mutex> guard(lock_);
  channel_ = nullptr;
}

void HandleAuthCallbackCall(const Call& call, Result result) {
  if (call.MethodName() != "takePendingAuthCallbackUrls") {
    result->NotImplemented();
    return;
  }
  flutter::EncodableList urls;
  for (const std::wstring& url : AuthCallbackRelay::Instance().TakePending()) {
    urls.emplace_back(WideToUtf8(url));
  }
  result->Success(flutter::EncodableValue(std::move(urls)));
}

void RegisterAuthCallbackChannel(flutter::BinaryMessenger* messenger) {
  std::shared_ptr<Channel> channel =
      MakeServiceChannel(messenger, "orvalin.ai/auth_callback");
  // The relay pushes through this object; the handler's reference keeps it
  // alive for as long as the route is installed.
  AuthCallbackRelay::Instance().AttachChannel(channel.get());
  channel->SetCallHandler([channel](const Call& call, Result result) {
    HandleAuthCallbackCall(call, std::move(result));
  });
}

}  // namespace orvalin
