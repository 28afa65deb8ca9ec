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

}  // namespace

void OpenDebugConsole() {
  if (AllocConsole() == 0) {
    return;
  }
  ReopenOnConsole(stdout, 1);
  ReopenOnConsole(stderr, 2);
  std::ios::sync_with_stdio(true);
  FlutterDesktopResyncOutputStreams();
}

void AttachOrOpenConsole() {
  if (AttachConsole(ATTACH_PARENT_PROCESS) == 0 && IsDebuggerPresent()) {
    OpenDebugConsole();
  }
}
