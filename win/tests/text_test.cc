#include "win/text.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalin::win {
namespace {

using namespace std::string_literals;

TEST(TextConversion, WellFormedTextIsTheSameEitherWay) {
  const std::pair<std::string, std::wstring> cases[] = {
      {"", L""},
      {"a\0b"s, L"a\0b"s},
      {"\xED\x95\x9C", L"\xD55C"},            // 한
      {"\xF0\x9F\x98\x80", L"\xD83D\xDE00"},  // U+1F600, a surrogate pair
      {"\xEF\xBF\xBD", L"\xFFFD"},
  };
  for (const auto& [utf8, utf16] : cases) {
    EXPECT_EQ(Utf8ToUtf16Strict(utf8), utf16);
    EXPECT_EQ(Utf8ToUtf16Lenient(utf8), utf16);
    EXPECT_EQ(Utf16ToUtf8Strict(utf16), utf8);
    EXPECT_EQ(Utf16ToUtf8Lenient(utf16), utf8);
  }
}

TEST(TextConversion, StrictRefusesWhatLenientReplaces) {
  const std::pair<std::string, std::wstring> bad_utf8[] = {
      {"a\xC3", L"a\xFFFD"},    // cut short
      {"a\xFFz", L"a\xFFFDz"},  // never a UTF-8 byte
      {"\x80z", L"\xFFFDz"},    // a lone continuation byte
  };
  for (const auto& [utf8, lenient] : bad_utf8) {
    EXPECT_EQ(Utf8ToUtf16Strict(utf8), std::nullopt);
    EXPECT_EQ(Utf8ToUtf16Lenient(utf8), lenient);
  }
  const std::pair<std::wstring, std::string> bad_utf16[] = {
      {L"a\xD800", "a\xEF\xBF\xBD"},      // high surrogate at the end
      {L"\xDC00z", "\xEF\xBF\xBDz"},      // low surrogate first
      {L"\xD800\0"s, "\xEF\xBF\xBD\0"s},  // high before a zero unit
  };
  for (const auto& [utf16, lenient] : bad_utf16) {
    EXPECT_EQ(Utf16ToUtf8Strict(utf16), std::nullopt);
    EXPECT_EQ(Utf16ToUtf8Lenient(utf16), lenient);
  }
}

}  // namespace
}  // namespace orvalin::win
