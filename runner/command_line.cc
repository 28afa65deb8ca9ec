#include "runner/command_line.h"

#include "runner/return_url.h"
#include "win/text.h"

void ArgumentList::LocalFreeTraits::Close(Handle arguments) {
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
  return text != nullptr ? orvalin::win::Utf16ToUtf8Strict(text).value_or("")
                         : std::string();
}
