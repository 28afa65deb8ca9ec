#include "runner/single_instance.h"

#include <iostream>
#include <sstream>
#include <utility>

#include "runner/app_constants.h"

namespace {

// The lines a later instance ends with when its URL was not handed over.
constexpr char kNotRespondingLine[] =
    "The running instance is not responding; the return URL was not handed "
    "over.";
constexpr char kBlockedLine[] =
    "The running instance does not accept messages from this process; the "
    "return URL was not handed over.";

void WriteLine(const std::string& line) { std::cerr << line << std::endl; }

std::string Seconds(ULONGLONG ms) {
  std::ostringstream text;
  text << ms / 1000.0 << " s";
  return text.str();
}

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

// The exit of a hand-off that ended without the URL taken, and its line.
HandOffResult NotHandedOver(Forwarded forwarded, UINT timeout_ms) {
  switch (forwarded) {
    case Forwarded::kTimedOut:
      WriteLine("The running instance did not take the return URL within " +
                Seconds(timeout_ms) + ".");
      break;
    case Forwarded::kBlocked:
      WriteLine(kBlockedLine);
      break;
    default:
      WriteLine(kNotRespondingLine);
      break;
  }
  return {std::nullopt, 1};
}

}  // namespace

bool AnotherInstanceRuns(HANDLE mutex, DWORD last_error) {
  if (mutex != nullptr) {
    return last_error == ERROR_ALREADY_EXISTS;
  }
  return last_error == ERROR_ACCESS_DENIED;
}

InstanceClaim ClaimSingleInstance() {
  InstanceClaim claim;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  // Read before anything else can overwrite the last error.
  claim.another_instance_running = AnotherInstanceRuns(mutex, GetLastError());
  claim.mutex.Reset(mutex);
  return claim;
}

HWND FindRunningInstanceWindow() {
  return FindWindowW(kWindowClassName, kWindowTitle);
}

HWND FindShownInstanceWindow() {
  // A window of an instance that failed to start, or is still starting,
  // may stand before the shown one.
  HWND window = nullptr;
  while ((window = FindWindowExW(nullptr, window, kWindowClassName,
                                 kWindowTitle)) != nullptr) {
    if (IsWindowVisible(window)) {
      return window;
    }
  }
  return nullptr;
}

bool AcceptHandOffFromLowerIntegrity(HWND window, MessageFilter filter) {
  return filter(window, WM_COPYDATA, MSGFLT_ALLOW, nullptr) != FALSE;
}

Forwarded ClassifyFailedSend(DWORD last_error, bool window_exists,
                             ULONGLONG elapsed_ms, UINT timeout_ms) {
  if (elapsed_ms * 2 >= timeout_ms) {
    return Forwarded::kTimedOut;
  }
  if (last_error == ERROR_ACCESS_DENIED) {
    return Forwarded::kBlocked;
  }
  return window_exists ? Forwarded::kNotResponding : Forwarded::kWindowGone;
}

Forwarded ForwardReturnUrl(HWND window, const std::wstring& url,
                           UINT timeout_ms) {
  COPYDATASTRUCT record = {};
  record.dwData = kReturnUrlCopyDataId;
  record.cbData = static_cast<DWORD>((url.size() + 1) * sizeof(wchar_t));
  record.lpData = const_cast<wchar_t*>(url.c_str());
  DWORD_PTR answer = 0;
  const ULONGLONG start = GetTickCount64();
  if (SendMessageTimeoutW(window, WM_COPYDATA, 0,
                          reinterpret_cast<LPARAM>(&record), SMTO_ABORTIFHUNG,
                          timeout_ms, &answer) != 0) {
    return answer == FALSE ? Forwarded::kRefused : Forwarded::kTaken;
  }
  const DWORD error = GetLastError();
  return ClassifyFailedSend(error, IsWindow(window) != FALSE,
                            GetTickCount64() - start, timeout_ms);
}

HandOffResult HandOffToRunningInstance(
    const std::optional<std::wstring>& start_url, const HandOffTimes& times) {
  const ULONGLONG deadline = GetTickCount64() + times.wait_ms;
  for (;;) {
    // Only a shown window pumps messages: one that is still starting would
    // not answer in time, and a timed-out send must never be repeated.
    if (HWND window = FindShownInstanceWindow()) {
      LetTakeForeground(window);
      const Forwarded forwarded =
          start_url
              ? ForwardReturnUrl(window, *start_url, times.send_timeout_ms)
              : Forwarded::kTaken;
      switch (forwarded) {
        case Forwarded::kTaken:
          BringToFront(window);
          return {};
        case Forwarded::kRefused:
        case Forwarded::kWindowGone:
          break;  // the instance is ending: wait for the mutex
        default:
          return NotHandedOver(forwarded, times.send_timeout_ms);
      }
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
      WriteLine("No window of the running instance " +
                std::string(start_url ? "took the return URL" : "showed") +
                " within " + Seconds(times.wait_ms) + ".");
      return {std::nullopt, start_url ? 1 : 0};
    }
    Sleep(times.poll_ms);
  }
}
