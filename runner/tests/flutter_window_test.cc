#include "runner/flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "client/testing/fake_messenger.h"
#include "runner/debug_console.h"
#include "runner/tests/fake_embedding.h"
#include "services/auth_callback_relay.h"

namespace {

orvalin::AuthCallbackRelay& Relay() {
  return orvalin::AuthCallbackRelay::Instance();
}

// A created window over the fake embedding. Forwarded URLs, malformed or
// not: tests/e2e, through the app and its host probe.
class FlutterWindowTest : public testing::Test {
 protected:
  void SetUp() override {
    Relay().TakePending();
    ASSERT_TRUE(window_.Create(L"host", {10, 10}, {800, 600}));
  }

  flutter::testing::FakeMessenger messenger_;
  flutter::testing::FakeEmbedding embedding_;
  FlutterWindow window_{flutter::EngineProject(L"data")};
};

TEST_F(FlutterWindowTest, ViewIsMadeAtTheClientAreaSize) {
  RECT client = {};
  GetClientRect(window_.Handle(), &client);
  const std::string created = "ViewControllerCreate " +
                              std::to_string(client.right) + "x" +
                              std::to_string(client.bottom);
  EXPECT_EQ(
      std::count(embedding_.events.begin(), embedding_.events.end(), created),
      1);
  EXPECT_FALSE(IsWindowVisible(window_.Handle()));
  embedding_.PresentFrame();
  EXPECT_TRUE(IsWindowVisible(window_.Handle()));
}

// A hand-off record as a later instance sends it.
struct HandOff {
  explicit HandOff(const std::wstring& text) : url(text) {
    record.dwData = 0x8001;
    record.cbData = static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t));
    record.lpData = url.data();
  }
  LRESULT SendTo(HWND window) {
    return SendMessageW(window, WM_COPYDATA, 0,
                        reinterpret_cast<LPARAM>(&record));
  }
  std::wstring url;
  COPYDATASTRUCT record = {};
};

TEST_F(FlutterWindowTest, RecordAnsweredTrueOnlyWhileAURLCanReachDart) {
  messenger_.ClearSent();
  EXPECT_EQ(
      HandOff(L"orvalinai://login-callback?running").SendTo(window_.Handle()),
      TRUE);
  ASSERT_EQ(messenger_.sent().size(), 1u) << "pushed while running";

  // The channel goes with the engine: from the start of the teardown a
  // return URL is refused, so its sender waits and takes over; other
  // records keep their TRUE; the relay no longer pushes.
  const HWND window = window_.Handle();  // cleared once the teardown starts
  LRESULT refused = TRUE, foreign = FALSE;
  size_t pushed_at_teardown = 99;
  embedding_.on_controller_destroy = [&] {
    refused = HandOff(L"orvalinai://login-callback?closing").SendTo(window);
    foreign = HandOff(L"https://example.com/").SendTo(window);
    Relay().Deliver(L"orvalinai://login-callback?direct");
    pushed_at_teardown = messenger_.sent().size() - 1;
  };
  DestroyWindow(window);
  EXPECT_EQ(refused, FALSE);
  EXPECT_EQ(foreign, TRUE);
  EXPECT_EQ(pushed_at_teardown, 0u);
  const std::vector<std::wstring> expected = {
      L"orvalinai://login-callback?running",
      L"orvalinai://login-callback?direct"};
  EXPECT_EQ(Relay().TakePending(), expected);
}

// A flood of records stops at the relay's bound; the record past it is
// refused, so its sender reports it instead of losing it here.
TEST_F(FlutterWindowTest, RecordPastThePendingBoundIsRefused) {
  Relay().TakePending();
  messenger_.ClearSent();
  for (size_t i = 0; i < orvalin::kMaxPendingReturnUrls; ++i) {
    ASSERT_EQ(HandOff(L"orvalinai://login-callback?n=" + std::to_wstring(i))
                  .SendTo(window_.Handle()),
              TRUE);
  }
  EXPECT_EQ(
      HandOff(L"orvalinai://login-callback?past").SendTo(window_.Handle()),
      FALSE);
  EXPECT_EQ(messenger_.sent().size(), orvalin::kMaxPendingReturnUrls);
  EXPECT_EQ(Relay().TakePending().size(), orvalin::kMaxPendingReturnUrls);
  EXPECT_EQ(
      HandOff(L"orvalinai://login-callback?after").SendTo(window_.Handle()),
      TRUE);
  Relay().TakePending();
}

// Literal: a later instance of another build looks for this name.
constexpr wchar_t kMark[] = L"com.orvalin.ai.desktop.windows.TakesReturnUrls";

