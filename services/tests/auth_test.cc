// The auth callback relay and the auth session launcher, through their
// channels: queueing and pushing return URLs, waiting sessions and every way
// one ends, and URL refusals. The end-to-end sign-in test covers the real
// shell launch.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "services/auth_callback_relay.h"
#include "services/auth_session_internal.h"
#include "services/auth_session_service.h"
#include "services/tests/channel_harness.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

constexpr char kCallbackChannel[] = "orvalin.ai/auth_callback";
constexpr char kSessionChannel[] = "orvalin.ai/auth_session";
constexpr char kTake[] = "takePendingAuthCallbackUrls";
constexpr wchar_t kLoginWide[] = L"orvalinai://login-callback?code=a1&s=%7B";
constexpr char kLogin[] = "orvalinai://login-callback?code=a1&s=%7B";
constexpr wchar_t kPaymentWide[] = L"orvalinai://checkout-return?name=홍길동";
constexpr char kPayment[] = "orvalinai://checkout-return?name=홍길동";

AuthCallbackRelay& Relay() { return AuthCallbackRelay::Instance(); }

std::string Approved(const std::string& rest) {
  return kApprovedAuthUrlPrefix + rest;
}

EncodableValue Urls(std::initializer_list<const char*> urls) {
  return EncodableValue(EncodableList(urls.begin(), urls.end()));
}

// Each test starts and ends with an empty relay: nothing pending, no
// session, no channel.
class RelayTest : public ::testing::Test {
 protected:
  RelayTest() { Relay().TakePending(); }
  ~RelayTest() override {
    Relay().Deliver(L"orvalinai://test-teardown");  // answers a waiting call
    Relay().DetachChannel();
    Relay().TakePending();
  }

  Answer Take(const std::optional<EncodableValue>& arguments = {}) {
    return harness_.Call(kCallbackChannel, kTake, arguments);
  }

  ChannelHarness harness_;
};

TEST_F(RelayTest, UrlsAreQueuedAndPushedUntilTakenWhateverTheTakeCarries) {
  Relay().Deliver(kLoginWide);  // before registration: only queued
  RegisterAuthCallbackChannel(harness_.messenger());
  Relay().Deliver(kPaymentWide);
  Relay().Deliver(kLoginWide);
  EXPECT_EQ(harness_.PushedAuthCallbacks(),
            (std::vector<EncodableValue>{EncodableValue(kPayment),
                                         EncodableValue(kLogin)}));
  EXPECT_EQ(Take(Map({{"all", EncodableValue(true)}})).value,
            Urls({kLogin, kPayment, kLogin}));
  EXPECT_EQ(Take(EncodableList{}).value, Urls({}));
  Relay().Deliver(L"");
  EXPECT_EQ(Take(EncodableValue()).value, Urls({""}));

  Relay().DetachChannel();  // as the host does before the engine goes
  Relay().Deliver(kLoginWide);
  EXPECT_EQ(harness_.PushedAuthCallbacks().size(), 3u);
  EXPECT_EQ(Take().value, Urls({kLogin}));
}

std::vector<std::wstring> g_session_urls;
void KeepUrl(void*, const std::wstring& url) { g_session_urls.push_back(url); }

TEST_F(RelayTest, PendingListStopsAtItsBoundAndOnlyThere) {
  RegisterAuthCallbackChannel(harness_.messenger());
  for (size_t i = 0; i < kMaxPendingReturnUrls; ++i) {
    ASSERT_TRUE(Relay().Deliver(L"orvalinai://n/" + std::to_wstring(i)));
  }
  // Refused whole: neither queued nor pushed.
  EXPECT_FALSE(Relay().Deliver(kLoginWide));
  EXPECT_EQ(harness_.PushedAuthCallbacks().size(), kMaxPendingReturnUrls);
  // A waiting session still takes its URL: it is never queued.
  g_session_urls.clear();
  DetachedSession replaced;
  Relay().SetSessionCallback(&KeepUrl, nullptr, &replaced);
  EXPECT_TRUE(Relay().Deliver(kPaymentWide));
  EXPECT_EQ(g_session_urls, std::vector<std::wstring>{kPaymentWide});
  const std::vector<std::wstring> taken = Relay().TakePending();
  ASSERT_EQ(taken.size(), kMaxPendingReturnUrls);
  EXPECT_EQ(taken.back(),
            L"orvalinai://n/" + std::to_wstring(kMaxPendingReturnUrls - 1));
  // Taking makes room again.
  EXPECT_TRUE(Relay().Deliver(kLoginWide));
  EXPECT_EQ(Take().value, Urls({kLogin}));
}

// A session callback of the test's own, to watch the relay's hand-over.
std::vector<std::wstring> g_recorded;
void RecordUrl(void* context, const std::wstring& url) {
  g_recorded.push_back(url);
  // Runs outside the relay's lock, so it may call back in.
  if (context != nullptr) Relay().Deliver(L"again");
}

TEST_F(RelayTest, WaitingSessionTakesOnlyTheNextUrlAndMayCallBackIn) {
  RegisterAuthCallbackChannel(harness_.messenger());
  g_recorded.clear();
  DetachedSession replaced;
  int redeliver = 0;
  Relay().SetSessionCallback(&RecordUrl, &redeliver, &replaced);
  Relay().Deliver(kLoginWide);
  Relay().Deliver(kPaymentWide);
  EXPECT_EQ(g_recorded, std::vector<std::wstring>{kLoginWide});
  EXPECT_EQ(Take().value, Urls({"again", kPayment}));
}

