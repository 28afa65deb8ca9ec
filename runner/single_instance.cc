#include "runner/single_instance.h"

#include <sddl.h>

#include <algorithm>
#include <iterator>
#include <utility>

#include "runner/app_constants.h"

namespace {

using orvalin::win::KernelHandle;

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

HandOffResult Failed(HandOffFailure failure, ULONGLONG limit_ms) {
  HandOffResult result;
  result.exit_code = failure == HandOffFailure::kNoWindowShowed ? 0 : 1;
  result.failure = failure;
  result.limit_ms = limit_ms;
  return result;
}

// The TOKEN_USER of |process|'s token; empty when it cannot be read.
std::vector<BYTE> ReadTokenUser(HANDLE process) {
  HANDLE token_handle = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token_handle)) {
    return {};
  }
  const KernelHandle token(token_handle);
  DWORD size = 0;
  GetTokenInformation(token.Get(), TokenUser, nullptr, 0, &size);
  if (size < sizeof(TOKEN_USER)) {
    return {};
  }
  std::vector<BYTE> user(size);
  if (!GetTokenInformation(token.Get(), TokenUser, user.data(), size, &size)) {
    return {};
  }
  return user;
}

PSID SidOf(std::vector<BYTE>& token_user) {
  return reinterpret_cast<TOKEN_USER*>(token_user.data())->User.Sid;
}

// This process's user, read once.
std::vector<BYTE>& ThisUser() {
  static std::vector<BYTE>* user =
      new std::vector<BYTE>(ReadTokenUser(GetCurrentProcess()));
  return *user;
}

// Notes |window| once; true when it was not seen before.
bool NoteWindow(std::vector<HWND>* seen, HWND window) {
  if (std::find(seen->begin(), seen->end(), window) != seen->end() ||
      seen->size() >= kMaxInstanceWindows) {
    return false;
  }
  seen->push_back(window);
  return true;
}

}  // namespace

MutexOutcome ReadMutexOutcome(HANDLE mutex, DWORD last_error) {
  if (mutex != nullptr) {
    return last_error == ERROR_ALREADY_EXISTS ? MutexOutcome::kExists
                                              : MutexOutcome::kMade;
  }
  return last_error == ERROR_ACCESS_DENIED ? MutexOutcome::kDenied
                                           : MutexOutcome::kFailed;
}

bool AnotherInstanceRuns(MutexOutcome shared, MutexOutcome own,
                         const std::function<bool()>& window_of_this_user) {
  // Only this user's processes make the user's own name; refused, it was
  // made by an elevated instance of ours.
  if (own == MutexOutcome::kExists || own == MutexOutcome::kDenied) {
    return true;
  }
  // Opened: another user's default DACL would have refused it.
  if (shared == MutexOutcome::kExists) {
    return true;
  }
  if (shared == MutexOutcome::kDenied) {
    return window_of_this_user();
  }
  return false;
}

std::wstring UserMutexName() {
  std::wstring name = kSingleInstanceMutexName;
  std::vector<BYTE>& user = ThisUser();
  wchar_t* sid = nullptr;
  if (user.empty() || !ConvertSidToStringSidW(SidOf(user), &sid)) {
    return name;
  }
  name += L".";
  name += sid;
  LocalFree(sid);
  return name;
}

InstanceClaim ClaimSingleInstance() {
  InstanceClaim claim;
  HANDLE mutex = CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  // Read before anything else can overwrite the last error.
  const MutexOutcome shared = ReadMutexOutcome(mutex, GetLastError());
  claim.mutex.Reset(mutex);
  static const std::wstring* user_name = new std::wstring(UserMutexName());
  MutexOutcome own = MutexOutcome::kFailed;
  if (*user_name != kSingleInstanceMutexName) {
    HANDLE user_mutex = CreateMutexW(nullptr, FALSE, user_name->c_str());
    own = ReadMutexOutcome(user_mutex, GetLastError());
    claim.user_mutex.Reset(user_mutex);
  }
  claim.another_instance_running = AnotherInstanceRuns(
      shared, own, [] { return !FindInstanceWindows().all.empty(); });
  return claim;
}

bool RunsAsThisUser(HWND window) {
  DWORD process_id = 0;
  GetWindowThreadProcessId(window, &process_id);
  if (process_id == GetCurrentProcessId()) {
    return true;
  }
  // Limited information is granted across integrity levels, so an elevated
  // instance of this user is still recognised.
  const KernelHandle process(
      OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, process_id));
  if (!process || ThisUser().empty()) {
    return false;
  }
  std::vector<BYTE> user = ReadTokenUser(process.Get());
  return !user.empty() && EqualSid(SidOf(user), SidOf(ThisUser())) != FALSE;
}

