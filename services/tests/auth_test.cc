// The auth callback relay and the auth session launcher, through their
// channels: queueing and pushing return URLs, waiting sessions and every way
// one ends, URL refusals, and the real shell launch under Wine.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "services/auth_callback_relay.h"
#include "services/auth_session_internal.h"
#include "services/auth_session_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

constexpr char kCallbackChannel[] = "orvalin.ai/auth_callback";
constexpr char kSessionChannel[] = "orvalin.ai/auth_session";
constexpr char kTake[] = "takePendingAuthCallbackUrls";
const std::wstring kLoginReturn = L"orvalinai://login-callback?code=a1&s=%7B";
const std::wstring kPaymentReturn = L"orvalinai://payment-return?id=7";

AuthCallbackRelay& Relay() { return AuthCallbackRelay::Instance(); }

std::string Approved(const std::string& rest) {
  return kApprovedAuthUrlPrefix + rest;
}

EncodableValue Urls(std::initializer_list<std::wstring> urls) {
  EncodableList list;
  for (const std::wstring& url : urls) {
    list.emplace_back(Utf8(url));
  }
  return EncodableValue(list);
}

// Each test starts and ends with an empty relay: nothing pending, no
// session, no channel.
class RelayTest : public ::testing::Test {
 protected:
  RelayTest() { ResetRelay(); }
  ~RelayTest() override {
    // A session still waiting is answered while its messenger exists.
    Relay().Deliver(L"orvalinai://test-teardown");
    ResetRelay();
  }
  static void ResetRelay() {
    Relay().DetachChannel();
    Relay().TakePending();
  }

  Answer Take() { return harness_.Call(kCallbackChannel, kTake); }

  ChannelHarness harness_;
};

TEST_F(RelayTest, UrlDeliveredAfterRegistrationIsPushedAndQueued) {
  RegisterAuthCallbackChannel(harness_.messenger());
  const std::wstring korean = L"orvalinai://checkout-return?name=홍길동";
  Relay().Deliver(kPaymentReturn);
  Relay().Deliver(korean);
  Relay().Deliver(kPaymentReturn);

  EXPECT_EQ(
      harness_.PushedAuthCallbacks(),
      (std::vector<EncodableValue>{EncodableValue(Utf8(kPaymentReturn)),
                                   EncodableValue(Utf8(korean)),
                                   EncodableValue(Utf8(kPaymentReturn))}));
  EXPECT_EQ(Take().value, Urls({kPaymentReturn, korean, kPaymentReturn}));
  EXPECT_EQ(Take().value, Urls({}));
}

TEST_F(RelayTest, TakeIgnoresItsArgumentsAndOtherNamesDrainNothing) {
  RegisterAuthCallbackChannel(harness_.messenger());
  for (const char* name :
       {"TakePendingAuthCallbackUrls", "authCallback", "takePending", ""}) {
    Relay().Deliver(kLoginReturn);
    EXPECT_EQ(harness_.Call(kCallbackChannel, name).kind,
              Answer::Kind::kNotImplemented)
        << name;
    EXPECT_EQ(harness_.Call(kCallbackChannel, kTake, EncodableValue()).value,
              Urls({kLoginReturn}));
  }
  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(
      harness_
          .Call(kCallbackChannel, kTake, Map({{"all", EncodableValue(true)}}))
          .value,
      Urls({kLoginReturn}));
  Relay().Deliver(L"");
  EXPECT_EQ(harness_
                .Call(kCallbackChannel, kTake,
                      EncodableList{EncodableValue(int32_t{1})})
                .value,
            Urls({L""}));
}

TEST_F(RelayTest, DetachedChannelOnlyQueues) {
  RegisterAuthCallbackChannel(harness_.messenger());
  Relay().DetachChannel();
  Relay().Deliver(kLoginReturn);
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  EXPECT_EQ(Take().value, Urls({kLoginReturn}));
}

// A session callback of the test's own, to watch the relay's hand-over.
struct Recorded {
  std::vector<std::wstring> urls;
  bool redeliver = false;
};
void RecordUrl(void* context, const std::wstring& url) {
  auto* recorded = static_cast<Recorded*>(context);
  recorded->urls.push_back(url);
  if (recorded->redeliver) {
    // Runs outside the relay's lock, so it may call back in.
    recorded->redeliver = false;
    Relay().Deliver(url + L"&again");
  }
}

