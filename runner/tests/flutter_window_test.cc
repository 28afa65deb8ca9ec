#include "runner/flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <utility>
#include <vector>

#include "client/testing/fake_messenger.h"
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
