#include "runner/url_scheme.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const std::wstring kCommandKey =
    std::wstring(kUrlSchemeKey) + L"\\shell\\open\\command";

struct StoredValue {
  DWORD type = 0;
  DWORD size = 0;
  std::wstring text;
};

// Reads a value of the test prefix's real registry, as raw as stored.
StoredValue ReadValue(const std::wstring& key, const wchar_t* name) {
  StoredValue value;
  wchar_t buffer[2048] = {};
  value.size = sizeof(buffer);
  const LSTATUS status =
      RegGetValueW(HKEY_CURRENT_USER, key.c_str(), name,
                   RRF_RT_ANY | RRF_NOEXPAND, &value.type, buffer, &value.size);
  EXPECT_EQ(status, ERROR_SUCCESS) << "value " << (name ? "named" : "default");
  value.text.assign(buffer, value.size / sizeof(wchar_t));
  return value;
}

DWORD ValueCount(const std::wstring& key_name) {
  HKEY key = nullptr;
  EXPECT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER, key_name.c_str(), 0, KEY_READ, &key),
      ERROR_SUCCESS);
  DWORD count = 0;
  RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                   &count, nullptr, nullptr, nullptr, nullptr);
  RegCloseKey(key);
  return count;
}

void ExpectString(const StoredValue& value, const std::wstring& text) {
  EXPECT_EQ(value.type, static_cast<DWORD>(REG_SZ));
  // Stored with its terminating zero unit.
  EXPECT_EQ(value.size, (text.size() + 1) * sizeof(wchar_t));
  EXPECT_EQ(value.text, text + L'\0');
}

class RegisterUrlSchemeTest : public testing::Test {
 protected:
  void SetUp() override { RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey); }
  // Leaves no registration that names this test program.
  void TearDown() override { RegDeleteTreeW(HKEY_CURRENT_USER, kUrlSchemeKey); }
};

TEST_F(RegisterUrlSchemeTest, WritesTheSchemeForThisExecutable) {
  RegisterUrlScheme();

  ExpectString(ReadValue(kUrlSchemeKey, nullptr), L"URL:orvalinai Protocol");
  ExpectString(ReadValue(kUrlSchemeKey, L"URL Protocol"), L"");
  const std::wstring path = ModuleFileName(nullptr);
  ASSERT_FALSE(path.empty());
  ExpectString(ReadValue(kCommandKey, nullptr), L"\"" + path + L"\" \"%1\"");
}

TEST_F(RegisterUrlSchemeTest, RewritesAnEarlierRegistration) {
  const std::wstring stale = L"\"C:\\old\\orvalin_ai.exe\" \"%1\"";
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kCommandKey.c_str(), 0, nullptr,
                            0, KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  RegSetValueExW(key, nullptr, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(stale.c_str()),
                 static_cast<DWORD>((stale.size() + 1) * sizeof(wchar_t)));
  RegCloseKey(key);

  RegisterUrlScheme();
  RegisterUrlScheme();

  EXPECT_EQ(ReadValue(kCommandKey, nullptr).text,
            OpenCommandFor(ModuleFileName(nullptr)) + L'\0');
  EXPECT_EQ(ValueCount(kUrlSchemeKey), 2u);
  EXPECT_EQ(ValueCount(kCommandKey), 1u);
}

TEST(ModuleFileName, GrowsTheBufferUntilThePathFits) {
  const std::wstring full = ModuleFileName(nullptr);
  ASSERT_GT(full.size(), 8u);
  EXPECT_NE(full.find(L"shell_core_test.exe"), std::wstring::npos);
  // Starting far too small must still give the whole path, never a cut one.
  EXPECT_EQ(ModuleFileName(nullptr, 1), full);
  EXPECT_EQ(ModuleFileName(nullptr, 4), full);
  EXPECT_EQ(ModuleFileName(nullptr, static_cast<DWORD>(full.size())), full);
  EXPECT_EQ(ModuleFileName(nullptr, static_cast<DWORD>(full.size() + 1)), full);
}

}  // namespace
