#include "runner/single_instance.h"

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

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

// An instance's window on a thread of its own, following a script: made
// hidden at |create_at_ms|, maybe marked as done with its creation, shown
// at |show_at_ms|, and not pumping for |stall_ms| from |stall_at_ms|.
class ScriptedInstance {
 public:
  struct Script {
    DWORD create_at_ms = 0;
    bool marked = false;
    DWORD show_at_ms = INFINITE;
    DWORD stall_at_ms = INFINITE;
    DWORD stall_ms = 0;
  };

  explicit ScriptedInstance(const Script& script) {
    thread_ = std::thread([this, script] { Run(script); });
  }
  ~ScriptedInstance() {
    stop_ = true;
    thread_.join();
  }
  HWND window() const { return window_; }

 private:
  void Run(const Script& script) {
    const ULONGLONG start = GetTickCount64();
    Sleep(script.create_at_ms);
    WindowHandle window = MakeWindow(kClass, kTitle, WS_OVERLAPPEDWINDOW);
    if (script.marked) {
      SetPropW(window.Get(), L"com.orvalin.ai.desktop.windows.TakesReturnUrls",
               reinterpret_cast<HANDLE>(1));
    }
    window_ = window.Get();
    bool stalled = false;
    while (!stop_) {
      const ULONGLONG now = GetTickCount64() - start;
      if (now >= script.show_at_ms && !IsWindowVisible(window.Get())) {
        ShowWindow(window.Get(), SW_SHOWNORMAL);
      }
      if (now >= script.stall_at_ms && !stalled) {
        stalled = true;
        Sleep(script.stall_ms);
      }
      MSG message;
      while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        DispatchMessageW(&message);
      }
      Sleep(5);
    }
  }

  std::atomic<bool> stop_{false};
  std::atomic<HWND> window_{nullptr};
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
    MutexOutcome outcome;
  } cases[] = {
      {handle, ERROR_ALREADY_EXISTS, MutexOutcome::kExists},
      {handle, ERROR_SUCCESS, MutexOutcome::kMade},
      {handle, ERROR_ACCESS_DENIED, MutexOutcome::kMade},  // a handle: ours
      {nullptr, ERROR_ACCESS_DENIED, MutexOutcome::kDenied},
      {nullptr, ERROR_INVALID_HANDLE, MutexOutcome::kFailed},
      {nullptr, ERROR_ALREADY_EXISTS, MutexOutcome::kFailed},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ReadMutexOutcome(c.mutex, c.error), c.outcome)
        << c.mutex << " " << c.error;
  }
}

// Another user of the session is refused the shared name by its default
// DACL; an elevated instance of this user refuses it too. Only one user
// exists under Wine, so the decision is pinned here.
TEST(ClaimSingleInstance, AnotherUsersMutexLeavesThisUserAnInstance) {
  using M = MutexOutcome;
  struct Case {
    M shared, own;
    bool window_of_this_user;
    bool another;
  } cases[] = {
      {M::kMade, M::kMade, true, false},  // the first instance
      {M::kExists, M::kExists, false, true},
      {M::kDenied, M::kDenied, false, true},  // ours, elevated
      {M::kMade, M::kExists, false, true},    // the other user's shared
      {M::kFailed, M::kExists, false, true},  // name was freed meanwhile
      {M::kExists, M::kMade, false, true},    // an older build of ours
      {M::kDenied, M::kMade, false, false},   // another user's instance
      {M::kDenied, M::kFailed, false, false},
      {M::kDenied, M::kMade, true, true},  // an older elevated build of ours
      {M::kFailed, M::kFailed, true, false},
  };
  for (const Case& c : cases) {
    int asked = 0;
    EXPECT_EQ(AnotherInstanceRuns(c.shared, c.own,
                                  [&] {
                                    ++asked;
                                    return c.window_of_this_user;
                                  }),
              c.another)
        << static_cast<int>(c.shared) << " " << static_cast<int>(c.own);
    // Looked up only when the shared name is refused and ours is free.
    EXPECT_EQ(asked, c.shared == M::kDenied && c.own != M::kExists &&
                             c.own != M::kDenied
                         ? 1
                         : 0);
  }
}

TEST(ClaimSingleInstance, HoldsTheSharedAndTheUsersOwnName) {
  const std::wstring own = UserMutexName();
  ASSERT_EQ(own.rfind(std::wstring(kMutexName) + L".S-1-", 0), 0u) << own;
  InstanceClaim first = ClaimSingleInstance();
  ASSERT_TRUE(first.mutex && first.user_mutex);
  EXPECT_FALSE(first.another_instance_running);
  // An instance of another build that held only the user's name still
  // counts: the shared name is gone here.
  first.mutex.Reset();
  EXPECT_TRUE(ClaimSingleInstance().another_instance_running);
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
  ASSERT_EQ(FindInstanceWindows().ready, running.Get());

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
                                      {10000, 20000, 20, 300});
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
    running = InstanceClaim();
  });
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://payment-return?x", {5000, 10000, 20, 300});
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
        {300, 600, 20, 300});
    EXPECT_GE(GetTickCount64() - start, 280u);
    EXPECT_FALSE(result.claim);
    EXPECT_EQ(result.exit_code, with_url ? 1 : 0);
    EXPECT_EQ(result.failure, with_url ? HandOffFailure::kNoWindowTookUrl
                                       : HandOffFailure::kNoWindowShowed);
  }
  EXPECT_EQ(g_received.count, 0) << "sent to a window not yet shown";
}

