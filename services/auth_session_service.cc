#include "services/auth_session_service.h"

#include <cctype>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>

#include "services/auth_callback_relay.h"
#include "services/auth_session_internal.h"
#include "win/windows.h"

namespace orvalin {

const char kApprovedAuthUrlPrefix[] = ORVALIN_APPROVED_AUTH_URL_PREFIX;

namespace {

UrlOpener g_url_opener = &OpenUrlWithShell;

// Lets a delivered URL, a launch failure and a newer session compete for
// one method call: only the first answer counts.
class OneshotResult {
 public:
  explicit OneshotResult(Result result) : result_(std::move(result)) {}

  void Success(const flutter::EncodableValue& value) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!done_) {
      done_ = true;
      result_->Success(value);
    }
  }
  void Error(const ServiceError& error) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!done_) {
      done_ = true;
      AnswerError(result_, error);
    }
  }

 private:
  std::mutex mutex_;
  bool done_ = false;
  Result result_;
};

// What the relay holds while a session waits: a reference of its own.
using SessionContext = std::shared_ptr<OneshotResult>;

// Takes ownership of a context handed back by the relay.
std::unique_ptr<SessionContext> AdoptContext(void* context) {
  return std::unique_ptr<SessionContext>(static_cast<SessionContext*>(context));
}

// Answers and frees a session that a newer sign-in displaced, so its Dart
// call does not wait forever. Only this launcher registers sessions; a
// context of any other kind is not ours to interpret.
void AnswerSuperseded(DetachedSession session) {
  if (!session || session.callback != &OnSessionCallbackUrl) {
    return;
  }
  std::unique_ptr<SessionContext> context = AdoptContext(session.context);
  (*context)->Error(kAuthSessionSuperseded);
}

bool LaunchSucceeded(HINSTANCE shell_result) {
  return reinterpret_cast<intptr_t>(shell_result) > 32;
}

// Registers the session, opens the browser and handles a failed launch.
void StartSession(const std::string& url, Result result) {
  AuthCallbackRelay& relay = AuthCallbackRelay::Instance();
  AnswerSuperseded(relay.ClearSessionCallback());

  auto oneshot = std::make_shared<OneshotResult>(std::move(result));
  // Registered before the launch so a URL arriving during it is not missed.
  DetachedSession displaced;
  const uint64_t session = relay.SetSessionCallback(
      &OnSessionCallbackUrl, new SessionContext(oneshot), &displaced);
  AnswerSuperseded(displaced);

  if (LaunchSucceeded(g_url_opener(Utf8ToWide(url)))) {
    return;
  }
  // Whoever takes the context back from the relay frees it: here, unless a
  // delivery or a newer session took it during the launch. Its id tells it
  // apart from a newer context that got the freed one's address.
  if (DetachedSession mine = relay.ClearSessionCallback(session)) {
    AdoptContext(mine.context).reset();
  }
  oneshot->Error(kAuthSessionStartFailed);
}

}  // namespace

HINSTANCE OpenUrlWithShell(const std::wstring& url) {
  return ShellExecuteW(nullptr, L"open", url.c_str(), nullptr, nullptr,
                       SW_SHOWNORMAL);
}

UrlOpener SetUrlOpener(UrlOpener opener) {
  UrlOpener previous = g_url_opener;
  g_url_opener = opener != nullptr ? opener : &OpenUrlWithShell;
  return previous;
}

bool IsApprovedAuthUrl(const std::string& url) {
  const size_t prefix_length = std::strlen(kApprovedAuthUrlPrefix);
  if (url.size() < prefix_length) {
    return false;
  }
  for (size_t i = 0; i < prefix_length; ++i) {
    const int byte = static_cast<unsigned char>(url[i]);
    if (std::tolower(byte) != kApprovedAuthUrlPrefix[i]) {
      return false;
    }
  }
  return true;
}

bool HasUnsafeUrlByte(const std::string& url) {
  for (char c : url) {
    const unsigned char byte = static_cast<unsigned char>(c);
    if (byte < 0x21 || byte == 0x7F || byte == '"') {
      return true;
    }
  }
  return false;
}

void OnSessionCallbackUrl(void* context, const std::wstring& url) {
  std::unique_ptr<SessionContext> session = AdoptContext(context);
  (*session)->Success(flutter::EncodableValue(WideToUtf8(url)));
}

void HandleAuthSessionCall(const Call& call, Result result) {
  if (call.MethodName() != "startAuthSession") {
    result->NotImplemented();
    return;
  }
  if (ArgumentMap(call.Arguments()) == nullptr) {
    AnswerError(result, kAuthMissingArguments);
    return;
  }
  const std::string* url = FindStringArgument(call.Arguments(), "url");
  if (url == nullptr) {
    AnswerError(result, kAuthUrlRequired);
    return;
  }
  if (!IsApprovedAuthUrl(*url) || HasUnsafeUrlByte(*url)) {
    AnswerError(result, kUnapprovedAuthUrl);
    return;
  }
  StartSession(*url, std::move(result));
}

void RegisterAuthSessionChannel(flutter::BinaryMessenger* messenger) {
  RegisterStatelessChannel(messenger, "orvalin.ai/auth_session",
                           &HandleAuthSessionCall);
}

}  // namespace orvalin