// The shell replaced: records what it would open, answers |result|, and
// runs |during_launch| inside the launch, as a forwarded URL or a nested call
// would arrive.
struct FakeShell {
  std::vector<std::wstring> opened;
  intptr_t result = 42;
  std::function<void()> during_launch;
};
FakeShell g_shell;

HINSTANCE FakeOpen(const std::wstring& url) {
  g_shell.opened.push_back(url);
  const intptr_t result = g_shell.result;
  if (std::function<void()> nested = std::exchange(g_shell.during_launch, {})) {
    nested();
  }
  return reinterpret_cast<HINSTANCE>(result);
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
    return harness_.Send(kSessionChannel, "startAuthSession",
                         Map({{"url", EncodableValue(url)}}));
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
  // The approved URLs are ASCII: each byte is its own UTF-16 unit.
  EXPECT_EQ(g_shell.opened,
            std::vector<std::wstring>{std::wstring(url.begin(), url.end())});
  EXPECT_EQ(harness_.AnswerFor(call).kind, Answer::Kind::kNone);
  // Refused calls open nothing and leave the waiting session in place.
  ExpectErrorForEach(
      &harness_, kSessionChannel, "startAuthSession",
      {std::nullopt, EncodableValue(), EncodableList{EncodableValue("x")}},
      kAuthMissingArguments);
  ExpectErrorForEach(&harness_, kSessionChannel, "startAuthSession",
                     {Map({{"link", EncodableValue(Approved("x"))}}),
                      Map({{"url", EncodableValue(int32_t{1})}}),
                      Map({{"url", EncodableValue()}})},
                     kAuthUrlRequired);
  EXPECT_EQ(g_shell.opened.size(), 1u);

  Relay().Deliver(kPaymentWide);
  ExpectSuccess(harness_.AnswerFor(call), EncodableValue(kPayment));
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  ExpectNothingHeld();
  // The session served one URL; the next is queued and pushed again.
  Relay().Deliver(kLoginWide);
  EXPECT_EQ(Take().value, Urls({kLogin}));
  EXPECT_EQ(harness_.PushedAuthCallbacks().size(), 1u);
}

TEST_F(AuthSessionTest, OnlyTheBaseInAnyCaseFollowedByPrintableBytesOpens) {
  std::string upper = kApprovedAuthUrlPrefix;
  for (char& c : upper) c = static_cast<char>(std::toupper(c));
  // Both sides of each edge: the base's length, and the bytes around the
  // printable range (space and "!", "~" and DEL, DEL and 0x80).
  for (const std::string& url :
       {upper, Approved(""), Approved("?q=홍길동#frag"), Approved("!~\x80")}) {
    EXPECT_EQ(StartNow(url).kind, Answer::Kind::kNone) << url;  // waits
    Relay().Deliver(L"x");
  }
  const std::string base = Approved("");
  for (const std::string& url :
       {std::string(), base.substr(0, base.size() - 1), "http" + base.substr(5),
        " " + base,
        std::string("https://orvalin-dev.supabase.co.evil.example/auth/v1/"),
        Approved("a b"), Approved("a\"b"), Approved("a\tb"), Approved("\x01"),
        Approved("a\x7F"), Approved(std::string("\0z", 2))}) {
    SCOPED_TRACE(url);
    ExpectError(StartNow(url), kUnapprovedAuthUrl);
  }
  EXPECT_EQ(g_shell.opened.size(), 4u);
}

TEST_F(AuthSessionTest, LaunchFailureAnswersAndLeavesNothingRegistered) {
  for (intptr_t failure : {2, 32}) {  // ShellExecuteW fails up to 32
    g_shell.result = failure;
    ExpectError(StartNow(Approved("a")), kAuthSessionStartFailed);
  }
  ExpectNothingHeld();
  Relay().Deliver(kLoginWide);
  EXPECT_EQ(Take().value, Urls({kLogin}));
  g_shell.result = 33;
  EXPECT_EQ(StartNow(Approved("a")).kind, Answer::Kind::kNone);
}

// What arrives while the shell is still launching: the first answer counts,
// a newer session answers the older as superseded, and a failed launch
// detaches only its own session, never a newer one, even when the newer
// one's context took over the freed one's address.
TEST_F(AuthSessionTest, WhatArrivesDuringTheLaunchKeepsItsAnswers) {
  struct Case {
    intptr_t outer_result;
    bool deliver;  // a return URL arrives during the launch
    bool nest;     // a newer "startAuthSession" arrives after it
  };
  for (const Case& c : std::vector<Case>{{0, true, false},
                                         {42, true, false},
                                         {0, false, true},
                                         {42, false, true},
                                         {0, true, true}}) {
    SCOPED_TRACE(std::to_string(c.outer_result) + (c.nest ? " nested" : ""));
    uint64_t nested = 0;
    g_shell.result = c.outer_result;
    g_shell.during_launch = [&] {
      g_shell.result = 42;  // the nested launch succeeds
      if (c.deliver) Relay().Deliver(kLoginWide);
      if (c.nest) nested = Start(Approved("nested"));
    };
    const uint64_t outer = Start(Approved("outer"));
    if (c.deliver) {
      ExpectSuccess(harness_.AnswerFor(outer), EncodableValue(kLogin));
    } else {
      ExpectError(harness_.AnswerFor(outer), kAuthSessionSuperseded);
    }
    Relay().Deliver(kPaymentWide);
    if (c.nest) {
      ExpectSuccess(harness_.AnswerFor(nested), EncodableValue(kPayment));
    } else {
      EXPECT_EQ(Take().value, Urls({kPayment}));
    }
    ExpectNothingHeld();
  }
}

}  // namespace
}  // namespace orvalin::testing
