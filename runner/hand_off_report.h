// How a later instance tells of a hand-off that ended without its URL
// handed over: one line on standard error, or, when nobody would read that
// line (started by the browser or the shell), a message box.
#ifndef RUNNER_HAND_OFF_REPORT_H_
#define RUNNER_HAND_OFF_REPORT_H_

#include <string>

#include "runner/single_instance.h"
#include "win/windows.h"

// The title of the message box.
inline constexpr wchar_t kReportTitle[] = L"Orvalin AI";

// The line on standard error for |result|; empty when it ended without one.
std::string HandOffLine(const HandOffResult& result);

// What the message box says for |result|, in Korean when |ui_language| is
// a Korean one and in English otherwise; empty when no box is shown (the
// URL was taken, or there was none).
std::wstring HandOffMessage(const HandOffResult& result, LANGID ui_language);

// MessageBoxW, or a stand-in for it.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCWSTR, LPCWSTR, UINT);

// Writes the line when standard error reaches someone; otherwise shows the
// message, if any. Call once the mutexes are let go: the box waits for the
// user, and another instance must not wait for it.
void ReportHandOff(const HandOffResult& result, bool has_standard_error,
                   LANGID ui_language = GetUserDefaultUILanguage(),
                   MessageBoxFunction message_box = &MessageBoxW);

#endif  // RUNNER_HAND_OFF_REPORT_H_
