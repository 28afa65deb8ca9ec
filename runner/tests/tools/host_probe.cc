// Talks to the running host's window the way other programs can, and prints
// what it saw:
//   host_probe malformed    sends every record of MalformedCopyDataRecords;
//                           one "<name> <result>" line each
//   host_probe url <text>   sends one well-formed record; "url <result>"
//   host_probe font         sends WM_FONTCHANGE; "font <result>"
//   host_probe info         "window <class>|<title>|<l> <t> <r> <b>|<visible>"
//   host_probe close        posts WM_CLOSE, as the close button does
//   host_probe state        "iconic <0|1> foreground <0|1>"
//   host_probe minimize     minimises the window, waits until it is, then
//                           prints as "state" does
//   host_probe flood <count> <seed>
//                           sends <count> hostile messages, half of them
//                           records the host must drop, half random
//                           messages that pass integers only and neither
//                           close nor block the window; prints
//                           "copydata <sent> <answered TRUE>",
//                           "other <sent>" and "timeouts <n>"
//   host_probe shell-open <url>
//                           opens <url> as a browser does (ShellExecuteW),
//                           so the shell runs the scheme's registered
//                           command; "shell-open <result>"
//   host_probe hold <file> [next]
//                           holds a handle of the single-instance mutex, as
//                           an instance that is starting or ending does,
//                           until <file> exists; with "next" it first waits
//                           for an instance to make the mutex. Prints
//                           "waiting" (with "next"), "holding", "released"
// Exit code 0 when the window was found, 2 when it was not.
#include <cstdint>
#include <cstdio>
#include <cwchar>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "runner/app_constants.h"
#include "runner/single_instance.h"
#include "runner/tests/tools/malformed_copydata.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace {

void Send(HWND window, const char* name, const COPYDATASTRUCT& record) {
  const LRESULT result =
      SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
  std::printf("%s %lld\n", name, static_cast<long long>(result));
}

// A message and wParam that carry no pointer and neither close, destroy,
// quit, nor start a modal loop (no system commands, no non-client or system
// keys, no right button, no timers).
std::pair<UINT, WPARAM> RandomMessage(std::mt19937* random) {
  static const UINT kSystem[] = {
      WM_NULL,         WM_MOVE,        WM_SIZE,           WM_ACTIVATE,
      WM_SETFOCUS,     WM_KILLFOCUS,   WM_ENABLE,         WM_FONTCHANGE,
      WM_TIMECHANGE,   WM_CANCELMODE,  WM_SYSCOLORCHANGE, WM_ACTIVATEAPP,
      WM_MOUSEMOVE,    WM_LBUTTONDOWN, WM_LBUTTONUP,      WM_MOUSEWHEEL,
      WM_KEYDOWN,      WM_KEYUP,       WM_CHAR,           WM_DISPLAYCHANGE,
      WM_THEMECHANGED, 0x0320 /* WM_DWMCOLORIZATIONCOLORCHANGED */};
  const UINT kind = (*random)() % 4;
  const UINT bases[] = {WM_USER, WM_APP, 0xC000};  // private and registered
  const UINT message = kind == 0 ? kSystem[(*random)() % std::size(kSystem)]
                                 : bases[kind - 1] + (*random)() % 0x4000;
  WPARAM wparam = (static_cast<WPARAM>((*random)()) << 32) | (*random)();
  if (message == WM_KEYDOWN || message == WM_KEYUP || message == WM_CHAR) {
    wparam = 'A' + (*random)() % 26;  // no F10, Alt, space or F4
  }
  return {message, wparam};
}

void Flood(HWND window, int count, unsigned seed) {
  std::mt19937 random(seed);
  const auto& malformed = MalformedCopyDataRecords();
  int copydata = 0, copydata_true = 0, other = 0, timeouts = 0;
  for (int i = 0; i < count && IsWindow(window); ++i) {
    UINT message = WM_COPYDATA;
    WPARAM wparam = 0;
    LPARAM lparam =
        static_cast<LPARAM>((static_cast<uint64_t>(random()) << 32) | random());
    COPYDATASTRUCT record = malformed[random() % malformed.size()].record;
    if (i % 2 == 1) {
      std::tie(message, wparam) = RandomMessage(&random);
      ++other;
    } else {
      lparam = reinterpret_cast<LPARAM>(&record);
      ++copydata;
    }
    DWORD_PTR result = 0;
    if (!SendMessageTimeoutW(window, message, wparam, lparam,
                             SMTO_NORMAL | SMTO_ABORTIFHUNG, 5000, &result)) {
      ++timeouts;
    } else if (message == WM_COPYDATA && result == TRUE) {
      ++copydata_true;
    }
  }
  std::printf("copydata %d %d\nother %d\ntimeouts %d\n", copydata,
              copydata_true, other, timeouts);
}

