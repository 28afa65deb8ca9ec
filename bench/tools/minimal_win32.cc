// The smallest Win32 program that does what the host's start-up legs do,
// as the reference the host is timed against under Wine:
//   minimal_win32 window        makes a window and prints "created",
//                               shows it and prints "painted" at its first
//                               paint, then ends.
//   minimal_win32 receive       holds a named mutex and a titled window;
//                               prints "ready", then "received <text>" for
//                               every WM_COPYDATA.
//   minimal_win32 send <text>   finds the receiver (mutex, then window)
//                               and hands it <text> in WM_COPYDATA.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <cstdio>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kClassName[] = L"ORVALIN_BENCH_MINIMAL_WINDOW";
constexpr wchar_t kReceiverTitle[] = L"Orvalin Bench Receiver";
constexpr wchar_t kMutexName[] = L"Local\\com.orvalin.bench.minimal";
constexpr ULONG_PTR kRecordKind = 0x8001;

bool g_painted = false;

void Say(const char* line) {
  std::fputs(line, stdout);
  std::fputc('\n', stdout);
  std::fflush(stdout);
}

LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                            LPARAM lparam) {
  switch (message) {
    case WM_PAINT: {
      PAINTSTRUCT paint;
      BeginPaint(window, &paint);
      EndPaint(window, &paint);
      if (!g_painted) {
        g_painted = true;
        Say("painted");
      }
      return 0;
    }
    case WM_COPYDATA: {
      const auto* record = reinterpret_cast<const COPYDATASTRUCT*>(lparam);
      if (record->dwData != kRecordKind) return FALSE;
      const std::string text(static_cast<const char*>(record->lpData),
                             record->cbData);
      Say(("received " + text).c_str());
      return TRUE;
    }
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

HWND MakeWindow(const wchar_t* title) {
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = &WindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = kClassName;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  RegisterClassW(&window_class);
  return CreateWindowExW(0, kClassName, title, WS_OVERLAPPEDWINDOW,
                         CW_USEDEFAULT, CW_USEDEFAULT, 1280, 720, nullptr,
                         nullptr, window_class.hInstance, nullptr);
}

int RunLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}

int ShowUntilPainted() {
  HWND window = MakeWindow(L"Orvalin Bench Window");
  if (window == nullptr) return 1;
  // Where the host is when its engine reports the first frame: the window
  // exists and is not shown yet.
  Say("created");
  ShowWindow(window, SW_SHOWNORMAL);
  UpdateWindow(window);
  while (!g_painted) {
    MSG message;
    if (GetMessageW(&message, nullptr, 0, 0) <= 0) break;
    DispatchMessageW(&message);
  }
  DestroyWindow(window);
  return g_painted ? 0 : 1;
}

int Receive() {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
  HWND window = MakeWindow(kReceiverTitle);
  if (mutex == nullptr || window == nullptr) return 1;
  Say("ready");
  const int code = RunLoop();
  CloseHandle(mutex);
  return code;
}

int Send(const wchar_t* text) {
  HANDLE mutex = CreateMutexW(nullptr, TRUE, kMutexName);
  const bool running = GetLastError() == ERROR_ALREADY_EXISTS;
  if (mutex != nullptr) CloseHandle(mutex);
  if (!running) return 1;
  HWND window = FindWindowW(nullptr, kReceiverTitle);
  if (window == nullptr) return 1;
  const int size =
      WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  std::string utf8(size > 0 ? size - 1 : 0, '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, utf8.data(), size, nullptr,
                      nullptr);
  COPYDATASTRUCT record = {};
  record.dwData = kRecordKind;
  record.cbData = static_cast<DWORD>(utf8.size());
  record.lpData = utf8.data();
  SendMessageW(window, WM_COPYDATA, 0, reinterpret_cast<LPARAM>(&record));
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wcscmp(argv[1], L"window") == 0) {
    return ShowUntilPainted();
  }
  if (argc >= 2 && std::wcscmp(argv[1], L"receive") == 0) return Receive();
  if (argc >= 3 && std::wcscmp(argv[1], L"send") == 0) return Send(argv[2]);
  std::fputs("usage: minimal_win32 window | receive | send <text>\n", stderr);
  return 2;
}
