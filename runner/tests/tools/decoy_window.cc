// decoy_window <lifetime_ms>: a window of another class that carries the
// host's title, as a folder window named "Orvalin AI" would. It prints
// "ready" once it exists, counts the WM_COPYDATA messages it receives, and
// after <lifetime_ms> prints "received <n>" and exits.
// decoy_window <lifetime_ms> hung: a running instance that hangs: it holds
// the single-instance mutex and a window of the host's class and title,
// prints "ready" and then handles no message for <lifetime_ms>.
#include <cstdio>
#include <cwchar>
#include <string>

#include "runner/app_constants.h"
#include "win/windows.h"

namespace {

int g_received = 0;

LRESULT CALLBACK DecoyProc(HWND window, UINT message, WPARAM wparam,
                           LPARAM lparam) {
  switch (message) {
    case WM_COPYDATA:
      ++g_received;
      return TRUE;
    case WM_TIMER:
      DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const UINT lifetime_ms = argc > 1 ? std::wcstoul(argv[1], nullptr, 10) : 5000;
  const bool hung = argc > 2 && std::wstring(argv[2]) == L"hung";
  const wchar_t* class_name = hung ? kWindowClassName : L"CabinetWClass";
  if (hung) {  // held until the process ends
    CreateMutexW(nullptr, FALSE, kSingleInstanceMutexName);
  }
  WNDCLASSW window_class = {};
  window_class.lpfnWndProc = DecoyProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = class_name;
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(
      0, class_name, kWindowTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50, 50,
      300, 200, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  if (window == nullptr) return 1;
  std::printf("ready\n");
  std::fflush(stdout);
  if (hung) {
    Sleep(lifetime_ms);
    return 0;
  }
  SetTimer(window, 1, lifetime_ms, nullptr);
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
  std::printf("received %d\n", g_received);
  std::fflush(stdout);
  return 0;
}
