// The application's top-level window: a per-monitor DPI-aware overlapped
// window with one child content window filling its client area.
#ifndef RUNNER_WIN32_WINDOW_H_
#define RUNNER_WIN32_WINDOW_H_

#include <optional>
#include <string>

#include "win/unique_handle.h"
#include "win/windows.h"

class Win32Window {
 public:
  // Logical pixels: 96 DPI is a scale of 1.0.
  struct Point {
    int x;
    int y;
    Point(int x, int y) : x(x), y(y) {}
  };
  struct Size {
    int width;
    int height;
    Size(int width, int height) : width(width), height(height) {}
  };

  Win32Window();
  virtual ~Win32Window();
  Win32Window(const Win32Window&) = delete;
  Win32Window& operator=(const Win32Window&) = delete;

  // Creates the window hidden, scaled to the DPI of the monitor nearest to
  // |origin|; replaces an earlier window. True when the window exists and
  // OnWindowCreated succeeded.
  bool Create(const std::wstring& title, const Point& origin, const Size& size);
  // True when the window was visible before.
  bool Show();
  // Tears the native window down; the object may Create again.
  void Destroy();
  // Makes |content| the child that fills the client area and has the focus.
  void AttachContent(HWND content);

  HWND Handle() const { return window_handle_.Get(); }
  RECT ClientRect() const;
  void SetQuitWhenClosed(bool quit_when_closed) {
    quit_when_closed_ = quit_when_closed;
  }

  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept;

  // The user's app theme: true for dark, nothing when the setting cannot be
  // read.
  static std::optional<bool> ReadDarkThemeSetting();
  static void ApplyTitleBarTheme(HWND window);

  // Win32Window objects in existence; the class stays registered while any
  // of them lives.
  static int LiveWindowCount() { return live_window_count_; }

 protected:
  virtual LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam) noexcept;
  virtual bool OnWindowCreated() { return true; }
  // May run twice for one window: DestroyWindow re-enters Destroy.
  virtual void OnWindowDestroyed() {}

 private:
  static int live_window_count_;

  bool quit_when_closed_ = false;
  orvalin::win::WindowHandle window_handle_;
  // Owned by the view controller.
  HWND child_content_ = nullptr;
};

#endif  // RUNNER_WIN32_WINDOW_H_
