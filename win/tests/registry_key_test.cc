#include "win/registry_key.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalin::win {
namespace {

constexpr wchar_t kTestKey[] = L"Software\\OrvalinWinTest";
constexpr wchar_t kMissingKey[] = L"Software\\OrvalinWinTest\\none";

// Each test starts from a fresh key holding "dword" = 5 and "text" = "abc".
class RegistryKeyTest : public testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
    ASSERT_EQ(key_.Create(HKEY_CURRENT_USER, kTestKey, KEY_ALL_ACCESS),
              ERROR_SUCCESS);
    const DWORD five = 5;
    RegSetKeyValueW(key_.Get(), nullptr, L"dword", REG_DWORD, &five, 4);
    RegSetKeyValueW(key_.Get(), nullptr, L"text", REG_SZ, L"abc", 8);
  }
  void TearDown() override {
    key_.Close();
    RegDeleteTreeW(HKEY_CURRENT_USER, kTestKey);
  }

  RegistryKey key_;
};

TEST_F(RegistryKeyTest, FailuresAnswerTheCodeAndLeaveOutputsAlone) {
  DWORD number = 7;
  EXPECT_EQ(key_.GetDword(L"missing", &number), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key_.GetDword(L"text", &number), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kMissingKey, L"dword", &number),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(number, 7u);

  std::wstring text = L"kept";
  EXPECT_EQ(key_.GetString(L"missing", &text), ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key_.GetString(L"dword", &text), ERROR_UNSUPPORTED_TYPE);
  EXPECT_EQ(text, L"kept");

  const HKEY before = key_.Get();
  EXPECT_EQ(key_.Open(HKEY_CURRENT_USER, kMissingKey, KEY_READ),
            ERROR_FILE_NOT_FOUND);
  EXPECT_EQ(key_.Get(), before);
  EXPECT_EQ(key_.SetDword(L"after", 1), ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, RefusesADwordOfAnotherSize) {
  const BYTE bytes[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const DWORD size : {0u, 2u, 3u, 5u, 8u}) {
    SCOPED_TRACE(size);
    ASSERT_EQ(RegSetValueExW(key_.Get(), L"odd", 0, REG_DWORD, bytes, size),
              ERROR_SUCCESS);
    DWORD number = 7;
    EXPECT_EQ(key_.GetDword(L"odd", &number), ERROR_DATATYPE_MISMATCH);
    EXPECT_EQ(number, 7u);
  }
}

TEST_F(RegistryKeyTest, RefusesAnExpandableStringUnexpanded) {
  // Shorter than the first read's buffer but not once expanded (Wine
  // wrote the expansion past it), then longer than that buffer.
  for (const int copies : {7, 40}) {
    std::wstring stored;
    for (int i = 0; i < copies; ++i) stored += L"%APPDATA%";
    ASSERT_EQ(RegSetValueExW(
                  key_.Get(), L"expand", 0, REG_EXPAND_SZ,
                  reinterpret_cast<const BYTE*>(stored.c_str()),
                  static_cast<DWORD>((stored.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
    std::wstring text = L"kept";
    EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kTestKey, L"expand", &text),
              ERROR_UNSUPPORTED_TYPE);
    EXPECT_EQ(text, L"kept");
  }
}

TEST_F(RegistryKeyTest, ReadsWhatWasStored) {
  DWORD number = 7;
  EXPECT_EQ(ReadDword(HKEY_CURRENT_USER, kTestKey, L"dword", &number),
            ERROR_SUCCESS);
  EXPECT_EQ(number, 5u);
  std::wstring text;
  EXPECT_EQ(key_.GetString(L"text", &text), ERROR_SUCCESS);
  EXPECT_EQ(text, L"abc");

  // Longer than the first read's buffer; then empty.
  ASSERT_EQ(key_.SetString(L"long", std::wstring(3000, L'x')), ERROR_SUCCESS);
  EXPECT_EQ(ReadString(HKEY_CURRENT_USER, kTestKey, L"long", &text),
            ERROR_SUCCESS);
  EXPECT_EQ(text.size(), 3000u);
  ASSERT_EQ(key_.SetString(nullptr, L""), ERROR_SUCCESS);
  EXPECT_EQ(key_.GetString(nullptr, &text), ERROR_SUCCESS);
  EXPECT_EQ(text, L"");
}

}  // namespace
}  // namespace orvalin::win
