// Registers the orvalinai URL scheme for the current user, so a browser's
// return URL starts this executable with the URL as its one argument.
#ifndef RUNNER_URL_SCHEME_H_
#define RUNNER_URL_SCHEME_H_

#include <windows.h>

#include <string>

inline constexpr wchar_t kUrlScheme[] = L"orvalinai";
inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\orvalinai";

// Writes the scheme's keys under HKEY_CURRENT_USER, pointing at this
// executable. Every failure is silent.
void RegisterUrlScheme();

// The full path of |module| (null: the executable), however long; empty when
// it cannot be read. The buffer starts at |initial_units| and grows until the
// path fits, so a long path is never cut short.
std::wstring ModuleFileName(HMODULE module, DWORD initial_units = MAX_PATH);

// "<path>" "%1"
std::wstring OpenCommandFor(const std::wstring& executable_path);

#endif  // RUNNER_URL_SCHEME_H_
