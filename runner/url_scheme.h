// Registers the orvalinai URL scheme for the current user, so a browser's
// return URL starts this executable with the URL as its one argument.
#ifndef RUNNER_URL_SCHEME_H_
#define RUNNER_URL_SCHEME_H_

#include <windows.h>

#include <functional>
#include <string>

inline constexpr wchar_t kUrlScheme[] = L"orvalinai";
inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\orvalinai";

// Writes the scheme's keys under HKEY_CURRENT_USER, pointing at this
// executable. Every failure is silent.
void RegisterUrlScheme();

// The full path of |module| (null: the executable), however long; empty when
// it cannot be read.
std::wstring ModuleFileName(HMODULE module);

// Reads a path the way GetModuleFileNameW does into a buffer of |units|:
// returns its length, or |units| when it was cut short, or 0 on failure.
using PathReader = std::function<DWORD(wchar_t* buffer, DWORD units)>;

// The path |read| gives, with a buffer doubled from MAX_PATH up to the
// longest path Windows hands out (32,768 units); empty when it never fits.
std::wstring ReadGrowingPath(const PathReader& read);

// "<path>" "%1"
std::wstring OpenCommandFor(const std::wstring& executable_path);

#endif  // RUNNER_URL_SCHEME_H_
