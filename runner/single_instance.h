// One instance per logon: the mutex that marks the running instance, and the
// hand-off of a return URL from a later instance to the running one.
#ifndef RUNNER_SINGLE_INSTANCE_H_
#define RUNNER_SINGLE_INSTANCE_H_

#include <windows.h>

#include <memory>
#include <optional>
#include <string>

struct HandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using UniqueHandle =
    std::unique_ptr<std::remove_pointer_t<HANDLE>, HandleCloser>;

// The single-instance mutex of this process, if it could be made or opened.
struct InstanceClaim {
  UniqueHandle mutex;
  bool another_instance_running = false;
};

// Creates or opens kSingleInstanceMutexName. A failed call counts as the
// first instance.
InstanceClaim ClaimSingleInstance();

// How long a later instance waits for the running instance's window, which
// may still be starting when the browser launches the later one.
inline constexpr DWORD kFindWindowTimeoutMs = 5000;
inline constexpr DWORD kFindWindowPollMs = 50;

// The running instance's top-level window: class kWindowClassName and title
// kWindowTitle, looked for until |timeout_ms| has passed; null if none.
HWND FindRunningInstanceWindow(DWORD timeout_ms = kFindWindowTimeoutMs,
                               DWORD poll_ms = kFindWindowPollMs);

// Sends |url| to |window| as a WM_COPYDATA record and waits until the window
// has handled it.
void ForwardReturnUrl(HWND window, const std::wstring& url);

// A later instance's whole job: forward the start URL, if any, and bring the
// running window to the front.
void HandOffToRunningInstance(const std::optional<std::wstring>& start_url);

#endif  // RUNNER_SINGLE_INSTANCE_H_
