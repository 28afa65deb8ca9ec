#include "runner/return_url.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "runner/app_constants.h"
#include "runner/tests/tools/malformed_copydata.h"

namespace {

TEST(IsReturnUrl, AcceptsEachPrefixWithTheAllowedEndingsInAnyAsciiCase) {
  for (const wchar_t* prefix : kReturnUrlPrefixes) {
    for (const wchar_t* ending :
         {L"", L"?code=1", L"#x", L"/", L"/?code=1", L"/#frag", L"?", L"#"}) {
      const std::wstring url = prefix + std::wstring(ending);
      EXPECT_TRUE(IsReturnUrl(url.c_str())) << url;
    }
  }
  for (const wchar_t* text :
       {L"ORVALINAI://LOGIN-CALLBACK#x", L"OrvalinAI://Payment-Return?id=7",
        L"orvalinai://CHECKOUT-return"}) {
    EXPECT_TRUE(IsReturnUrl(text)) << text;
  }
}

TEST(IsReturnUrl, RejectsEverythingElse) {
  EXPECT_FALSE(IsReturnUrl(nullptr));
  for (const wchar_t* text : {
           // What may not follow the prefix.
           L"orvalinai://login-callbacks", L"orvalinai://login-callback/next",
           L"orvalinai://login-callback//",
           L"orvalinai://login-callback/x?code=1",
           L"orvalinai://login-callback&code=1", L"orvalinai://payment-return.",
           L"orvalinai://checkout-return-x",
           // Short, foreign and unfolded text.
           L"", L"orvalinai://log", L"orvalinai://login-callbac",
           L"orvalinai://", L"https://orvalin-dev.supabase.co/auth/v1/",
           L" orvalinai://login-callback", L"orvalinai:/login-callback",
           L"orvalinai://signup-callback",
           // Letters that towlower may fold to ASCII: only ASCII folds.
           L"\xFF2Frvalinai://login-callback",   // fullwidth 'O' (U+FF2F)
           L"orvalinai://chec\x212Aout-return",  // Kelvin sign (U+212A)
           L"orval\x0130nai://login-callback",   // U+0130
       }) {
    EXPECT_FALSE(IsReturnUrl(text)) << text;
  }
}

// A WM_COPYDATA record over its own copy of |text|, terminator included.
struct Record {
  explicit Record(const std::wstring& text) : bytes(PayloadBytes(text)) {
    data = {kReturnUrlCopyDataId, static_cast<DWORD>(bytes.size()),
            bytes.data()};
  }
  std::vector<char> bytes;
  COPYDATASTRUCT data;
};

const std::wstring kLogin = L"orvalinai://login-callback?code=abc";

TEST(ReadForwardedReturnUrl, ReturnsAWellFormedReturnUrl) {
  const std::wstring payment =
      L"orvalinai://payment-return?order=42&status=paid#done";
  Record payment_record(payment);
  EXPECT_EQ(ReadForwardedReturnUrl(&payment_record.data), payment);
  // Also from a payload that is not aligned.
  Record shifted(kLogin);
  std::vector<char> bytes(shifted.bytes.size() + 1);
  std::memcpy(bytes.data() + 1, shifted.bytes.data(), shifted.bytes.size());
  shifted.data.lpData = bytes.data() + 1;
  EXPECT_EQ(ReadForwardedReturnUrl(&shifted.data), kLogin);
}

TEST(ReadForwardedReturnUrl, RefusesEveryMalformedRecord) {
  EXPECT_EQ(ReadForwardedReturnUrl(nullptr), std::nullopt);
  for (const MalformedCopyData& malformed : MalformedCopyDataRecords()) {
    EXPECT_EQ(ReadForwardedReturnUrl(&malformed.record), std::nullopt)
        << malformed.name;
  }
}

TEST(ReadForwardedReturnUrl, TakesUpToSixteenKilobytesUpToTheFirstZero) {
  const std::wstring prefix = L"orvalinai://login-callback?code=";
  // 8191 units plus the terminator: 16384 bytes.
  const std::wstring longest = prefix + std::wstring(8191 - prefix.size(), 'a');
  Record fits(longest);
  ASSERT_EQ(fits.data.cbData, 16384u);
  EXPECT_EQ(ReadForwardedReturnUrl(&fits.data), longest);

  Record too_long(longest + L"a");
  ASSERT_EQ(too_long.data.cbData, 16386u);
  EXPECT_EQ(ReadForwardedReturnUrl(&too_long.data), std::nullopt);

  // The text stops at an early zero.
  Record record(kLogin + std::wstring(1, L'\0') + L"tail");
  EXPECT_EQ(ReadForwardedReturnUrl(&record.data), kLogin);

  Record only_zero(L"");
  EXPECT_EQ(ReadForwardedReturnUrl(&only_zero.data), std::nullopt);
}

}  // namespace
