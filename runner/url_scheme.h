// Registers the orvalinai URL scheme for the current user, so a browser's
// return URL starts this executable with the URL as its one argument, and
// removes that registration again.
#ifndef RUNNER_URL_SCHEME_H_
#define RUNNER_URL_SCHEME_H_

#include <string>

inline constexpr wchar_t kUrlScheme[] = L"orvalinai";
inline constexpr wchar_t kUrlSchemeKey[] = L"Software\\Classes\\orvalinai";

// Writes the scheme's keys under HKEY_CURRENT_USER, pointing at this
// executable. Every failure is silent.
void RegisterUrlScheme();

// While the scheme's command starts |executable_path| (in either form),
// removes what RegisterUrlScheme and the installer wrote: the command, the
// scheme key's two values, then each of the command, open, shell and scheme
// keys that is left empty. Values and keys other software added stay, and
// so does their key. False when the command names another program (nothing
// is touched then) or a removal failed.
bool UnregisterUrlScheme(const std::wstring& executable_path);

// The switch the installer runs this executable with on uninstall: it calls
// UnregisterUrlScheme for itself and ends.
inline constexpr wchar_t kUnregisterSchemeSwitch[] = L"--unregister-url-scheme";

// True when |command_line| is "<program> --unregister-url-scheme".
bool IsSchemeRemovalRun(const wchar_t* command_line);

// "<path>" --single-argument %1: the shell puts the URL in literally, and
// ArgumentList takes everything after the switch as one argument, so no
// quote in a URL can end it and start another.
std::wstring OpenCommandFor(const std::wstring& executable_path);

// True when |command| starts |executable_path|, in the form above or the
// form earlier versions registered ("<path>" "%1"); paths compare without
// regard to case, as Windows' file names do.
bool CommandStartsExecutable(const std::wstring& command,
                             const std::wstring& executable_path);

#endif  // RUNNER_URL_SCHEME_H_
