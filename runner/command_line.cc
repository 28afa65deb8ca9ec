#include "runner/command_line.h"

#include <shellapi.h>

#include <cwchar>

#include "runner/return_url.h"

void ArgumentList::LocalFreeDeleter::operator()(wchar_t** arguments) const {
  LocalFree(arguments);
}

ArgumentList::ArgumentList(const wchar_t* command_line)
    : arguments_(CommandLineToArgvW(command_line, &count_)) {
  if (!arguments_) {
    count_ = 0;
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
  if (text == nullptr) {
    return std::string();
  }
  const int size = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, -1,
                                       nullptr, 0, nullptr, nullptr);
  const int length = size - 1;
  if (size == 0 || length == 0) {
    return std::string();
  }
  std::string utf8(length, '\0');
  const int converted = WideCharToMultiByte(
      CP_UTF8, WC_ERR_INVALID_CHARS, text, static_cast<int>(std::wcslen(text)),
      utf8.data(), length, nullptr, nullptr);
  if (converted == 0) {
    return std::string();
  }
  return utf8;
}