void PrintInfo(HWND window) {
  wchar_t class_name[128] = {};
  wchar_t title[128] = {};
  GetClassNameW(window, class_name, 128);
  GetWindowTextW(window, title, 128);
  RECT rect = {};
  GetWindowRect(window, &rect);
  std::printf("window %ls|%ls|%ld %ld %ld %ld|%d\n", class_name, title,
              rect.left, rect.top, rect.right, rect.bottom,
              IsWindowVisible(window) ? 1 : 0);
}

int HoldMutex(const wchar_t* release_file, bool next) {
  orvalin::win::KernelHandle mutex;
  if (next) std::printf("waiting\n");
  std::fflush(stdout);
  while (next) {
    mutex.Reset(OpenMutexW(SYNCHRONIZE, FALSE, kSingleInstanceMutexName));
    if (mutex) break;
    Sleep(1);
  }
  if (!mutex) {
    mutex.Reset(CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName));
  }
  std::printf("holding\n");
  std::fflush(stdout);
  while (GetFileAttributesW(release_file) == INVALID_FILE_ATTRIBUTES) {
    Sleep(50);
  }
  mutex.Reset();
  std::printf("released\n");
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const std::wstring mode = argc > 1 ? argv[1] : L"";
  if (mode == L"hold" && argc > 2) {
    return HoldMutex(argv[2], argc > 3 && std::wstring(argv[3]) == L"next");
  }
  if (mode == L"shell-open" && argc > 2) {
    const INT_PTR result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(nullptr, L"open", argv[2], nullptr, nullptr, SW_SHOW));
    std::printf("shell-open %lld\n", static_cast<long long>(result));
    return result > 32 ? 0 : 1;
  }
  // The window a later instance would hand over to first: another may
  // belong to an instance that is starting or failing to.
  HWND window = FindInstanceWindows().ready;
  if (window == nullptr) window = FindWindowW(kWindowClassName, kWindowTitle);
  if (window == nullptr) {
    std::fprintf(stderr, "host_probe: no running window\n");
    return 2;
  }
  if (mode == L"malformed") {
    for (const MalformedCopyData& malformed : MalformedCopyDataRecords()) {
      Send(window, malformed.name, malformed.record);
    }
  } else if (mode == L"url" && argc > 2) {
    const std::vector<char> bytes = PayloadBytes(argv[2]);
    Send(window, "url",
         {kReturnUrlCopyDataId, static_cast<DWORD>(bytes.size()),
          const_cast<char*>(bytes.data())});
  } else if (mode == L"font") {
    std::printf("font %lld\n", static_cast<long long>(
                                   SendMessageW(window, WM_FONTCHANGE, 0, 0)));
  } else if (mode == L"info") {
    PrintInfo(window);
  } else if (mode == L"close") {
    PostMessageW(window, WM_CLOSE, 0, 0);
  } else if (mode == L"state" || mode == L"minimize") {
    if (mode == L"minimize") ShowWindow(window, SW_MINIMIZE);
    for (int i = 0; i < 100 && mode == L"minimize" && !IsIconic(window); ++i) {
      Sleep(50);
    }
    std::printf("iconic %d foreground %d\n", IsIconic(window) ? 1 : 0,
                GetForegroundWindow() == window ? 1 : 0);
  } else if (mode == L"flood" && argc > 3) {
    Flood(window, std::wcstol(argv[2], nullptr, 10),
          static_cast<unsigned>(std::wcstoul(argv[3], nullptr, 10)));
  } else {
    std::fprintf(stderr, "host_probe: unknown mode; see its source\n");
    return 2;
  }
  std::fflush(stdout);
  return 0;
}
