#include "runner/single_instance.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

// The names and numbers are literals here: two builds hand off to each other
// only while they agree on them.
namespace {

constexpr wchar_t kMutexName[] =
    L"Local\\com.orvalin.ai.desktop.windows.SingleInstance";
constexpr wchar_t kClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";
constexpr wchar_t kTitle[] = L"Orvalin AI";

// What a receiving window saw of the WM_COPYDATA records sent to it.
struct Received {
  HWND to = nullptr;
  WPARAM sender = 1;
  ULONG_PTR id = 0;
  std::wstring payload;  // cbData bytes
  int count = 0;
};
Received g_received;

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
    return TRUE;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

using orvalin::win::KernelHandle;
using orvalin::win::WindowHandle;

// A hidden top-level window that records what it receives.
WindowHandle MakeWindow(const wchar_t* class_name, const wchar_t* title) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = RecordingProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassW(&window_class);  // fails harmlessly the second time
  return WindowHandle(CreateWindowExW(0, class_name, title, WS_OVERLAPPEDWINDOW,
                                      0, 0, 100, 100, nullptr, nullptr,
                                      GetModuleHandleW(nullptr), nullptr));
}

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

TEST(HandOffToRunningInstance, SendsOneRecordToTheRunningWindow) {
  InstanceClaim running_claim = ClaimSingleInstance();
  WindowHandle running = MakeWindow(kClass, kTitle);
  WindowHandle decoy = MakeWindow(L"CabinetWClass", kTitle);  // newer

  g_received = Received();
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

TEST(HandOffToRunningInstance, GivesUpWhenNoWindowComesAndTheMutexStays) {
  InstanceClaim running = ClaimSingleInstance();
  const ULONGLONG start = GetTickCount64();
  HandOffResult result =
      HandOffToRunningInstance(L"orvalinai://login-callback", 300);
  EXPECT_GE(GetTickCount64() - start, 280u);
  EXPECT_FALSE(result.claim);
  EXPECT_EQ(result.exit_code, 0);
}

TEST(HandOffToRunningInstance, TakesOverWhenTheRunningInstanceEnds) {
  InstanceClaim running = ClaimSingleInstance();
  std::thread ending([&] {
    Sleep(200);
    running.mutex.Reset();
  });
  const ULONGLONG start = GetTickCount64();
  HandOffResult result = HandOffToRunningInstance(std::nullopt, 5000);
  ending.join();
  EXPECT_LT(GetTickCount64() - start, 3000u);
  ASSERT_TRUE(result.claim);
  EXPECT_TRUE(result.claim->mutex);
  EXPECT_FALSE(result.claim->another_instance_running);
  // This process holds the mutex now.
  EXPECT_TRUE(ClaimSingleInstance().another_instance_running);
}

}  // namespace
