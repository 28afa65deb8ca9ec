#include "runner/single_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

// The names and numbers are literals here: two builds hand off to each other
// only while they agree on them.
namespace {

constexpr wchar_t kMutexName[] =
    L"Local\\com.orvalin.ai.desktop.windows.SingleInstance";
constexpr wchar_t kClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr wchar_t kTitle[] = L"Orvalin AI";

// What the receiving windows saw of the WM_COPYDATA records sent to them.
struct Received {
  HWND to = nullptr;
  WPARAM sender = 1;
  ULONG_PTR id = 0;
  std::wstring payload;  // cbData bytes
  std::atomic<int> count{0};
  std::atomic<LRESULT> answer{TRUE};
};
Received g_received;

void ResetReceived(LRESULT answer) {
  g_received.to = nullptr;
  g_received.payload.clear();
  g_received.count = 0;
  g_received.answer = answer;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  if (message == WM_COPYDATA) {
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    g_received.to = window;
    g_received.sender = wparam;
    g_received.id = record->dwData;
    g_received.payload.assign(static_cast<const wchar_t*>(record->lpData),
                              record->cbData / sizeof(wchar_t));
    ++g_received.count;
    return g_received.answer;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

using orvalin::win::KernelHandle;
using orvalin::win::WindowHandle;

// A top-level window that records what it receives.
WindowHandle MakeWindow(const wchar_t* class_name, const wchar_t* title,
                        DWORD style = WS_OVERLAPPEDWINDOW | WS_VISIBLE) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = RecordingProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassW(&window_class);  // fails harmlessly the second time
  return WindowHandle(CreateWindowExW(0, class_name, title, style, 0, 0, 100,
                                      100, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
}

// A running instance's window on a thread of its own, as in another
// process: hidden and pumping nothing for |start_ms| (a slow engine
// start), then shown from its message loop.
class RunningInstance {
 public:
  explicit RunningInstance(DWORD start_ms) {
    thread_ = std::thread([this, start_ms] {
      WindowHandle window = MakeWindow(kClass, kTitle, WS_OVERLAPPEDWINDOW);
      thread_id_ = GetCurrentThreadId();
      Sleep(start_ms);
      MSG message;
      PostMessageW(window.Get(), WM_NULL, 0, 0);
      while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (message.message == WM_NULL && !IsWindowVisible(window.Get())) {
          ShowWindow(window.Get(), SW_SHOWNORMAL);
        }
        DispatchMessageW(&message);
      }
    });
    while (thread_id_ == 0) Sleep(1);
  }
  ~RunningInstance() {
    PostThreadMessageW(thread_id_, WM_QUIT, 0, 0);
    thread_.join();
  }

 private:
  std::atomic<DWORD> thread_id_{0};
  std::thread thread_;
};

TEST(ClaimSingleInstance, SeesAnotherHandleOfTheMutex) {
  KernelHandle other(CreateMutexW(nullptr, FALSE, kMutexName));
  ASSERT_TRUE(other);
  EXPECT_TRUE(ClaimSingleInstance().another_instance_running);
  other.Reset();
  // Once every handle is closed the name is free again.
  InstanceClaim first = ClaimSingleInstance();
  EXPECT_TRUE(first.mutex);
  EXPECT_FALSE(first.another_instance_running);
}

TEST(ClaimSingleInstance, ReadsCreateMutexOutcomes) {
  const HANDLE handle = reinterpret_cast<HANDLE>(0x44);
  struct Case {
    HANDLE mutex;
    DWORD error;
    bool another;
  } cases[] = {
      {handle, ERROR_ALREADY_EXISTS, true},
      {handle, ERROR_SUCCESS, false},
      {handle, ERROR_ACCESS_DENIED, false},  // a handle came back: ours
      {nullptr, ERROR_ACCESS_DENIED, true},  // made by an elevated instance
      {nullptr, ERROR_INVALID_HANDLE, false},
      {nullptr, ERROR_ALREADY_EXISTS, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(AnotherInstanceRuns(c.mutex, c.error), c.another)
        << c.mutex << " " << c.error;
  }
}

TEST(AcceptHandOffFromLowerIntegrity, LetsInTheRecordOnlyForTheWindow) {
  static struct {
    HWND window;
    UINT message;
    DWORD action;
    PCHANGEFILTERSTRUCT status;
    int calls;
    BOOL result;
  } seen;
  seen = {nullptr, 0, 0, nullptr, 0, TRUE};
  MessageFilter recording = [](HWND window, UINT message, DWORD action,
                               PCHANGEFILTERSTRUCT status) -> BOOL {
    seen = {window, message, action, status, seen.calls + 1, seen.result};
    return seen.result;
  };
  const HWND window = reinterpret_cast<HWND>(0x123);
  EXPECT_TRUE(AcceptHandOffFromLowerIntegrity(window, recording));
  EXPECT_EQ(seen.calls, 1);
  EXPECT_EQ(seen.window, window);
  EXPECT_EQ(seen.message, 0x004Au);  // WM_COPYDATA, and nothing else
  EXPECT_EQ(seen.action, 1u);        // MSGFLT_ALLOW
  EXPECT_EQ(seen.status, nullptr);
  seen.result = FALSE;
  EXPECT_FALSE(AcceptHandOffFromLowerIntegrity(window, recording));
}

TEST(ClassifyFailedSend, OnlyAQuickFailureOfAGoneWindowMayBeRetried) {
  struct Case {
    DWORD error;
    bool exists;
    ULONGLONG elapsed;
    Forwarded forwarded;
  } cases[] = {
      {ERROR_TIMEOUT, true, 5000, Forwarded::kTimedOut},
      // May still be handled later on Windows: never "gone".
      {ERROR_INVALID_WINDOW_HANDLE, false, 2500, Forwarded::kTimedOut},
      {ERROR_TIMEOUT, true, 2499, Forwarded::kNotResponding},
      {ERROR_TIMEOUT, true, 0, Forwarded::kNotResponding},
      {ERROR_ACCESS_DENIED, true, 0, Forwarded::kBlocked},
      {ERROR_ACCESS_DENIED, false, 0, Forwarded::kBlocked},
      {ERROR_INVALID_WINDOW_HANDLE, false, 10, Forwarded::kWindowGone},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ClassifyFailedSend(c.error, c.exists, c.elapsed, 5000),
              c.forwarded)
        << c.error << " " << c.exists << " " << c.elapsed;
  }
}

TEST(HandOffToRunningInstance, SendsOneRecordToTheShownWindow) {
  InstanceClaim running_claim = ClaimSingleInstance();
  // Before ours in the Z order: an instance's window that never showed,
  // and a window of another program with the same title.
  WindowHandle running = MakeWindow(kClass, kTitle);
  WindowHandle failed = MakeWindow(kClass, kTitle, WS_OVERLAPPEDWINDOW);
  WindowHandle decoy = MakeWindow(L"CabinetWClass", kTitle);
  ASSERT_EQ(FindShownInstanceWindow(), running.Get());

  ResetReceived(TRUE);
  const std::wstring url = L"ORVALINAI://login-callback?code=\xD55C";
  HandOffResult result = HandOffToRunningInstance(url);

  EXPECT_FALSE(result.claim);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_EQ(g_received.to, running.Get());
  EXPECT_EQ(g_received.sender, 0u);
  EXPECT_EQ(g_received.id, 0x8001u);
  EXPECT_EQ(g_received.payload, url + L'\0');  // terminator counted
}

TEST(HandOffToRunningInstance, WaitsForAStartingWindowToShow) {
  InstanceClaim running_claim = ClaimSingleInstance();
  ResetReceived(TRUE);
  HandOffResult result;
  {
    // The start outlasts the send's time limit: sent at once, the record
    // would time out.
    RunningInstance starting(1500);
    result = HandOffToRunningInstance(L"orvalinai://login-callback?slow",
                                      {10000, 20, 300});
  }
  EXPECT_FALSE(result.claim);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(g_received.count, 1);
}

TEST(HandOffToRunningInstance, WaitsOnWhileRefusedAndTakesOverWithItsUrl) {
  InstanceClaim running = ClaimSingleInstance();
  WindowHandle closing = MakeWindow(kClass, kTitle);
  ResetReceived(FALSE);
  std::thread ending([&] {
    Sleep(300);
    running.mutex.Reset();
  });
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://payment-return?x", {5000, 20, 300});
  ending.join();
  EXPECT_GE(g_received.count, 2) << "asked again while refused";
  ASSERT_TRUE(result.claim);
  EXPECT_FALSE(result.claim->another_instance_running);
  EXPECT_EQ(result.exit_code, 0);
}

TEST(HandOffToRunningInstance, GivesUpAfterItsWaitWithOneOnlyForAUrl) {
  InstanceClaim running = ClaimSingleInstance();
  WindowHandle starting = MakeWindow(kClass, kTitle, WS_OVERLAPPEDWINDOW);
  ResetReceived(TRUE);
  for (const bool with_url : {true, false}) {
    const ULONGLONG start = GetTickCount64();
    HandOffResult result = HandOffToRunningInstance(
        with_url ? std::optional<std::wstring>(L"orvalinai://login-callback")
                 : std::nullopt,
        {300, 20, 300});
    EXPECT_GE(GetTickCount64() - start, 280u);
    EXPECT_FALSE(result.claim);
    EXPECT_EQ(result.exit_code, with_url ? 1 : 0);
  }
  EXPECT_EQ(g_received.count, 0) << "sent to a window not yet shown";
}

TEST(HandOffToRunningInstance, TakesOverWhenTheRunningInstanceEnds) {
  InstanceClaim running = ClaimSingleInstance();
  std::thread ending([&] {
    Sleep(200);
    running.mutex.Reset();
  });
  const ULONGLONG start = GetTickCount64();
  HandOffResult result = HandOffToRunningInstance(std::nullopt);
  ending.join();
  EXPECT_LT(GetTickCount64() - start, 3000u);
  ASSERT_TRUE(result.claim);
  EXPECT_TRUE(result.claim->mutex);
  EXPECT_FALSE(result.claim->another_instance_running);
  // This process holds the mutex now.
  EXPECT_TRUE(ClaimSingleInstance().another_instance_running);
}

}  // namespace
