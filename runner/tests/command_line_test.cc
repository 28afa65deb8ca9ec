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

// The registered command: after "--single-argument " the rest of the line is
// one argument, whatever quotes and blanks it holds.
TEST(ArgumentList, TakesTheRestAfterTheSingleArgumentSwitchWhole) {
  const wchar_t* url =
      L"orvalinai://login-callback?code=1\" --injected-switch \"C:\\evil path";
  const std::wstring line =
      std::wstring(L"\"C:\\Program Files\\app.exe\" --single-argument ") + url;
  ArgumentList arguments(line.c_str());
  ASSERT_EQ(arguments.count(), 2);
  EXPECT_STREQ(arguments[0], L"C:\\Program Files\\app.exe");
  EXPECT_STREQ(arguments[1], url);
  EXPECT_EQ(FindStartUrl(arguments), std::wstring(url));
  EXPECT_EQ(CommandLineArgumentsUtf8(line.c_str()),
            std::vector<std::string>{ArgumentToUtf8(url)});
  // Unquoted program, tabs and blanks kept; an empty argument.
  EXPECT_EQ(CommandLineArgumentsUtf8(L"app.exe\t--single-argument  a\t\"b"),
            std::vector<std::string>{" a\t\"b"});
  EXPECT_EQ(CommandLineArgumentsUtf8(L"app.exe --single-argument"),
            std::vector<std::string>{""});
  // Only right after the program name, and only the switch itself.
  EXPECT_EQ(CommandLineArgumentsUtf8(L"app.exe x --single-argument a \"b c\""),
            (std::vector<std::string>{"x", "--single-argument", "a", "b c"}));
  EXPECT_EQ(CommandLineArgumentsUtf8(L"app.exe --single-arguments a b"),
            (std::vector<std::string>{"--single-arguments", "a", "b"}));
  EXPECT_EQ(CommandLineArgumentsUtf8(L"\"app.exe\"--single-argument a b"),
            (std::vector<std::string>{"--single-argument", "a", "b"}));
}

}  // namespace
