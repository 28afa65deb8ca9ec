#include "runner/return_url.h"

#include <cstring>

#include "runner/app_constants.h"

namespace {

// Units that may follow "prefix/": the end, '#' and '?'.
constexpr uint64_t kAfterSlashMask =
    (uint64_t{1} << 0) | (uint64_t{1} << 0x23) | (uint64_t{1} << 0x3F);

bool AllowedAfterSlash(wchar_t unit) {
  return unit < 64 && ((kAfterSlashMask >> unit) & 1) != 0;
}

// ASCII letters only: towlower may also fold, say, the Kelvin sign to 'k'
// or U+0130 to 'i', which would let look-alike text pass as a return URL.
wchar_t AsciiLower(wchar_t unit) {
  return unit >= L'A' && unit <= L'Z' ? unit - L'A' + L'a' : unit;
}

bool MatchesPrefix(const wchar_t* text, const wchar_t* prefix) {
  size_t n = 0;
  for (; prefix[n] != L'\0'; ++n) {
    if (text[n] == L'\0' || AsciiLower(text[n]) != prefix[n]) {
      return false;
    }
  }
  switch (text[n]) {
    case L'\0':
    case L'?':
    case L'#':
      return true;
    case L'/':
      return AllowedAfterSlash(text[n + 1]);
    default:
      return false;
  }
}

}  // namespace

bool IsReturnUrl(const wchar_t* text) {
  if (text == nullptr) {
    return false;
  }
  for (const wchar_t* prefix : kReturnUrlPrefixes) {
    if (MatchesPrefix(text, prefix)) {
      return true;
    }
  }
  return false;
}

std::optional<std::wstring> ReadForwardedReturnUrl(
    const COPYDATASTRUCT* record) {
  if (record == nullptr || record->dwData != kReturnUrlCopyDataId ||
      record->lpData == nullptr || record->cbData < 2 ||
      record->cbData > kMaxForwardedUrlBytes || record->cbData % 2 != 0) {
    return std::nullopt;
  }
  // Copied first: the sender's buffer need not be aligned for wchar_t.
  std::wstring payload(record->cbData / 2, L'\0');
  std::memcpy(payload.data(), record->lpData, record->cbData);
  if (payload.back() != L'\0') {
    return std::nullopt;
  }
  if (!IsReturnUrl(payload.c_str())) {
    return std::nullopt;
  }
  return std::wstring(payload.c_str());
}
