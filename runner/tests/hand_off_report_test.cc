#include "runner/hand_off_report.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

HandOffResult Ended(HandOffFailure failure, ULONGLONG limit_ms = 0) {
  HandOffResult result;
  result.failure = failure;
  result.limit_ms = limit_ms;
  result.exit_code = failure == HandOffFailure::kNone ||
                             failure == HandOffFailure::kNoWindowShowed
                         ? 0
                         : 1;
  return result;
}

constexpr HandOffFailure kUnhandedOver[] = {
    HandOffFailure::kNoWindowTookUrl, HandOffFailure::kTimedOut,
    HandOffFailure::kNotResponding, HandOffFailure::kBlocked,
    HandOffFailure::kTooLong};

constexpr LANGID kKorean = MAKELANGID(LANG_KOREAN, SUBLANG_KOREAN);
constexpr LANGID kEnglish = MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US);

// Scripts and other programs read these lines: they stay word for word.
TEST(HandOffReport, OneLinePerEnding) {
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kNone)), "");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kNoWindowShowed, 30000)),
            "No window of the running instance showed within 30 s.");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kNoWindowTookUrl, 30000)),
            "No window of the running instance took the return URL within "
            "30 s.");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kTimedOut, 5000)),
            "The running instance did not take the return URL within 5 s.");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kNotResponding, 30000)),
            "The running instance is not responding; the return URL was not "
            "handed over.");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kBlocked)),
            "The running instance does not accept messages from this "
            "process; the return URL was not handed over.");
  EXPECT_EQ(HandOffLine(Ended(HandOffFailure::kTooLong)),
            "The return URL is longer than the running instance accepts; it "
            "was not handed over.");
}

TEST(HandOffReport, AMessageForEveryUrlNotHandedOverInTheUsersLanguage) {
  for (const HandOffFailure failure : kUnhandedOver) {
    const std::wstring english = HandOffMessage(Ended(failure), kEnglish);
    const std::wstring korean = HandOffMessage(Ended(failure), kKorean);
    EXPECT_NE(english.find(L"Orvalin AI"), std::wstring::npos)
        << static_cast<int>(failure);
    EXPECT_NE(english, korean);
    // Hangul syllables in the Korean text, none in the English.
    const auto hangul = [](wchar_t c) { return c >= 0xAC00 && c <= 0xD7A3; };
    EXPECT_TRUE(std::any_of(korean.begin(), korean.end(), hangul));
    EXPECT_FALSE(std::any_of(english.begin(), english.end(), hangul));
    // Any other language, and every Korean sublanguage, picks by the
    // primary language.
    EXPECT_EQ(HandOffMessage(Ended(failure),
                             MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT)),
              english);
    EXPECT_EQ(HandOffMessage(Ended(failure),
                             MAKELANGID(LANG_KOREAN, SUBLANG_NEUTRAL)),
              korean);
  }
  // The user does the same whether the window hung now or for the wait.
  EXPECT_EQ(HandOffMessage(Ended(HandOffFailure::kTimedOut), kKorean),
            HandOffMessage(Ended(HandOffFailure::kNotResponding), kKorean));
  EXPECT_NE(HandOffMessage(Ended(HandOffFailure::kTooLong), kEnglish),
            HandOffMessage(Ended(HandOffFailure::kBlocked), kEnglish));
  // Nothing was lost: no box.
  EXPECT_EQ(HandOffMessage(Ended(HandOffFailure::kNone), kEnglish), L"");
  EXPECT_EQ(HandOffMessage(Ended(HandOffFailure::kNoWindowShowed), kKorean),
            L"");
}

struct Shown {
  HWND owner;
  std::wstring text, title;
  UINT type;
};
std::vector<Shown> g_shown;

int WINAPI RecordingBox(HWND owner, LPCWSTR text, LPCWSTR title, UINT type) {
  g_shown.push_back({owner, text, title, type});
  return IDOK;
}

TEST(HandOffReport, ABoxOnlyWithoutStandardErrorAndOnlyForALostUrl) {
  g_shown.clear();
  ReportHandOff(Ended(HandOffFailure::kTooLong), true, kKorean, RecordingBox);
  ReportHandOff(Ended(HandOffFailure::kNone), false, kKorean, RecordingBox);
  ReportHandOff(Ended(HandOffFailure::kNoWindowShowed, 30000), false, kKorean,
                RecordingBox);
  EXPECT_TRUE(g_shown.empty());
  ReportHandOff(Ended(HandOffFailure::kNotResponding, 30000), false, kKorean,
                RecordingBox);
  ASSERT_EQ(g_shown.size(), 1u);
  EXPECT_EQ(g_shown[0].owner, nullptr);
  EXPECT_EQ(g_shown[0].title, L"Orvalin AI");
  EXPECT_EQ(g_shown[0].text,
            HandOffMessage(Ended(HandOffFailure::kNotResponding), kKorean));
  EXPECT_EQ(g_shown[0].type & MB_ICONMASK, UINT{MB_ICONWARNING});
}

}  // namespace
