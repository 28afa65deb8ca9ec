// One instance per user and logon: the mutexes that mark the running
// instance, and the hand-off of a return URL from a later instance to the
// running one.
#ifndef RUNNER_SINGLE_INSTANCE_H_
#define RUNNER_SINGLE_INSTANCE_H_

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "win/unique_handle.h"
#include "win/windows.h"

// The single-instance mutexes of this process, where they could be made or
// opened.
struct InstanceClaim {
  // kSingleInstanceMutexName, which every build holds.
  orvalin::win::KernelHandle mutex;
  // The user's own name (UserMutexName), held by this build on.
  orvalin::win::KernelHandle user_mutex;
  bool another_instance_running = false;
};

// What CreateMutexW did with a name.
enum class MutexOutcome {
  kMade,    // a handle; the name was new (or the error is not "exists")
  kExists,  // a handle of a mutex that existed
  kDenied,  // no handle: the mutex exists but refuses this process
  kFailed,  // no handle for another reason
};
MutexOutcome ReadMutexOutcome(HANDLE mutex, DWORD last_error);

// Whether an instance of this user runs, from the outcomes on the shared
// and the user's own name. |window_of_this_user| is asked only when the
// shared name is refused and the user's own is free: an elevated instance
// of an older build, which holds only the shared name, or another user's
// instance.
bool AnotherInstanceRuns(MutexOutcome shared, MutexOutcome own,
                         const std::function<bool()>& window_of_this_user);

// kSingleInstanceMutexName, a dot and this user's SID; the shared name
// alone when the SID cannot be read.
std::wstring UserMutexName();

// Creates or opens both mutexes.
InstanceClaim ClaimSingleInstance();

// How long a later instance waits for the running instance's window to
// take the URL (a slow engine start), or for the mutexes to come free (the
// running instance is ending, or failing to start). The wait starts again
// when another instance takes over, but never runs past kHandOffLongestWaitMs
// in all.
inline constexpr DWORD kHandOffWaitMs = 30000;
inline constexpr DWORD kHandOffLongestWaitMs = 90000;
inline constexpr DWORD kHandOffPollMs = 50;

// How long a window that pumps messages may take to answer.
inline constexpr UINT kHandOffSendTimeoutMs = 5000;

// Whether |window|'s process runs as this process's user: its token's user
// equals ours. False when that cannot be read.
bool RunsAsThisUser(HWND window);
using SameUserCheck = std::function<bool(HWND)>;

// The windows of class kWindowClassName and title kWindowTitle whose
// processes run as this user.
struct InstanceWindows {
  // One that takes a return URL: it carries kTakesReturnUrlsProperty
  // (creation finished, shown or not), or it is shown (an older build,
  // which marks nothing, shows from its message loop). Null if none does.
  HWND ready = nullptr;
  // Those found up to the ready one (all of them when none is ready), at
  // most kMaxInstanceWindows: a window not seen before marks an instance
  // that took over.
  std::vector<HWND> all;
};
inline constexpr size_t kMaxInstanceWindows = 64;
InstanceWindows FindInstanceWindows(
    const SameUserCheck& same_user = &RunsAsThisUser);

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
  kNotResponding,  // hung or busy: no record was queued
  kTimedOut,       // no answer in time; Windows may still deliver it later
  kBlocked,        // access denied: the window does not take our messages
};

// Classifies a failed send. A send that ran out its time may still be
// handled later, so it never counts as "gone" and is never repeated.
Forwarded ClassifyFailedSend(DWORD last_error, bool window_exists,
                             ULONGLONG elapsed_ms, UINT timeout_ms);

// Whether |url| fits the record a running instance accepts.
bool FitsHandOffRecord(const std::wstring& url);

// Whether |window| answers a message that carries nothing, within
// |timeout_ms|: kTaken when it does (or when only the record may reach it),
// kNotResponding when it is busy or hung, kWindowGone. A busy window's
// WM_NULL may wait in its queue harmlessly, where a record would be taken
// after its sender had given up; so the record goes only to a window that
// just answered.
Forwarded ProbeWindow(HWND window, UINT timeout_ms);

// Sends |url| to |window| as a WM_COPYDATA record and waits at most
// |timeout_ms| (less when the window is hung) for its answer.
Forwarded ForwardReturnUrl(HWND window, const std::wstring& url,
                           UINT timeout_ms = kHandOffSendTimeoutMs);

struct HandOffTimes {
  DWORD wait_ms = kHandOffWaitMs;
  DWORD longest_wait_ms = kHandOffLongestWaitMs;
  DWORD poll_ms = kHandOffPollMs;
  UINT send_timeout_ms = kHandOffSendTimeoutMs;
};

// Why a later instance ended without its URL handed over.
enum class HandOffFailure {
  kNone,
  kNoWindowShowed,   // no URL, and no window took over in the wait: exit 0
  kNoWindowTookUrl,  // no window took the URL in the wait
  kTimedOut,         // the send ran out its time
  kNotResponding,    // the window was hung until the wait ran out
  kBlocked,          // the window refused our messages until the wait ran out
  kTooLong,          // the URL is longer than a running instance accepts
};

// How a later instance's hand-off ended.
struct HandOffResult {
  // Set when the running instance went away before a window of it took
  // the URL: this process then holds the claim and runs as the first
  // instance.
  std::optional<InstanceClaim> claim;
  // 0: the URL was taken (or there was none); 1: nobody took it.
  int exit_code = 0;
  HandOffFailure failure = HandOffFailure::kNone;
  // The limit |failure| ran into, for its line.
  ULONGLONG limit_ms = 0;
};

// A later instance's whole job: forward the start URL, if any, to the
// running instance's window and bring that window to the front; or, when
// the running instance ends first, become the first instance.
HandOffResult HandOffToRunningInstance(
    const std::optional<std::wstring>& start_url,
    const HandOffTimes& times = HandOffTimes(),
    const SameUserCheck& same_user = &RunsAsThisUser);

#endif  // RUNNER_SINGLE_INSTANCE_H_
