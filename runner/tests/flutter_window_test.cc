#include "runner/flutter_window.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
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

// The channel goes with the engine; a URL arriving meanwhile must only
// queue, never reach it.
TEST_F(FlutterWindowTest, DetachesTheRelayBeforeTheControllerGoes) {
  messenger_.ClearSent();
  Relay().Deliver(L"orvalinai://login-callback?before");
  ASSERT_EQ(messenger_.sent().size(), 1u) << "pushed while attached";
  size_t pushed_at_teardown = 99;
  embedding_.on_controller_destroy = [&] {
    Relay().Deliver(L"orvalinai://login-callback?during");
    pushed_at_teardown = messenger_.sent().size() - 1;
  };
  DestroyWindow(window_.Handle());
  EXPECT_EQ(pushed_at_teardown, 0u);
  EXPECT_EQ(Relay().TakePending().size(), 2u);
}

}  // namespace
