// The process's command line: split the way Windows splits it, the return
// URL among the arguments, and the arguments as UTF-8 for the Dart side.
#ifndef RUNNER_COMMAND_LINE_H_
#define RUNNER_COMMAND_LINE_H_

#include <optional>
#include <string>
#include <vector>

#include "win/unique_handle.h"
#include "win/windows.h"

// The arguments of a command line as CommandLineToArgvW splits them; the
// array is freed with LocalFree when the list goes away.
class ArgumentList {
 public:
  explicit ArgumentList(const wchar_t* command_line);

  // False when the split failed; the list is then empty.
  bool ok() const { return arguments_.IsValid(); }
  int count() const { return count_; }
  const wchar_t* operator[](int index) const { return arguments_.Get()[index]; }

 private:
  struct LocalFreeTraits {
    using Handle = wchar_t**;
    static void Close(Handle arguments);
  };

  int count_ = 0;
  orvalin::win::UniqueHandle<LocalFreeTraits> arguments_;
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
