// What the host relies on of the stand-in engine, through its C interface.
// Its Dart-side connection is exercised by the app's end-to-end tests.
#include <windows.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "embedding/flutter_windows.h"
#include "gtest/gtest.h"

namespace {

// Runs the platform thread's messages until |done| or |wait_ms| pass.
bool PumpUntil(const std::function<bool()>& done, DWORD wait_ms = 5000) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  while (!done()) {
    if (GetTickCount64() > deadline) return false;
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      DispatchMessageW(&message);
    }
    Sleep(1);
  }
  return true;
}

FlutterDesktopEngineRef CreateEngine(
    const wchar_t* assets = L"data\\flutter_assets",
    const wchar_t* icu = L"data\\icudtl.dat") {
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = assets;
  properties.icu_data_path = icu;
  properties.aot_library_path = L"data\\app.so";
  properties.dart_entrypoint = "";
  return FlutterDesktopEngineCreate(&properties);
}

void CountReply(const uint8_t* /*data*/, size_t size, void* user_data) {
  // Each reply here comes empty; a non-empty one counts as wrong.
  *static_cast<int*>(user_data) += size == 0 ? 1 : 100;
}

const uint8_t* Bytes(const char* text) {
  return reinterpret_cast<const uint8_t*>(text);
}

// The host reports a missing engine as a failed view controller.
TEST(StandinEngineTest, RefusesAMissingDataFolderOrIcuFile) {
  EXPECT_EQ(CreateEngine(L"missing\\flutter_assets"), nullptr);
  EXPECT_EQ(CreateEngine(L"data\\flutter_assets", L"missing\\icudtl.dat"),
            nullptr);
  EXPECT_EQ(CreateEngine(L"data\\app.so"), nullptr) << "a file, not a folder";
  FlutterDesktopEngineRef engine = CreateEngine();
  EXPECT_NE(engine, nullptr);
  FlutterDesktopEngineDestroy(engine);
}

TEST(StandinEngineTest, MessengerOutlivesTheEngineWhileReferenced) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  EXPECT_TRUE(FlutterDesktopMessengerIsAvailable(messenger));
  FlutterDesktopEngineDestroy(engine);
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(messenger));
  int replies = 0;
  EXPECT_FALSE(FlutterDesktopMessengerSendWithReply(messenger, "c", Bytes("x"),
                                                    1, CountReply, &replies));
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(replies, 0);
  FlutterDesktopMessengerRelease(messenger);
}

TEST(StandinEngineTest, LockHoldsOffTeardown) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopMessengerAddRef(FlutterDesktopEngineGetMessenger(engine));
  std::atomic<bool> locked{false};
  std::atomic<bool> released{false};
  std::thread holder([&] {
    FlutterDesktopMessengerRef held = FlutterDesktopMessengerLock(messenger);
    locked = true;
    Sleep(200);
    released = true;
    FlutterDesktopMessengerUnlock(held);
  });
  while (!locked) Sleep(1);
  FlutterDesktopEngineDestroy(engine);
  EXPECT_TRUE(released);
  holder.join();
  FlutterDesktopMessengerRelease(messenger);
}

// Without a Dart side every awaited reply still comes, once, empty: later
// on the platform thread, or at shutdown.
TEST(StandinEngineTest, EveryAwaitedReplyComesOnce) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopMessengerRef messenger =
      FlutterDesktopEngineGetMessenger(engine);
  int answered = 0;
  int at_shutdown = 0;
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(messenger, "c", Bytes("a"),
                                                   1, CountReply, &answered));
  EXPECT_EQ(answered, 0);
  EXPECT_TRUE(PumpUntil([&] { return answered > 0; }));
  ASSERT_TRUE(FlutterDesktopMessengerSendWithReply(
      messenger, "c", Bytes("b"), 1, CountReply, &at_shutdown));
  FlutterDesktopEngineDestroy(engine);
  PumpUntil([] { return false; }, 50);
  EXPECT_EQ(answered, 1);
  EXPECT_EQ(at_shutdown, 1);
}

// The host shows its window from this callback.
TEST(StandinViewTest, NextFrameCallbackRunsOnceOnThePlatformThread) {
  FlutterDesktopEngineRef engine = CreateEngine();
  FlutterDesktopViewControllerRef controller =
      FlutterDesktopViewControllerCreate(200, 100, engine);
  ASSERT_NE(controller, nullptr);
  struct Frames {
    int calls = 0;
    DWORD thread = 0;
  } frames;
  FlutterDesktopEngineSetNextFrameCallback(
      engine,
      [](void* seen) {
        ++static_cast<Frames*>(seen)->calls;
        static_cast<Frames*>(seen)->thread = GetCurrentThreadId();
      },
      &frames);
  EXPECT_EQ(frames.calls, 0);
  EXPECT_TRUE(PumpUntil([&] { return frames.calls > 0; }));
  EXPECT_EQ(frames.thread, GetCurrentThreadId());
  FlutterDesktopViewControllerForceRedraw(controller);
  PumpUntil([] { return false; }, 100);
  EXPECT_EQ(frames.calls, 1);
  FlutterDesktopViewControllerDestroy(controller);
}

}  // namespace
