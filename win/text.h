// UTF-8 <-> UTF-16 with the system's converters (code page CP_UTF8). The
// strict variants refuse malformed input (an invalid byte sequence, a lone
// surrogate); the lenient ones put U+FFFD in its place. Both take explicit
// lengths, so embedded zero units pass through, and both answer an empty
// input with an empty output without calling the system.
#ifndef WIN_TEXT_H_
#define WIN_TEXT_H_

#include <optional>
#include <string>
#include <string_view>

namespace orvalin::win {

// Nothing when |utf8| is not well-formed UTF-8.
std::optional<std::wstring> Utf8ToUtf16Strict(std::string_view utf8);
// Empty only for an empty (or, beyond 2^31 units, unconvertible) input.
std::wstring Utf8ToUtf16Lenient(std::string_view utf8);

// Nothing when |utf16| holds an unpaired surrogate.
std::optional<std::string> Utf16ToUtf8Strict(std::wstring_view utf16);
std::string Utf16ToUtf8Lenient(std::wstring_view utf16);

}  // namespace orvalin::win

#endif  // WIN_TEXT_H_