TEST_F(RelayTest, WaitingSessionTakesOnlyTheNextUrl) {
  RegisterAuthCallbackChannel(harness_.messenger());
  Recorded recorded;
  EXPECT_FALSE(Relay().SetSessionCallback(&RecordUrl, &recorded));
  Relay().Deliver(kLoginReturn);
  Relay().Deliver(kPaymentReturn);

  EXPECT_EQ(recorded.urls, std::vector<std::wstring>{kLoginReturn});
  EXPECT_EQ(harness_.PushedAuthCallbacks(),
            std::vector<EncodableValue>{EncodableValue(Utf8(kPaymentReturn))});
  EXPECT_EQ(Take().value, Urls({kPaymentReturn}));
}

TEST_F(RelayTest, SessionCallbackMayCallBackIntoTheRelay) {
  RegisterAuthCallbackChannel(harness_.messenger());
  Recorded recorded;
  recorded.redeliver = true;
  Relay().SetSessionCallback(&RecordUrl, &recorded);
  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(recorded.urls, std::vector<std::wstring>{kLoginReturn});
  EXPECT_EQ(Take().value, Urls({kLoginReturn + L"&again"}));
}

TEST_F(RelayTest, DetachingHandsTheSessionBack) {
  Recorded first, second;
  Relay().SetSessionCallback(&RecordUrl, &first);
  DetachedSession replaced = Relay().SetSessionCallback(&RecordUrl, &second);
  EXPECT_EQ(replaced.callback, &RecordUrl);
  EXPECT_EQ(replaced.context, &first);

  // Only the session whose context is named is detached.
  EXPECT_FALSE(Relay().ClearSessionCallback(&first));
  DetachedSession detached = Relay().ClearSessionCallback(&second);
  EXPECT_EQ(detached.context, &second);
  EXPECT_FALSE(Relay().ClearSessionCallback());

  Relay().Deliver(kLoginReturn);
  EXPECT_TRUE(first.urls.empty());
  EXPECT_TRUE(second.urls.empty());
}

// The launcher with the shell replaced: records what it would open and can
// deliver a URL while the "browser" starts, as a forwarded URL would.
struct FakeShell {
  std::vector<std::wstring> opened;
  intptr_t result = 42;
  std::wstring deliver_during_launch;
};
FakeShell g_shell;

HINSTANCE FakeOpen(const std::wstring& url) {
  g_shell.opened.push_back(url);
  if (!g_shell.deliver_during_launch.empty()) {
    Relay().Deliver(g_shell.deliver_during_launch);
  }
  return reinterpret_cast<HINSTANCE>(g_shell.result);
}

class AuthSessionTest : public RelayTest {
 protected:
  AuthSessionTest() {
    g_shell = FakeShell();
    previous_ = SetUrlOpener(&FakeOpen);
    RegisterAuthCallbackChannel(harness_.messenger());
    RegisterAuthSessionChannel(harness_.messenger());
  }
  ~AuthSessionTest() override { SetUrlOpener(previous_); }

  uint64_t Start(const std::string& url) {
    return harness_.Send(
        kSessionChannel, "startAuthSession",
        std::make_unique<EncodableValue>(Map({{"url", EncodableValue(url)}})));
  }
  Answer StartNow(const std::string& url) {
    return harness_.AnswerFor(Start(url));
  }
  // Every result handed to a handler has been destroyed: no context or
  // session was leaked.
  void ExpectNothingHeld() {
    EXPECT_EQ(harness_.fake().add_ref_count(), harness_.fake().release_count());
  }

  UrlOpener previous_ = nullptr;
};

TEST_F(AuthSessionTest, WaitsForTheNextReturnUrlAndAnswersItUnchanged) {
  const std::string url = Approved("authorize?provider=kakao&redirect_to=x");
  const uint64_t call = Start(url);
  EXPECT_EQ(g_shell.opened, std::vector<std::wstring>{Utf8ToWide(url)});
  EXPECT_EQ(harness_.AnswerFor(call).kind, Answer::Kind::kNone);

  Relay().Deliver(kLoginReturn);
  Answer answer = harness_.AnswerFor(call);
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, EncodableValue(Utf8(kLoginReturn)));
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  ExpectNothingHeld();

  // The session served one URL; the next is queued and pushed again.
  Relay().Deliver(kPaymentReturn);
  EXPECT_EQ(harness_.PushedAuthCallbacks().size(), 1u);
  EXPECT_EQ(Take().value, Urls({kPaymentReturn}));
  EXPECT_EQ(harness_.fake().ResponseCount(call), 1);
}

