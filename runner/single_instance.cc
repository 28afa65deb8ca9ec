#include "runner/single_instance.h"

#include "runner/app_constants.h"

InstanceClaim ClaimSingleInstance() {
  InstanceClaim claim;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  // Read before anything else can overwrite the last error.
  claim.another_instance_running = GetLastError() == ERROR_ALREADY_EXISTS;
  claim.mutex.reset(mutex);
  return claim;
}

HWND FindRunningInstanceWindow(DWORD timeout_ms, DWORD poll_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  for (;;) {
    HWND window = FindWindowW(kWindowClassName, kWindowTitle);
    if (window != nullptr || GetTickCount64() >= deadline) {
      return window;
    }
    Sleep(poll_ms);
  }
}

void ForwardReturnUrl(HWND window, const std::wstring& url) {
  COPYDATASTRUCT record = {};
  record.dwData = kReturnUrlCopyDataId;
  record.cbData = static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t));
  record.lpData = const_cast<wchar_t*>(url.c_str());
  SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
}

void HandOffToRunningInstance(const std::optional<std::wstring>& start_url) {
  // Only a URL is worth waiting for; without one a single look will do.
  HWND window =
      start_url ? FindRunningInstanceWindow() : FindRunningInstanceWindow(0, 0);
  if (window == nullptr) {
    return;
  }
  if (start_url) {
    ForwardReturnUrl(window, *start_url);
  }
  SetForegroundWindow(window);
}
