#include "runner/command_line.h"

#include <memory>
#include <string_view>

#include "runner/return_url.h"
#include "win/text.h"

namespace {

struct LocalFreeDeleter {
  void operator()(wchar_t** arguments) const { LocalFree(arguments); }
};

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

// Where the text after the program name starts, by the rule Windows applies
// to the program name: up to the closing quote when it opens with one,
// otherwise up to the first blank.
size_t ProgramNameEnd(std::wstring_view line) {
  if (!line.empty() && line[0] == L'"') {
    const size_t close = line.find(L'"', 1);
    return close == std::wstring_view::npos ? line.size() : close + 1;
  }
  size_t end = 0;
  while (end < line.size() && !IsBlank(line[end])) {
    ++end;
  }
  return end;
}

// The offset of the single argument after "<program> --single-argument ",
// or npos when |line| is not of that form.
size_t SingleArgumentStart(std::wstring_view line) {
  size_t at = ProgramNameEnd(line);
  if (at == 0 || at == line.size() || !IsBlank(line[at])) {
    return std::wstring_view::npos;
  }
  while (at < line.size() && IsBlank(line[at])) {
    ++at;
  }
  const std::wstring_view marker = kSingleArgumentSwitch;
  if (line.substr(at, marker.size()) != marker) {
    return std::wstring_view::npos;
  }
  at += marker.size();
  if (at == line.size()) {
    return at;  // an empty argument
  }
  return IsBlank(line[at]) ? at + 1 : std::wstring_view::npos;
}

}  // namespace

ArgumentList::ArgumentList(const wchar_t* command_line) {
  const std::wstring_view line = command_line != nullptr ? command_line : L"";
  const size_t single = SingleArgumentStart(line);
  // The program name alone is split by Windows' rule; the rest is one piece.
  const std::wstring head(line.substr(0, single == std::wstring_view::npos
                                             ? line.size()
                                             : ProgramNameEnd(line)));
  int count = 0;
  std::unique_ptr<wchar_t*, LocalFreeDeleter> split(
      CommandLineToArgvW(head.c_str(), &count));
  if (!split) {
    return;
  }
  ok_ = true;
  arguments_.assign(split.get(), split.get() + count);
  if (single != std::wstring_view::npos) {
    arguments_.emplace_back(line.substr(single));
  }
}

std::optional<std::wstring> FindStartUrl(const ArgumentList& arguments) {
  for (int i = 1; i < arguments.count(); ++i) {
    const wchar_t* argument = arguments[i];
    if (argument != nullptr && IsReturnUrl(argument)) {
      return std::wstring(argument);
    }
  }
  return std::nullopt;
}

std::vector<std::string> CommandLineArgumentsUtf8(const wchar_t* command_line) {
  std::vector<std::string> result;
  ArgumentList arguments(command_line);
  for (int i = 1; i < arguments.count(); ++i) {
    result.push_back(ArgumentToUtf8(arguments[i]));
  }
  return result;
}

std::string ArgumentToUtf8(const wchar_t* text) {
  return text != nullptr ? orvalin::win::Utf16ToUtf8Strict(text).value_or("")
                         : std::string();
}
