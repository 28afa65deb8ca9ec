#include "runner/command_line.h"

#include <gtest/gtest.h>

namespace {

TEST(ArgumentToUtf8, ConvertsTextAndRefusesBrokenUtf16) {
  EXPECT_EQ(ArgumentToUtf8(nullptr), "");
  EXPECT_EQ(ArgumentToUtf8(L""), "");
  EXPECT_EQ(ArgumentToUtf8(L"--flag=1"), "--flag=1");
  EXPECT_EQ(ArgumentToUtf8(L"\xD55C\xAE00"), "\xED\x95\x9C\xEA\xB8\x80");
  // A surrogate pair becomes one four-byte sequence (U+1F600).
  EXPECT_EQ(ArgumentToUtf8(L"\xD83D\xDE00"), "\xF0\x9F\x98\x80");
  // An unpaired surrogate anywhere empties the whole argument.
  EXPECT_EQ(ArgumentToUtf8(L"abc\xD83D"), "");
  EXPECT_EQ(ArgumentToUtf8(L"\xDE00xyz"), "");
}

TEST(FindStartUrl, TakesTheFirstReturnUrlAfterTheProgram) {
  ArgumentList arguments(
      L"app.exe https://example.com \"ORVALINAI://Login-Callback?code=A b\" "
      L"orvalinai://payment-return");
  ASSERT_EQ(arguments.count(), 4);
  EXPECT_EQ(FindStartUrl(arguments), L"ORVALINAI://Login-Callback?code=A b");
  // The program name is never tested.
  EXPECT_EQ(FindStartUrl(ArgumentList(L"orvalinai://login-callback")),
            std::nullopt);
  EXPECT_EQ(FindStartUrl(ArgumentList(L"app.exe orvalinai://login-callbacks")),
            std::nullopt);
}

TEST(CommandLineArgumentsUtf8, ListsEveryArgumentAfterTheProgram) {
  EXPECT_EQ(
      CommandLineArgumentsUtf8(L"C:\\app.exe --flag \"second word\" "
                               L"orvalinai://login-callback?q=\xD55C \xD83Dx"),
      (std::vector<std::string>{"--flag", "second word",
                                "orvalinai://login-callback?q=\xED\x95\x9C",
                                ""}));
  EXPECT_EQ(CommandLineArgumentsUtf8(L"app.exe"), std::vector<std::string>{});
}

}  // namespace
