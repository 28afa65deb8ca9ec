// Recognises the sign-in and payment return URLs of the orvalinai scheme.
#ifndef RUNNER_RETURN_URL_H_
#define RUNNER_RETURN_URL_H_

#include <optional>
#include <string>

#include "win/windows.h"

// Tried in this order; all lower case.
inline constexpr const wchar_t* kReturnUrlPrefixes[] = {
    L"orvalinai://login-callback",
    L"orvalinai://payment-return",
    L"orvalinai://checkout-return",
};

// True when |text| (zero-terminated; null is not a URL) starts with a return
// prefix, ASCII letters in any case, followed by the end, "?", "#", or "/"
// and then the end, "?" or "#".
bool IsReturnUrl(const wchar_t* text);

// The URL a later instance forwarded in a WM_COPYDATA record, when the record
// is well formed and holds a return URL; the text stops at its first zero.
std::optional<std::wstring> ReadForwardedReturnUrl(
    const COPYDATASTRUCT* record);

#endif  // RUNNER_RETURN_URL_H_
