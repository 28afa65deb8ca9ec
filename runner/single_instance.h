// One instance per logon: the mutex that marks the running instance, and the
// hand-off of a return URL from a later instance to the running one.
#ifndef RUNNER_SINGLE_INSTANCE_H_
#define RUNNER_SINGLE_INSTANCE_H_

#include <optional>
#include <string>

#include "win/unique_handle.h"
#include "win/windows.h"

// The single-instance mutex of this process, if it could be made or opened.
struct InstanceClaim {
  orvalin::win::KernelHandle mutex;
  bool another_instance_running = false;
};

// Creates or opens kSingleInstanceMutexName. A failed call counts as the
// first instance.
InstanceClaim ClaimSingleInstance();

// How long a later instance waits for the running instance's window (which
// may still be starting) or for the mutex to come free (the running instance
// may be ending, or failing to start).
inline constexpr DWORD kHandOffWaitMs = 10000;
inline constexpr DWORD kHandOffPollMs = 50;

// How long the running window may take to answer the hand-off.
inline constexpr UINT kHandOffSendTimeoutMs = 5000;

// The running instance's top-level window: class kWindowClassName and title
// kWindowTitle; null if there is none now.
HWND FindRunningInstanceWindow();

enum class Forwarded { kAnswered, kNotAnswered, kWindowGone };

// Sends |url| to |window| as a WM_COPYDATA record and waits at most
// |timeout_ms| (less when the window is hung) for the window to handle it.
Forwarded ForwardReturnUrl(HWND window, const std::wstring& url,
                           UINT timeout_ms = kHandOffSendTimeoutMs);

// How a later instance's hand-off ended.
struct HandOffResult {
  // Set when the running instance went away before a window of it took
  // over: this process then holds the claim and runs as the first instance.
  std::optional<InstanceClaim> claim;
  int exit_code = 0;
};

// A later instance's whole job: forward the start URL, if any, to the
// running window and bring that window to the front; or, when the running
// instance ends first, become the first instance.
HandOffResult HandOffToRunningInstance(
    const std::optional<std::wstring>& start_url,
    DWORD wait_ms = kHandOffWaitMs);

#endif  // RUNNER_SINGLE_INSTANCE_H_
