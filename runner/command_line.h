// The process's command line: split the way Windows splits it, the return
// URL among the arguments, and the arguments as UTF-8 for the Dart side.
#ifndef RUNNER_COMMAND_LINE_H_
#define RUNNER_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "win/windows.h"

// Marks the registered scheme command's last argument: everything after it
// on the raw command line is one argument, whatever quotes it holds.
inline constexpr wchar_t kSingleArgumentSwitch[] = L"--single-argument";

// The arguments of a command line as CommandLineToArgvW splits them, except
// that after "<program> --single-argument " the rest of the line is one
// argument, taken whole (the switch itself is not listed).
class ArgumentList {
 public:
  explicit ArgumentList(const wchar_t* command_line);

  // False when the split failed; the list is then empty.
  bool ok() const { return ok_; }
  int count() const { return static_cast<int>(arguments_.size()); }
  const wchar_t* operator[](int index) const {
    return arguments_[index].c_str();
  }

 private:
  bool ok_ = false;
  std::vector<std::wstring> arguments_;
};

// The first return URL after the program name, its case unchanged.
std::optional<std::wstring> FindStartUrl(const ArgumentList& arguments);

// Every argument of |command_line| after the program name, in order, as
// UTF-8.
std::vector<std::string> CommandLineArgumentsUtf8(
    const wchar_t* command_line = GetCommandLineW());

// UTF-16 text (may be null) as UTF-8; empty for null text or text that holds
// an unpaired surrogate.
std::string ArgumentToUtf8(const wchar_t* text);

#endif  // RUNNER_COMMAND_LINE_H_
