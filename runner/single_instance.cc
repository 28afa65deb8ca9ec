#include "runner/single_instance.h"

#include <iostream>
#include <utility>

#include "runner/app_constants.h"

namespace {

// This process, just started by the browser the user was in, may take the
// foreground; the running instance may not unless it is let, so a restore
// of its window would otherwise end in a taskbar flash.
void LetTakeForeground(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id != 0) {
    AllowSetForegroundWindow(process_id);
  }
}

void BringToFront(HWND window) {
  // Asynchronous, so a window that hangs from now on cannot hold this
  // process as well.
  if (IsIconic(window)) {
    ShowWindowAsync(window, SW_RESTORE);
  }
  SetForegroundWindow(window);
}

}  // namespace

InstanceClaim ClaimSingleInstance() {
  InstanceClaim claim;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  // Read before anything else can overwrite the last error.
  claim.another_instance_running = GetLastError() == ERROR_ALREADY_EXISTS;
  claim.mutex.Reset(mutex);
  return claim;
}

HWND FindRunningInstanceWindow() {
  return FindWindowW(kWindowClassName, kWindowTitle);
}

Forwarded ForwardReturnUrl(HWND window, const std::wstring& url,
                           UINT timeout_ms) {
  COPYDATASTRUCT record = {};
  record.dwData = kReturnUrlCopyDataId;
  record.cbData = static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t));
  record.lpData = const_cast<wchar_t*>(url.c_str());
  DWORD_PTR result = 0;
  if (SendMessageTimeoutW(window, WM_COPYDATA, 0,
                          reinterpret_cast<LPARAM>(&record), SMTO_ABORTIFHUNG,
                          timeout_ms, &result) != 0) {
    return Forwarded::kAnswered;
  }
  return IsWindow(window) ? Forwarded::kNotAnswered : Forwarded::kWindowGone;
}

HandOffResult HandOffToRunningInstance(
    const std::optional<std::wstring>& start_url, DWORD wait_ms) {
  const ULONGLONG deadline = GetTickCount64() + wait_ms;
  for (;;) {
    if (HWND window = FindRunningInstanceWindow()) {
      LetTakeForeground(window);
      const Forwarded forwarded = start_url
                                      ? ForwardReturnUrl(window, *start_url)
                                      : Forwarded::kAnswered;
      if (forwarded == Forwarded::kAnswered) {
        BringToFront(window);
        return {};
      }
      if (forwarded == Forwarded::kNotAnswered) {
        std::cerr << "The running instance did not take the return URL within "
                  << kHandOffSendTimeoutMs / 1000.0 << " s." << std::endl;
        return {std::nullopt, 1};
      }
      // The window went away before it took the URL: wait on.
    }
    // The running instance lets go of the mutex as it ends, also when its
    // window could not be made: then this one takes over.
    InstanceClaim claim = ClaimSingleInstance();
    if (!claim.another_instance_running) {
      return {std::move(claim), 0};
    }
    // Let go at once: a handle kept while waiting would make an instance
    // started meanwhile a later one as well.
    claim.mutex.Reset();
    if (GetTickCount64() >= deadline) {
      std::cerr << "No window of the running instance within "
                << wait_ms / 1000.0 << " s; the hand-off is given up."
                << std::endl;
      return {};
    }
    Sleep(kHandOffPollMs);
  }
}
