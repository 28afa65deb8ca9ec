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
            L"\""s + path + L"\" --single-argument %1" + L'\0');
  // Leaves no registration that names this test program.
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
}

TEST(CommandStartsExecutable, KnowsBothFormsOfThisCopyOnly) {
  const std::wstring path = L"C:\\Apps\\Orvalin AI\\orvalin_ai.exe";
  EXPECT_TRUE(CommandStartsExecutable(OpenCommandFor(path), path));
  EXPECT_TRUE(CommandStartsExecutable(
      L"\"C:\\apps\\ORVALIN AI\\orvalin_ai.exe\" \"%1\"", path));
  for (const wchar_t* other :
       {L"\"C:\\Apps\\Orvalin AI\\orvalin_ai.exe2\" \"%1\"",
        L"\"C:\\Apps\\Orvalin\\orvalin_ai.exe\" --single-argument %1",
        L"\"C:\\Apps\\Orvalin AI\\orvalin_ai.exe\" %1",
        L"\"C:\\Apps\\Orvalin AI\\orvalin_ai.exe\" --single-argument %1 x",
        L"C:\\Apps\\Orvalin AI\\orvalin_ai.exe --single-argument %1",
        L"\"C:\\Apps\\Orvalin AI\\orvalin_ai.exe", L""}) {
    EXPECT_FALSE(CommandStartsExecutable(other, path)) << other;
  }
}

TEST(IsSchemeRemovalRun, OnlyTheSwitchAlone) {
  EXPECT_TRUE(
      IsSchemeRemovalRun(L"\"C:\\a b\\app.exe\" --unregister-url-scheme"));
  EXPECT_FALSE(IsSchemeRemovalRun(L"app.exe"));
  EXPECT_FALSE(IsSchemeRemovalRun(L"app.exe --unregister-url-scheme x"));
  // A return URL can never ask for it.
  EXPECT_FALSE(
      IsSchemeRemovalRun(L"app.exe --single-argument --unregister-url-scheme"));
}

void SetValue(const std::wstring& key, const wchar_t* name,
              const std::wstring& data) {
  RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), name, REG_SZ, data.c_str(),
                  static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

bool KeyExists(const std::wstring& key) {
  HKEY opened = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) !=
      ERROR_SUCCESS) {
    return false;
  }
  RegCloseKey(opened);
  return true;
}

bool ValueExists(const std::wstring& key, const wchar_t* name) {
  return RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name, RRF_RT_ANY, nullptr,
                      nullptr, nullptr) == ERROR_SUCCESS;
}

TEST(UnregisterUrlScheme, RemovesOnlyWhatWasWrittenForThisCopy) {
  const std::wstring scheme = kUrlSchemeKey;
  const std::wstring path = L"C:\\Apps\\Orvalin AI\\orvalin_ai.exe";
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
  // Nothing registered: nothing to remove.
  EXPECT_FALSE(UnregisterUrlScheme(path));

  // Everything this copy wrote goes, keys included.
  for (const std::wstring& command :
       {OpenCommandFor(path), L"\"" + path + L"\" \"%1\""}) {
    SetValue(scheme, nullptr, L"URL:orvalinai Protocol");
    SetValue(scheme, L"URL Protocol", L"");
    SetValue(kCommandKey, nullptr, command);
    EXPECT_TRUE(UnregisterUrlScheme(path));
    EXPECT_FALSE(KeyExists(scheme));
  }

  // Another copy's registration is not touched.
  SetValue(scheme, nullptr, L"URL:orvalinai Protocol");
  SetValue(scheme, L"URL Protocol", L"");
  SetValue(kCommandKey, nullptr, OpenCommandFor(L"C:\\other\\orvalin_ai.exe"));
  EXPECT_FALSE(UnregisterUrlScheme(path));
  EXPECT_TRUE(ValueExists(kCommandKey, nullptr));
  EXPECT_TRUE(ValueExists(scheme, L"URL Protocol"));

  // What others added stays, with the keys that hold it.
  SetValue(kCommandKey, nullptr, OpenCommandFor(path));
  SetValue(kCommandKey, L"DelegateExecute", L"");
  SetValue(scheme + L"\\shell\\open", L"FriendlyAppName", L"Someone");
  SetValue(scheme + L"\\DefaultIcon", nullptr, L"icon.ico");
  EXPECT_TRUE(UnregisterUrlScheme(path));
  EXPECT_FALSE(ValueExists(kCommandKey, nullptr));
  EXPECT_TRUE(ValueExists(kCommandKey, L"DelegateExecute"));
  EXPECT_TRUE(ValueExists(scheme + L"\\shell\\open", L"FriendlyAppName"));
  EXPECT_TRUE(ValueExists(scheme + L"\\DefaultIcon", nullptr));
  EXPECT_FALSE(ValueExists(scheme, nullptr));
  EXPECT_FALSE(ValueExists(scheme, L"URL Protocol"));
  RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey);
}

}  // namespace
