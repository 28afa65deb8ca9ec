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

// What CreateMutexW's outcome says: the name exists already, or it is
// refused for access (an elevated instance made it). Any other failure
// counts as the first instance.
bool AnotherInstanceRuns(HANDLE mutex, DWORD last_error);

// Creates or opens kSingleInstanceMutexName.
InstanceClaim ClaimSingleInstance();

// How long a later instance waits for the running instance's window to show
// (a slow engine start), or for the mutex to come free (the running instance
// is ending, or failing to start). The one deadline of the hand-off.
inline constexpr DWORD kHandOffWaitMs = 30000;
inline constexpr DWORD kHandOffPollMs = 50;

// How long a shown window, which pumps messages, may take to answer.
inline constexpr UINT kHandOffSendTimeoutMs = 5000;

// A window of class kWindowClassName and title kWindowTitle; null if none.
HWND FindRunningInstanceWindow();
// Such a window that is visible: it is shown from its first frame, inside
// its message loop, so it answers messages. Null if none is.
HWND FindShownInstanceWindow();

// ChangeWindowMessageFilterEx, or a stand-in for it.
using MessageFilter = BOOL(WINAPI*)(HWND, UINT, DWORD, PCHANGEFILTERSTRUCT);

// Lets |window| receive the hand-off record from processes of lower
// integrity: the browser starts later instances unelevated, while the
// running one may run as administrator. Every record is validated anyway.
bool AcceptHandOffFromLowerIntegrity(
    HWND window, MessageFilter filter = &ChangeWindowMessageFilterEx);

enum class Forwarded {
  kTaken,          // answered TRUE: a Dart side has the URL
  kRefused,        // answered FALSE: the instance can no longer deliver it
  kWindowGone,     // the window went away before it answered
  kNotResponding,  // failed at once: the window is hung
  kTimedOut,       // no answer in time; Windows may still deliver it later
  kBlocked,        // access denied: the window does not take our messages
};

// Classifies a failed send. A send that ran out its time may still be
// handled later, so it never counts as "gone" and is never repeated.
Forwarded ClassifyFailedSend(DWORD last_error, bool window_exists,
                             ULONGLONG elapsed_ms, UINT timeout_ms);

// Sends |url| to |window| as a WM_COPYDATA record and waits at most
// |timeout_ms| (less when the window is hung) for its answer.
Forwarded ForwardReturnUrl(HWND window, const std::wstring& url,
                           UINT timeout_ms = kHandOffSendTimeoutMs);

struct HandOffTimes {
  DWORD wait_ms = kHandOffWaitMs;
  DWORD poll_ms = kHandOffPollMs;
  UINT send_timeout_ms = kHandOffSendTimeoutMs;
};

// How a later instance's hand-off ended.
struct HandOffResult {
  // Set when the running instance went away before a window of it took
  // the URL: this process then holds the claim and runs as the first
  // instance.
  std::optional<InstanceClaim> claim;
  // 0: the URL was taken (or there was none); 1: nobody took it, and one
  // line on standard error says why.
  int exit_code = 0;
};

// A later instance's whole job: forward the start URL, if any, to the
// running instance's shown window and bring that window to the front; or,
// when the running instance ends first, become the first instance.
HandOffResult HandOffToRunningInstance(
    const std::optional<std::wstring>& start_url,
    const HandOffTimes& times = HandOffTimes());

#endif  // RUNNER_SINGLE_INSTANCE_H_