InstanceWindows FindInstanceWindows(const SameUserCheck& same_user) {
  InstanceWindows found;
  HWND window = nullptr;
  // Every window of the class and title, up to the first that is ready:
  // an instance that failed to start, or is still starting, may stand
  // before it; so may another user's.
  while ((window = FindWindowExW(nullptr, window, kWindowClassName,
                                 kWindowTitle)) != nullptr) {
    if (!same_user(window)) {
      continue;
    }
    NoteWindow(&found.all, window);
    // The mark first: under Wine, the first IsWindowVisible, like a
    // second FindWindowExW, loads the display driver (about 15 ms), which
    // the common hand-off to a marked window needs neither of.
    if (GetPropW(window, kTakesReturnUrlsProperty) != nullptr ||
        IsWindowVisible(window)) {
      found.ready = window;
      break;
    }
  }
  return found;
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

bool FitsHandOffRecord(const std::wstring& url) {
  return url.size() < kMaxForwardedUrlBytes / sizeof(wchar_t);
}

Forwarded ProbeWindow(HWND window, UINT timeout_ms) {
  DWORD_PTR answer = 0;
  if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, timeout_ms,
                          &answer) != 0) {
    return Forwarded::kTaken;
  }
  // An elevated window lets in the record alone from this process.
  if (GetLastError() == ERROR_ACCESS_DENIED) {
    return Forwarded::kTaken;
  }
  return IsWindow(window) ? Forwarded::kNotResponding : Forwarded::kWindowGone;
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
    const std::optional<std::wstring>& start_url, const HandOffTimes& times,
    const SameUserCheck& same_user) {
  const ULONGLONG start = GetTickCount64();
  const ULONGLONG last_deadline = start + times.longest_wait_ms;
  ULONGLONG deadline = start + times.wait_ms;
  std::vector<HWND> seen;
  // The last answer of a window that did not take the URL.
  Forwarded not_handed = Forwarded::kWindowGone;
  for (;;) {
    const InstanceWindows windows = FindInstanceWindows(same_user);
    // A window not seen before: an instance took over (or the first one
    // made its window), so the wait counts from now.
    for (const HWND window : windows.all) {
      if (NoteWindow(&seen, window)) {
        deadline =
            std::min(last_deadline,
                     std::max(deadline, GetTickCount64() + times.wait_ms));
      }
    }
    if (HWND window = windows.ready) {
      if (start_url && !FitsHandOffRecord(*start_url)) {
        return Failed(HandOffFailure::kTooLong, 0);
      }
      LetTakeForeground(window);
      Forwarded forwarded = Forwarded::kTaken;
      if (start_url) {
        forwarded = ProbeWindow(window, times.send_timeout_ms);
        if (forwarded == Forwarded::kTaken) {
          forwarded =
              ForwardReturnUrl(window, *start_url, times.send_timeout_ms);
        }
      }
      not_handed = forwarded;
      switch (forwarded) {
        case Forwarded::kTaken:
          BringToFront(window);
          return {};
        case Forwarded::kRefused:
        case Forwarded::kWindowGone:
          break;  // the instance is ending: wait for the mutex
        case Forwarded::kNotResponding:
        case Forwarded::kBlocked:
          // No record was queued: asked again while the wait lasts. Wine
          // also refuses a window whose thread is ending for access.
          break;
        case Forwarded::kTimedOut:
          return Failed(HandOffFailure::kTimedOut, times.send_timeout_ms);
      }
    } else {
      not_handed = Forwarded::kWindowGone;
    }
    // The running instance lets go of the mutex as it ends, also when its
    // window could not be made: then this one takes over.
    InstanceClaim claim = ClaimSingleInstance();
    if (!claim.another_instance_running) {
      HandOffResult result;
      result.claim = std::move(claim);
      return result;
    }
    // Let go at once: a handle kept while waiting would make an instance
    // started meanwhile a later one as well.
    claim.mutex.Reset();
    claim.user_mutex.Reset();
    if (GetTickCount64() >= deadline) {
      if (!start_url) {
        return Failed(HandOffFailure::kNoWindowShowed, times.wait_ms);
      }
      switch (not_handed) {
        case Forwarded::kNotResponding:
          return Failed(HandOffFailure::kNotResponding, times.wait_ms);
        case Forwarded::kBlocked:
          return Failed(HandOffFailure::kBlocked, times.wait_ms);
        default:
          return Failed(HandOffFailure::kNoWindowTookUrl, times.wait_ms);
      }
    }
    Sleep(times.poll_ms);
  }
}
