#include "runner/win32_window.h"

#include <dwmapi.h>

#include "embedding/flutter_windows.h"
#include "runner/app_constants.h"
#include "runner/resources/resource.h"
#include "win/registry_key.h"
#include "win/system_library.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace {

constexpr wchar_t kThemeKey[] =
    L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
constexpr wchar_t kLightThemeValue[] = L"AppsUseLightTheme";

// Older SDK headers lack the attribute's name.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;

// Whether the shared window class is registered; made once, never freed.
class WindowClassRegistry {
 public:
  static WindowClassRegistry& Get() {
    static WindowClassRegistry* registry = new WindowClassRegistry();
    return *registry;
  }

  const wchar_t* ClassName() {
    if (!registered_) {
      WNDCLASSW window_class = {};
      window_class.style = CS_HREDRAW | CS_VREDRAW;
      window_class.lpfnWndProc = Win32Window::WindowProc;
      window_class.hInstance = GetModuleHandleW(nullptr);
      window_class.hIcon =
          LoadIconW(window_class.hInstance, MAKEINTRESOURCEW(IDI_APP_ICON));
      window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
      window_class.lpszClassName = kWindowClassName;
      // A failure shows later, in CreateWindowExW.
      RegisterClassW(&window_class);
      registered_ = true;
    }
    return kWindowClassName;
  }

  void Unregister() {
    UnregisterClassW(kWindowClassName, nullptr);
    registered_ = false;
  }

 private:
  bool registered_ = false;
};

int Scale(int value, double scale) { return static_cast<int>(value * scale); }

// Lets Windows scale the non-client area of a per-monitor window; the export
// is absent on old systems.
void EnableNonClientScaling(HWND window) {
  const orvalin::win::LibraryHandle user32(LoadLibraryA("User32.dll"));
  if (!user32) {
    return;
  }
  using EnableNonClientDpiScaling = BOOL(WINAPI*)(HWND);
  auto enable =
      reinterpret_cast<EnableNonClientDpiScaling>(reinterpret_cast<void*>(
          GetProcAddress(user32.Get(), "EnableNonClientDpiScaling")));
  if (enable != nullptr) {
    enable(window);
  }
}

}  // namespace

int Win32Window::live_window_count_ = 0;

Win32Window::Win32Window() { ++live_window_count_; }

Win32Window::~Win32Window() {
  --live_window_count_;
  Destroy();
}

bool Win32Window::Create(const std::wstring& title, const Point& origin,
                         const Size& size) {
  Destroy();
  const wchar_t* class_name = WindowClassRegistry::Get().ClassName();

  const POINT target = {origin.x, origin.y};
  HMONITOR monitor = MonitorFromPoint(target, MONITOR_DEFAULTTONEAREST);
  const double scale = FlutterDesktopGetDpiForMonitor(monitor) / 96.0;

  HWND window =
      CreateWindowExW(0, class_name, title.c_str(), WS_OVERLAPPEDWINDOW,
                      Scale(origin.x, scale), Scale(origin.y, scale),
                      Scale(size.width, scale), Scale(size.height, scale),
                      nullptr, nullptr, GetModuleHandleW(nullptr), this);
  if (window == nullptr) {
    return false;
  }
  ApplyTitleBarTheme(window);
  return OnWindowCreated();
}

bool Win32Window::Show() {
  return ShowWindow(window_handle_.Get(), SW_SHOWNORMAL) != 0;
}

void Win32Window::Destroy() {
  OnWindowDestroyed();
  // Clears the stored handle before destroying, so the WM_DESTROY that this
  // re-enters finds nothing left to destroy.
  window_handle_.Reset();
  if (live_window_count_ == 0) {
    WindowClassRegistry::Get().Unregister();
  }
}

void Win32Window::AttachContent(HWND content) {
  child_content_ = content;
  SetParent(content, window_handle_.Get());
  const RECT frame = ClientRect();
  MoveWindow(content, frame.left, frame.top, frame.right - frame.left,
             frame.bottom - frame.top, TRUE);
  SetFocus(child_content_);
}

RECT Win32Window::ClientRect() const {
  RECT frame = {};
  GetClientRect(window_handle_.Get(), &frame);
  return frame;
}

LRESULT CALLBACK Win32Window::WindowProc(HWND window, UINT message,
                                         WPARAM wparam,
                                         LPARAM lparam) noexcept {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    auto* self = static_cast<Win32Window*>(create->lpCreateParams);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    EnableNonClientScaling(window);
    self->window_handle_.Reset(window);
    return DefWindowProcW(window, message, wparam, lparam);
  }
  auto* self =
      reinterpret_cast<Win32Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr) {
    return self->HandleMessage(window, message, wparam, lparam);
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

LRESULT Win32Window::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam) noexcept {
  switch (message) {
    case WM_DESTROY:
      // The window is already going; only the ownership is given up.
      window_handle_.Take();
      Destroy();
      if (quit_when_closed_) {
        PostQuitMessage(0);
      }
      return 0;
    case WM_SIZE:
      if (child_content_ != nullptr) {
        const RECT frame = ClientRect();
        MoveWindow(child_content_, frame.left, frame.top,
                   frame.right - frame.left, frame.bottom - frame.top, TRUE);
      }
      return 0;
    case WM_ACTIVATE:
      if (child_content_ != nullptr) {
        SetFocus(child_content_);
      }
      return 0;
    case WM_DPICHANGED: {
      const auto* suggested = reinterpret_cast<const RECT*>(lparam);
      SetWindowPos(window, nullptr, suggested->left, suggested->top,
                   suggested->right - suggested->left,
                   suggested->bottom - suggested->top,
                   SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    case WM_DWMCOLORIZATIONCOLORCHANGED:
      ApplyTitleBarTheme(window);
      return 0;
  }
  // The window's own handle: the stored one is already cleared on the
  // messages that follow WM_DESTROY.
  return DefWindowProcW(window, message, wparam, lparam);
}

std::optional<bool> Win32Window::ReadDarkThemeSetting() {
  DWORD light = 0;
  if (orvalin::win::ReadDword(HKEY_CURRENT_USER, kThemeKey, kLightThemeValue,
                              &light) != ERROR_SUCCESS) {
    return std::nullopt;
  }
  return light == 0;
}

void Win32Window::ApplyTitleBarTheme(HWND window) {
  const std::optional<bool> dark = ReadDarkThemeSetting();
  if (!dark) {
    return;
  }
  // From System32 only (no import: see win/system_library.h).
  static const auto set_attribute =
      orvalin::win::SystemFunction<decltype(DwmSetWindowAttribute)>(
          L"dwmapi.dll", "DwmSetWindowAttribute");
  if (set_attribute == nullptr) {
    return;
  }
  const BOOL dark_mode = *dark ? TRUE : FALSE;
  set_attribute(window, kDwmUseImmersiveDarkMode, &dark_mode,
                sizeof(dark_mode));
}