TEST_F(AuthSessionTest, BaseInCapitalsAloneOrWithPrintableEdgesIsApproved) {
  std::string upper = kApprovedAuthUrlPrefix;
  std::transform(upper.begin(), upper.end(), upper.begin(),
                 [](unsigned char c) { return std::toupper(c); });
  for (const std::string& url :
       {upper + "authorize", Approved(""), Approved("?q=홍길동#frag"),
        Approved("!~\x80")}) {  // the printable edges
    const uint64_t call = Start(url);
    EXPECT_EQ(harness_.AnswerFor(call).kind, Answer::Kind::kNone) << url;
    Relay().Deliver(kLoginReturn);
    EXPECT_EQ(harness_.AnswerFor(call).value,
              EncodableValue(Utf8(kLoginReturn)));
  }
  EXPECT_EQ(g_shell.opened.size(), 4u);
}

TEST_F(AuthSessionTest, RefusesBadArgumentsAndUnapprovedUrlsWithoutOpening) {
  ExpectErrorForEach(&harness_, kSessionChannel, "startAuthSession",
                     {std::nullopt, EncodableValue(),
                      EncodableList{EncodableValue(Approved("x"))}},
                     "invalid_auth_session_args", "missing arguments");
  ExpectErrorForEach(&harness_, kSessionChannel, "startAuthSession",
                     {Map({{"link", EncodableValue(Approved("x"))}}),
                      Map({{"url", EncodableValue(int32_t{1})}}),
                      Map({{"url", EncodableValue()}})},
                     "invalid_auth_session_args", "url required");

  std::string short_by_one = kApprovedAuthUrlPrefix;
  short_by_one.pop_back();
  std::string plain_http = kApprovedAuthUrlPrefix;
  plain_http.erase(4, 1);
  for (const std::string& url :
       {std::string(), short_by_one, plain_http,
        std::string("https://evil.example/auth/v1/"),
        std::string("https://orvalin-dev.supabase.co.evil.example/auth/v1/"),
        " " + Approved("x"),
        // Approved, but able to break out of the browser's command line.
        Approved("a b"), Approved("a\"b"), Approved("a\tb"), Approved("a\nb"),
        Approved("a\x01"), Approved("a\x7F"), Approved("end "),
        Approved("x\" --new-window \"y"), Approved(std::string("\0z", 2))}) {
    SCOPED_TRACE(url);
    ExpectError(StartNow(url), "invalid_auth_session_url",
                "unapproved authentication URL");
  }
  EXPECT_TRUE(g_shell.opened.empty());
}

TEST_F(AuthSessionTest, RefusedCallLeavesTheWaitingSessionInPlace) {
  const uint64_t waiting = Start(Approved("authorize"));
  ExpectError(StartNow("https://elsewhere.example/"),
              "invalid_auth_session_url", "unapproved authentication URL");
  ExpectError(harness_.Call(kSessionChannel, "startAuthSession"),
              "invalid_auth_session_args", "missing arguments");
  EXPECT_EQ(harness_.Call(kSessionChannel, "StartAuthSession").kind,
            Answer::Kind::kNotImplemented);
  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(harness_.AnswerFor(waiting).value,
            EncodableValue(Utf8(kLoginReturn)));
}

TEST_F(AuthSessionTest, NewerSessionAnswersTheOlderOneAsSuperseded) {
  const uint64_t older = Start(Approved("authorize?n=1"));
  const uint64_t newer = Start(Approved("authorize?n=2"));
  ExpectError(harness_.AnswerFor(older), "auth_session_superseded",
              "새 로그인 요청으로 이전 요청이 취소되었습니다.");
  EXPECT_EQ(harness_.AnswerFor(newer).kind, Answer::Kind::kNone);

  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(harness_.AnswerFor(newer).value,
            EncodableValue(Utf8(kLoginReturn)));
  EXPECT_EQ(harness_.fake().ResponseCount(older), 1);
  ExpectNothingHeld();
}

TEST_F(AuthSessionTest, LaunchFailureAnswersAndLeavesNothingRegistered) {
  g_shell.result = 2;  // ERROR_FILE_NOT_FOUND, as ShellExecuteW reports it
  ExpectError(StartNow(Approved("authorize")), "auth_session_start_failed",
              "기본 브라우저를 열지 못했습니다.");
  ExpectNothingHeld();
  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(harness_.PushedAuthCallbacks().size(), 1u);
  EXPECT_EQ(Take().value, Urls({kLoginReturn}));

  g_shell.result = 32;  // the last failing value
  ExpectError(StartNow(Approved("authorize")), "auth_session_start_failed",
              "기본 브라우저를 열지 못했습니다.");
  g_shell.result = 33;
  EXPECT_EQ(StartNow(Approved("authorize")).kind, Answer::Kind::kNone);
}

