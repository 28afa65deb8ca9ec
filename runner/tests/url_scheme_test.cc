#include "runner/url_scheme.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

const std::wstring kCommandKey =
    std::wstring(kUrlSchemeKey) + L"\\shell\\open\\command";

// A value of the test prefix's real registry, as stored (REG_SZ).
std::wstring ReadValue(const std::wstring& key, const wchar_t* name) {
  wchar_t buffer[2048] = {};
  DWORD size = sizeof(buffer);
  RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name,
               RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr, buffer, &size);
  return std::wstring(buffer, size / sizeof(wchar_t));
}

// Rewrites a stale registration in place; strings carry their terminator.
TEST(RegisterUrlScheme, WritesTheSchemeForThisExecutable) {
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
  const std::wstring stale = L"\"C:\\old\\orvalin_ai.exe\" \"%1\"";
  RegSetKeyValueW(HKEY_CURRENT_USER, kCommandKey.c_str(), nullptr, REG_SZ,
                  stale.c_str(),
                  static_cast<DWORD>((stale.size() + 1) * sizeof(wchar_t)));
  RegisterUrlScheme();
  RegisterUrlScheme();

  wchar_t path[1024] = {};
  ASSERT_GT(GetModuleFileNameW(nullptr, path, 1024), 0u);
  using namespace std::string_literals;
  EXPECT_EQ(ReadValue(kUrlSchemeKey, nullptr), L"URL:orvalinai Protocol\0"s);
  EXPECT_EQ(ReadValue(kUrlSchemeKey, L"URL Protocol"), L"\0"s);
  EXPECT_EQ(ReadValue(kCommandKey, nullptr),
            L"\""s + path + L"\" \"%1\"" + L'\0');
  // Leaves no registration that names this test program.
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
}

// A reader with GetModuleFileNameW's contract over a path of each length:
// the buffer doubles from 260 and its last step is exactly 32,768 units.
TEST(ReadGrowingPath, TriesEachBufferSizeUntilThePathFits) {
  const DWORD kSizes[] = {260, 520, 1040, 2080, 4160, 8320, 16640, 32768};
  struct Case {
    DWORD length;
    size_t tries;
    bool fits;
  };
  for (const Case& c :
       {Case{0, 1, false}, Case{259, 1, true}, Case{260, 2, true},
        Case{261, 2, true}, Case{16639, 7, true}, Case{16640, 8, true},
        Case{32767, 8, true}, Case{32768, 8, false}}) {
    std::wstring path(c.length, L'p');
    if (c.length > 0) path.back() = L'e';
    std::vector<DWORD> offered;
    const std::wstring read =
        ReadGrowingPath([&](wchar_t* buffer, DWORD units) -> DWORD {
          offered.push_back(units);
          const DWORD copied = std::min<DWORD>(c.length, units - 1);
          std::copy_n(path.begin(), copied, buffer);
          buffer[copied] = L'\0';
          return c.length < units ? c.length : units;
        });
    EXPECT_TRUE(c.fits ? read == path : read.empty()) << c.length;
    EXPECT_EQ(offered, std::vector<DWORD>(kSizes, kSizes + c.tries))
        << c.length;
  }
}

}  // namespace
