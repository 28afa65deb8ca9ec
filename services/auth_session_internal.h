// The one replaceable piece of the auth session launcher: handing a URL to
// the shell.
#ifndef SERVICES_AUTH_SESSION_INTERNAL_H_
#define SERVICES_AUTH_SESSION_INTERNAL_H_

#include <string>

#include "win/windows.h"

namespace orvalin {

// Opens |url| the way ShellExecuteW does and returns its result.
using UrlOpener = HINSTANCE (*)(const std::wstring& url);

// ShellExecuteW with the verb "open", as production uses it.
HINSTANCE OpenUrlWithShell(const std::wstring& url);

// Replaces the opener (tests only); null restores the shell. Returns the
// opener it replaced.
UrlOpener SetUrlOpener(UrlOpener opener);

}  // namespace orvalin

#endif  // SERVICES_AUTH_SESSION_INTERNAL_H_
