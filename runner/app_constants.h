// Names and numbers the shell shares between its first and later instances.
#ifndef RUNNER_APP_CONSTANTS_H_
#define RUNNER_APP_CONSTANTS_H_

#include "win/windows.h"

// The top-level window's title; a later instance looks for it.
inline constexpr wchar_t kWindowTitle[] = L"Orvalin AI";

// The window class every Win32Window registers and a later instance looks
// for beside the title, so another program's window with the same title is
// never handed a URL.
inline constexpr wchar_t kWindowClassName[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// One instance per logon: the mutex lives in the logon's local namespace.
// Every build holds it, so builds of different versions hand over to each
// other.
inline constexpr wchar_t kSingleInstanceMutexName[] =
    L"Local\\com.orvalin.ai.desktop.windows.SingleInstance";

// The property a host window carries from the end of its creation until its
// teardown starts: it then takes return URLs, shown or not.
inline constexpr wchar_t kTakesReturnUrlsProperty[] =
    L"com.orvalin.ai.desktop.windows.TakesReturnUrls";

// The dwData of a WM_COPYDATA record that carries a forwarded return URL.
inline constexpr ULONG_PTR kReturnUrlCopyDataId = 0x8001;

// Largest forwarded record accepted: 8191 units plus the terminator.
inline constexpr DWORD kMaxForwardedUrlBytes = 0x4000;

#endif  // RUNNER_APP_CONSTANTS_H_
