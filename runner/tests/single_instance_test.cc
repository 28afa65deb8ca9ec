#include "runner/single_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "runner/app_constants.h"

namespace {

// What a receiving window saw of the WM_COPYDATA records sent to it.
struct Received {
  WPARAM sender = 1;
  ULONG_PTR id = 0;
  DWORD size = 0;
  std::wstring payload;
  int count = 0;
};
Received g_received;

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam,
                               LPARAM lparam) {
  if (message == WM_COPYDATA) {
    const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
    g_received.sender = wparam;
    g_received.id = record->dwData;
    g_received.size = record->cbData;
    g_received.payload.assign(static_cast<const wchar_t*>(record->lpData),
                              record->cbData / sizeof(wchar_t));
    ++g_received.count;
    return TRUE;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

// A registered class and one hidden top-level window of it.
class TestWindow {
 public:
  TestWindow(const wchar_t* class_name, const wchar_t* title)
      : class_name_(class_name) {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = RecordingProc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = class_name_.c_str();
    RegisterClassW(&window_class);
    window_ = CreateWindowExW(0, class_name_.c_str(), title,
                              WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                              nullptr, GetModuleHandleW(nullptr), nullptr);
  }
  ~TestWindow() {
    DestroyWindow(window_);
    UnregisterClassW(class_name_.c_str(), GetModuleHandleW(nullptr));
  }
  TestWindow(const TestWindow&) = delete;
  TestWindow& operator=(const TestWindow&) = delete;

  HWND get() const { return window_; }

 private:
  std::wstring class_name_;
  HWND window_ = nullptr;
};

TEST(ClaimSingleInstance, SecondClaimSeesTheFirst) {
  InstanceClaim first = ClaimSingleInstance();
  ASSERT_TRUE(first.mutex);
  EXPECT_FALSE(first.another_instance_running);

  InstanceClaim second = ClaimSingleInstance();
  EXPECT_TRUE(second.another_instance_running);

  second.mutex.reset();
  first.mutex.reset();
  // Once every handle is closed the name is free again.
  EXPECT_FALSE(ClaimSingleInstance().another_instance_running);
}

TEST(FindRunningInstanceWindow, NeedsBothClassAndTitle) {
  TestWindow decoy(L"CabinetWClass", kWindowTitle);
  TestWindow untitled(kWindowClassName, L"Something else");
  ASSERT_TRUE(decoy.get() && untitled.get());
  EXPECT_EQ(FindRunningInstanceWindow(0, 0), nullptr);

  TestWindow running(kWindowClassName, kWindowTitle);
  ASSERT_TRUE(running.get());
  EXPECT_EQ(FindRunningInstanceWindow(0, 0), running.get());
}

TEST(FindRunningInstanceWindow, GivesUpAfterTheTimeout) {
  const ULONGLONG start = GetTickCount64();
  EXPECT_EQ(FindRunningInstanceWindow(300, 50), nullptr);
  EXPECT_GE(GetTickCount64() - start, 280u);
}

TEST(ForwardReturnUrl, SendsOneRecordWithTheTerminatorCounted) {
  TestWindow running(kWindowClassName, kWindowTitle);
  g_received = Received();
  const std::wstring url = L"ORVALINAI://login-callback?code=\xD55C";

  ForwardReturnUrl(running.get(), url);

  EXPECT_EQ(g_received.count, 1);
  EXPECT_EQ(g_received.sender, 0u);
  EXPECT_EQ(g_received.id, kReturnUrlCopyDataId);
  EXPECT_EQ(g_received.size, (url.size() + 1) * 2);
  EXPECT_EQ(g_received.payload, url + L'\0');
}

}  // namespace
