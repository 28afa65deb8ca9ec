// The one way this tree includes the Windows headers. Include this instead of
// <windows.h>, <shellapi.h>, <wincred.h>, <mmsystem.h>, <knownfolders.h> or
// <psapi.h>: those build on <windows.h>, and <windows.h> itself maps
// SendMessage to SendMessageW, which would rename the messenger's SendMessage
// operation in any file that includes it after client/. With this header the
// order of includes no longer matters.
#ifndef WIN_WINDOWS_H_
#define WIN_WINDOWS_H_

// The build defines these for the whole tree; they are repeated here so a
// file compiled on its own sees the same declarations.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#ifndef _UNICODE
#define _UNICODE
#endif

#include <windows.h>
// clang-format off: these need <windows.h> before them.
#include <knownfolders.h>
#include <mmsystem.h>
#include <psapi.h>
#include <shellapi.h>
#include <wincred.h>
// clang-format on

// Windows code here calls SendMessageW by its own name.
#ifdef SendMessage
#undef SendMessage
#endif

#endif  // WIN_WINDOWS_H_
