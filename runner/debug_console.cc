#include "runner/debug_console.h"

#include <io.h>

#include <cstdio>
#include <iostream>

#include "embedding/flutter_windows.h"
#include "win/windows.h"

namespace {

// Points |stream| at the console; on failure the descriptor of standard
// output stands in for |descriptor|.
void ReopenOnConsole(FILE* stream, int descriptor) {
  FILE* reopened = nullptr;
  if (freopen_s(&reopened, "CONOUT$", "w", stream) != 0) {
    _dup2(_fileno(stdout), descriptor);
  }
}

bool Given(DWORD which) {
  const HANDLE handle = GetStdHandle(which);
  return handle != nullptr && handle != INVALID_HANDLE_VALUE &&
         GetFileType(handle) != FILE_TYPE_UNKNOWN;
}

bool g_streams_reopened = false;

void Apply(const StreamPlan& plan) {
  if (plan.reopen_output) {
    ReopenOnConsole(stdout, 1);
  }
  if (plan.reopen_error) {
    ReopenOnConsole(stderr, 2);
  }
  if (plan.reopen_output || plan.reopen_error) {
    std::ios::sync_with_stdio(true);
    g_streams_reopened = true;
  }
}

}  // namespace

StreamPlan PlanStandardStreams(bool output_given, bool error_given,
                               bool console) {
  StreamPlan plan;
  plan.reopen_output = console && !output_given;
  plan.reopen_error = console && !error_given;
  plan.has_standard_error = console || error_given;
  return plan;
}

void OpenDebugConsole() {
  if (AllocConsole() == 0) {
    return;
  }
  Apply(PlanStandardStreams(false, false, true));
}

bool AttachOrOpenConsole() {
  const bool output_given = Given(STD_OUTPUT_HANDLE);
  const bool error_given = Given(STD_ERROR_HANDLE);
  if (AttachConsole(ATTACH_PARENT_PROCESS) != 0) {
    const StreamPlan plan =
        PlanStandardStreams(output_given, error_given, true);
    Apply(plan);
    return plan.has_standard_error;
  }
  if (IsDebuggerPresent()) {
    OpenDebugConsole();
    return true;
  }
  return error_given;
}

void ResyncEngineOutputStreams() {
  if (g_streams_reopened) {
    FlutterDesktopResyncOutputStreams();
  }
}