TEST(HandOffToRunningInstance, TakesOverWhenTheRunningInstanceEnds) {
  InstanceClaim running = ClaimSingleInstance();
  std::thread ending([&] {
    Sleep(200);
    running = InstanceClaim();
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

TEST(HandOffToRunningInstance, HandsOverToAWindowThatNeverShows) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  // Its first frame never comes; it pumps messages from the end of its
  // creation, which it marks.
  ScriptedInstance never_drawn({0, true});
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?never-drawn", {5000, 10000, 20, 2000});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(result.failure, HandOffFailure::kNone);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_EQ(g_received.to, never_drawn.window());
}

TEST(HandOffToRunningInstance, AsksAgainWhileAShownWindowIsBrieflyHung) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  // Hung once it has not pumped for 5 s: the send fails at once then, and
  // nothing was queued.
  ScriptedInstance stalling({0, false, 0, 200, 7000});
  Sleep(5600);
  const ULONGLONG start = GetTickCount64();
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?stalled", {30000, 90000, 20, 5000});
  EXPECT_EQ(result.exit_code, 0) << static_cast<int>(result.failure);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_LT(GetTickCount64() - start, 25000u);
}

TEST(HandOffToRunningInstance, AsksAgainWhileAShownWindowIsBusy) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  // Busy for longer than the send's time limit, not yet long enough to
  // count as hung: a record sent now would run out its time.
  ScriptedInstance busy({0, false, 0, 300, 4000});
  Sleep(800);
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?busy", {15000, 30000, 20, 1000});
  EXPECT_EQ(result.exit_code, 0) << static_cast<int>(result.failure);
  EXPECT_EQ(g_received.count, 1);
}

TEST(ProbeWindow, TellsAnAnsweringWindowFromAGoneOne) {
  WindowHandle window = MakeWindow(kClass, kTitle);
  EXPECT_EQ(ProbeWindow(window.Get(), 1000), Forwarded::kTaken);
  const HWND gone = window.Get();
  window.Reset();
  EXPECT_EQ(ProbeWindow(gone, 1000), Forwarded::kWindowGone);
}

TEST(HandOffToRunningInstance, RefusesAUrlLongerThanTheRecordWithItsOwnEnd) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);  // as the window does for a record it drops
  ScriptedInstance shown({0, true, 0});
  const std::wstring prefix = L"orvalinai://login-callback?x=";
  const std::wstring longest = prefix + std::wstring(8191 - prefix.size(), 'a');
  HandOffResult result =
      HandOffToRunningInstance(longest + L"a", {5000, 10000, 20, 2000});
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.failure, HandOffFailure::kTooLong);
  EXPECT_EQ(g_received.count, 0);
  result = HandOffToRunningInstance(longest, {5000, 10000, 20, 2000});
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_EQ(g_received.payload.size(), 8192u);
}

TEST(HandOffToRunningInstance, WaitStartsAgainWhenAnotherInstanceTakesOver) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  const ULONGLONG start = GetTickCount64();
  // Appears after 2 s, ready 2 s later: past the wait counted from the
  // start, within the one counted from the take-over.
  ScriptedInstance taker({2000, false, 4000});
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?taken-over", {3000, 10000, 20, 2000});
  EXPECT_EQ(result.exit_code, 0) << static_cast<int>(result.failure);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_GE(GetTickCount64() - start, 3900u);
}

TEST(HandOffToRunningInstance, TakeOversNeverWaitPastTheLongestWait) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  std::atomic<bool> done{false};
  // A new starting instance every 300 ms, none ever ready.
  std::thread takers([&] {
    std::vector<std::unique_ptr<ScriptedInstance>> all;
    while (!done && all.size() < 40) {
      all.push_back(
          std::make_unique<ScriptedInstance>(ScriptedInstance::Script{}));
      Sleep(300);
    }
  });
  const ULONGLONG start = GetTickCount64();
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?chain", {1000, 3000, 20, 500});
  const ULONGLONG waited = GetTickCount64() - start;
  done = true;
  takers.join();
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(result.failure, HandOffFailure::kNoWindowTookUrl);
  EXPECT_EQ(result.limit_ms, 1000u);
  EXPECT_GE(waited, 2900u);
  EXPECT_LT(waited, 8000u);
}

TEST(HandOffToRunningInstance, HandsOverOnlyToAWindowOfThisUser) {
  InstanceClaim running = ClaimSingleInstance();
  ResetReceived(TRUE);
  ScriptedInstance ours({0, true, 0});
  while (ours.window() == nullptr) Sleep(1);
  Sleep(100);
  // Above ours in the Z order, and first to be found.
  ScriptedInstance theirs({0, true, 0});
  while (theirs.window() == nullptr) Sleep(1);
  const HWND other_user = theirs.window();
  const SameUserCheck same_user = [&](HWND window) {
    return window != other_user;
  };
  ASSERT_EQ(FindInstanceWindows().ready, other_user);
  EXPECT_EQ(FindInstanceWindows(same_user).ready, ours.window());
  HandOffResult result = HandOffToRunningInstance(
      L"orvalinai://login-callback?mine", {5000, 10000, 20, 2000}, same_user);
  EXPECT_EQ(result.exit_code, 0);
  EXPECT_EQ(g_received.count, 1);
  EXPECT_EQ(g_received.to, ours.window());
  // Our own windows are this user's.
  EXPECT_TRUE(RunsAsThisUser(ours.window()));
}

}  // namespace