TEST_F(AuthSessionTest, UrlDeliveredDuringAFailedLaunchKeepsTheFirstAnswer) {
  g_shell.result = 0;
  g_shell.deliver_during_launch = kLoginReturn;
  const uint64_t call = Start(Approved("authorize"));
  Answer answer = harness_.AnswerFor(call);
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, EncodableValue(Utf8(kLoginReturn)));
  EXPECT_EQ(harness_.fake().ResponseCount(call), 1);
  ExpectNothingHeld();

  Relay().Deliver(kPaymentReturn);
  EXPECT_EQ(Take().value, Urls({kPaymentReturn}));
}

TEST_F(AuthSessionTest, UrlDeliveredDuringASuccessfulLaunchAnswersTheCall) {
  g_shell.deliver_during_launch = kLoginReturn;
  Answer answer = StartNow(Approved("authorize"));
  EXPECT_EQ(answer.value, EncodableValue(Utf8(kLoginReturn)));
  ExpectNothingHeld();
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
}

// Registers record_url.exe as the prefix's https handler for one test and
// puts the previous registration back afterwards.
class HttpsHandlerOverride {
 public:
  explicit HttpsHandlerOverride(const std::wstring& command) {
    HKEY classes = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"Software\\Classes", 0, KEY_ALL_ACCESS,
                  &classes);
    classes_ = classes;
    HKEY existing = nullptr;
    https_existed_ = RegOpenKeyExW(classes_, L"https", 0, KEY_READ,
                                   &existing) == ERROR_SUCCESS;
    if (existing != nullptr) RegCloseKey(existing);
    wchar_t old[2048] = {};
    DWORD size = sizeof(old);
    command_existed_ =
        RegGetValueW(classes_, kCommandKey, nullptr, RRF_RT_REG_SZ, nullptr,
                     old, &size) == ERROR_SUCCESS;
    old_command_ = old;
    SetCommand(command);
  }
  ~HttpsHandlerOverride() {
    if (!https_existed_) {
      RegDeleteTreeW(classes_, L"https");
    } else if (command_existed_) {
      SetCommand(old_command_);
    } else {
      RegDeleteTreeW(classes_, kCommandKey);
    }
    RegCloseKey(classes_);
  }
  HttpsHandlerOverride(const HttpsHandlerOverride&) = delete;
  HttpsHandlerOverride& operator=(const HttpsHandlerOverride&) = delete;

 private:
  static constexpr wchar_t kCommandKey[] = L"https\\shell\\open\\command";

  void SetCommand(const std::wstring& command) {
    RegSetKeyValueW(classes_, kCommandKey, nullptr, REG_SZ, command.c_str(),
                    static_cast<DWORD>((command.size() + 1) * sizeof(wchar_t)));
  }

  HKEY classes_ = nullptr;
  bool https_existed_ = false;
  bool command_existed_ = false;
  std::wstring old_command_;
};

std::wstring ProgramFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  return std::filesystem::path(path).parent_path().wstring();
}

TEST_F(RelayTest, ShellOpensTheApprovedUrlInTheRegisteredBrowser) {
  RegisterAuthCallbackChannel(harness_.messenger());
  RegisterAuthSessionChannel(harness_.messenger());
  UrlOpener previous = SetUrlOpener(nullptr);  // the real ShellExecuteW
  TempDir dir;
  const std::wstring record = dir.path() + L"\\opened.txt";
  HttpsHandlerOverride handler(L"\"" + ProgramFolder() +
                               L"\\record_url.exe\" \"" + record +
                               L"\" \"%1\"");
  const std::string url = Approved(
      "authorize?provider=google&redirect_to=orvalinai%3A%2F%2Flogin-callback"
      "&code_challenge=Ab-_9");

  const uint64_t call = harness_.Send(
      kSessionChannel, "startAuthSession",
      std::make_unique<EncodableValue>(Map({{"url", EncodableValue(url)}})));
  EXPECT_EQ(harness_.AnswerFor(call).kind, Answer::Kind::kNone)
      << "a launched session waits for its return URL";
  for (int i = 0; i < 200 && !std::filesystem::exists(record); ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  std::ifstream recorded{std::filesystem::path(record), std::ios::binary};
  std::stringstream content;
  content << recorded.rdbuf();
  EXPECT_EQ(content.str(), url + "\n");

  Relay().Deliver(kLoginReturn);
  EXPECT_EQ(harness_.AnswerFor(call).value, EncodableValue(Utf8(kLoginReturn)));
  SetUrlOpener(previous);
}

}  // namespace
}  // namespace orvalin::testing
