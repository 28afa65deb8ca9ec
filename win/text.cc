#include "win/text.h"

#include <climits>

#include "win/windows.h"

namespace orvalin::win {
namespace {

// Measures, then converts into a buffer of exactly the measured length.
std::optional<std::wstring> ToUtf16(std::string_view utf8, DWORD flags) {
  if (utf8.empty()) {
    return std::wstring();
  }
  if (utf8.size() > INT_MAX) {
    return std::nullopt;
  }
  const int source_length = static_cast<int>(utf8.size());
  const int length = MultiByteToWideChar(CP_UTF8, flags, utf8.data(),
                                         source_length, nullptr, 0);
  if (length <= 0) {
    return std::nullopt;
  }
  std::wstring utf16(static_cast<size_t>(length), L'\0');
  if (MultiByteToWideChar(CP_UTF8, flags, utf8.data(), source_length,
                          utf16.data(), length) != length) {
    return std::nullopt;
  }
  return utf16;
}

std::optional<std::string> ToUtf8(std::wstring_view utf16, DWORD flags) {
  if (utf16.empty()) {
    return std::string();
  }
  if (utf16.size() > INT_MAX) {
    return std::nullopt;
  }
  const int source_length = static_cast<int>(utf16.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, flags, utf16.data(), source_length, nullptr,
                          0, nullptr, nullptr);
  if (length <= 0) {
    return std::nullopt;
  }
  std::string utf8(static_cast<size_t>(length), '\0');
  if (WideCharToMultiByte(CP_UTF8, flags, utf16.data(), source_length,
                          utf8.data(), length, nullptr, nullptr) != length) {
    return std::nullopt;
  }
  return utf8;
}

}  // namespace

std::optional<std::wstring> Utf8ToUtf16Strict(std::string_view utf8) {
  return ToUtf16(utf8, MB_ERR_INVALID_CHARS);
}

std::wstring Utf8ToUtf16Lenient(std::string_view utf8) {
  return ToUtf16(utf8, 0).value_or(std::wstring());
}

std::optional<std::string> Utf16ToUtf8Strict(std::wstring_view utf16) {
  return ToUtf8(utf16, WC_ERR_INVALID_CHARS);
}

std::string Utf16ToUtf8Lenient(std::wstring_view utf16) {
  return ToUtf8(utf16, 0).value_or(std::string());
}

}  // namespace orvalin::win
