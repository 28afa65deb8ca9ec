#include "runner/url_scheme.h"

#include <gtest/gtest.h>

#include <string>

#include "win/windows.h"

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

}  // namespace
