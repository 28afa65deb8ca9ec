#include "runner/hand_off_report.h"

#include <iostream>
#include <sstream>

namespace {

std::string Seconds(ULONGLONG ms) {
  std::ostringstream text;
  text << ms / 1000.0 << " s";
  return text.str();
}

// Each failure's message, in English and Korean.
struct Message {
  HandOffFailure failure;
  const wchar_t* english;
  const wchar_t* korean;
};

constexpr Message kMessages[] = {
    {HandOffFailure::kNoWindowTookUrl,
     L"Orvalin AI is already running but did not answer in time, so your "
     L"sign-in or payment could not be completed.\n\nClose Orvalin AI, start "
     L"it again and try once more.",
     L"Orvalin AI가 이미 실행 중이지만 제때 응답하지 않아 로그인 또는 결제를 "
     L"완료하지 못했습니다.\n\nOrvalin AI를 닫고 다시 시작한 뒤 다시 시도해 "
     L"주세요."},
    {HandOffFailure::kNotResponding,
     L"The running Orvalin AI is not responding, so your sign-in or payment "
     L"could not be completed.\n\nClose Orvalin AI and try signing in again.",
     L"실행 중인 Orvalin AI가 응답하지 않아 로그인 또는 결제를 완료하지 "
     L"못했습니다.\n\nOrvalin AI를 닫고 다시 로그인해 주세요."},
    {HandOffFailure::kBlocked,
     L"The running Orvalin AI does not accept messages from this program (it "
     L"may be running as administrator), so your sign-in or payment could "
     L"not be completed.\n\nClose Orvalin AI, start it normally and try "
     L"again.",
     L"실행 중인 Orvalin AI가 이 프로그램의 메시지를 받지 않아(관리자 권한으로 "
     L"실행 중일 수 있습니다) 로그인 또는 결제를 완료하지 못했습니다.\n\n"
     L"Orvalin AI를 닫고 보통 방법으로 다시 시작한 뒤 다시 시도해 주세요."},
    {HandOffFailure::kTooLong,
     L"The sign-in or payment link is longer than Orvalin AI accepts, so it "
     L"could not be completed.\n\nTry signing in again from Orvalin AI.",
     L"로그인 또는 결제 링크가 Orvalin AI가 받을 수 있는 길이보다 길어 "
     L"완료하지 "
     L"못했습니다.\n\nOrvalin AI에서 다시 로그인해 주세요."},
};

}  // namespace

std::string HandOffLine(const HandOffResult& result) {
  switch (result.failure) {
    case HandOffFailure::kNone:
      return "";
    case HandOffFailure::kNoWindowShowed:
      return "No window of the running instance showed within " +
             Seconds(result.limit_ms) + ".";
    case HandOffFailure::kNoWindowTookUrl:
      return "No window of the running instance took the return URL within " +
             Seconds(result.limit_ms) + ".";
    case HandOffFailure::kTimedOut:
      return "The running instance did not take the return URL within " +
             Seconds(result.limit_ms) + ".";
    case HandOffFailure::kNotResponding:
      return "The running instance is not responding; the return URL was not "
             "handed over.";
    case HandOffFailure::kBlocked:
      return "The running instance does not accept messages from this "
             "process; the return URL was not handed over.";
    case HandOffFailure::kTooLong:
      return "The return URL is longer than the running instance accepts; it "
             "was not handed over.";
  }
  return "";
}

std::wstring HandOffMessage(const HandOffResult& result, LANGID ui_language) {
  if (result.exit_code == 0) {
    return L"";
  }
  const bool korean = PRIMARYLANGID(ui_language) == LANG_KOREAN;
  // Hung now or hung for the whole wait: the user does the same.
  const HandOffFailure failure = result.failure == HandOffFailure::kTimedOut
                                     ? HandOffFailure::kNotResponding
                                     : result.failure;
  for (const Message& message : kMessages) {
    if (message.failure == failure) {
      return korean ? message.korean : message.english;
    }
  }
  return L"";
}

void ReportHandOff(const HandOffResult& result, bool has_standard_error,
                   LANGID ui_language, MessageBoxFunction message_box) {
  if (has_standard_error) {
    const std::string line = HandOffLine(result);
    if (!line.empty()) {
      std::cerr << line << std::endl;
    }
    return;
  }
  const std::wstring message = HandOffMessage(result, ui_language);
  if (!message.empty()) {
    message_box(nullptr, message.c_str(), kReportTitle,
                MB_OK | MB_ICONWARNING | MB_SETFOREGROUND);
  }
}