TEST_F(FlutterWindowTest, MarkedAsTakingUrlsFromCreationUntilTheTeardown) {
  const HWND window = window_.Handle();
  EXPECT_FALSE(IsWindowVisible(window));
  EXPECT_NE(GetPropW(window, kMark), nullptr) << "hidden, yet it takes URLs";
  HANDLE mark_at_teardown = reinterpret_cast<HANDLE>(1);
  embedding_.on_controller_destroy = [&] {
    mark_at_teardown = GetPropW(window, kMark);
  };
  DestroyWindow(window);
  EXPECT_EQ(mark_at_teardown, nullptr);
}

TEST(FlutterWindow, UnmarkedWhenItsCreationFails) {
  flutter::testing::FakeMessenger messenger;
  flutter::testing::FakeEmbedding embedding;
  embedding.controller_to_create = nullptr;
  FlutterWindow window(flutter::EngineProject(L"data"));
  EXPECT_FALSE(window.Create(L"host", {10, 10}, {800, 600}));
  if (window.Handle() != nullptr) {
    EXPECT_EQ(GetPropW(window.Handle(), kMark), nullptr);
  }
}

// Pumps this thread's messages until |done| or about 10 s.
template <typename Done>
bool PumpUntil(Done done) {
  for (int i = 0; i < 1000 && !done(); ++i) {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    Sleep(10);
  }
  return done();
}

TEST(FlutterWindow, ShownWhenItsFirstFrameNeverComes) {
  flutter::testing::FakeMessenger messenger;
  flutter::testing::FakeEmbedding embedding;
  FlutterWindow window(flutter::EngineProject(L"data"),
                       &ChangeWindowMessageFilterEx, 300);
  ASSERT_TRUE(window.Create(L"host", {10, 10}, {800, 600}));
  EXPECT_FALSE(IsWindowVisible(window.Handle()));
  EXPECT_TRUE(PumpUntil([&] { return IsWindowVisible(window.Handle()); }));
  // A frame after all shows nothing new, and nothing breaks.
  embedding.PresentFrame();
  EXPECT_TRUE(IsWindowVisible(window.Handle()));
}

TEST(FlutterWindow, TheFirstFrameShowsItAndTheFallbackStaysQuiet) {
  flutter::testing::FakeMessenger messenger;
  flutter::testing::FakeEmbedding embedding;
  FlutterWindow window(flutter::EngineProject(L"data"),
                       &ChangeWindowMessageFilterEx, 300);
  ASSERT_TRUE(window.Create(L"host", {10, 10}, {800, 600}));
  embedding.PresentFrame();
  ASSERT_TRUE(IsWindowVisible(window.Handle()));
  ShowWindow(window.Handle(), SW_HIDE);  // as if hidden by the app
  PumpUntil([] { return false; });
  EXPECT_FALSE(IsWindowVisible(window.Handle())) << "the fallback still ran";
}

// Started from a command prompt a GUI program attaches to its console but
// has no handle of it: the streams not redirected must be pointed at it.
TEST(StandardStreams, PointedAtTheConsoleUnlessRedirected) {
  struct Case {
    bool output_given, error_given, console;
    bool reopen_output, reopen_error, has_error;
  } cases[] = {
      {false, false, true, true, true, true},      // a command prompt
      {true, true, true, false, false, true},      // 2>file from it
      {true, false, true, false, true, true},      // >file from it
      {false, true, false, false, false, true},    // piped, no console
      {false, false, false, false, false, false},  // the browser, the shell
      {true, false, false, false, false, false},
  };
  for (const Case& c : cases) {
    const StreamPlan plan =
        PlanStandardStreams(c.output_given, c.error_given, c.console);
    EXPECT_EQ(plan.reopen_output, c.reopen_output);
    EXPECT_EQ(plan.reopen_error, c.reopen_error);
    EXPECT_EQ(plan.has_standard_error, c.has_error)
        << c.output_given << c.error_given << c.console;
  }
}

TEST(FlutterWindow, LetsTheRecordInFromLowerIntegrityOnceCreated) {
  static std::vector<std::pair<HWND, UINT>> filtered;
  filtered.clear();
  MessageFilter recording = [](HWND window, UINT message, DWORD,
                               PCHANGEFILTERSTRUCT) -> BOOL {
    filtered.emplace_back(window, message);
    return TRUE;
  };
  flutter::testing::FakeMessenger messenger;
  flutter::testing::FakeEmbedding embedding;
  FlutterWindow window(flutter::EngineProject(L"data"), recording);
  ASSERT_TRUE(window.Create(L"host", {10, 10}, {800, 600}));
  ASSERT_EQ(filtered.size(), 1u);
  EXPECT_EQ(filtered[0], std::make_pair(window.Handle(), UINT{WM_COPYDATA}));
}

}  // namespace
