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
  EXPECT_EQ(ArgumentToUtf8(L"a\xD83D"
                           L"b"),
            "");
}

TEST(FindStartUrl, TakesTheFirstReturnUrlAfterTheProgram) {
  ArgumentList arguments(
      L"app.exe https://example.com \"ORVALINAI://Login-Callback?code=A b\" "
      L"orvalinai://payment-return");
  ASSERT_TRUE(arguments.ok());
  ASSERT_EQ(arguments.count(), 4);
  EXPECT_EQ(FindStartUrl(arguments), L"ORVALINAI://Login-Callback?code=A b");
}

TEST(FindStartUrl, NeverTestsTheProgramName) {
  ArgumentList program_only(L"orvalinai://login-callback");
  EXPECT_EQ(FindStartUrl(program_only), std::nullopt);

  ArgumentList no_url(L"app.exe --verbose orvalinai://login-callbacks");
  EXPECT_EQ(FindStartUrl(no_url), std::nullopt);
}

TEST(CommandLineArgumentsUtf8, ListsEveryArgumentAfterTheProgram) {
  // This test program's own command line: the argument vector CTest passes
  // ends with --gtest_brief=1, and the program name is never listed.
  ArgumentList own(GetCommandLineW());
  const std::vector<std::string> arguments = CommandLineArgumentsUtf8();
  ASSERT_EQ(arguments.size(), static_cast<size_t>(own.count() - 1));
  for (int i = 1; i < own.count(); ++i) {
    EXPECT_EQ(arguments[i - 1], ArgumentToUtf8(own[i]));
  }
}

}  // namespace
