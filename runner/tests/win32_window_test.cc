#include "runner/win32_window.h"

#include <gtest/gtest.h>

#include <string>

#include "runner/app_constants.h"

namespace {

// Counts the hooks the base calls.
class ProbeWindow : public Win32Window {
 public:
  int created = 0;
  int destroyed = 0;

 protected:
  bool OnWindowCreated() override {
    ++created;
    return true;
  }
  void OnWindowDestroyed() override { ++destroyed; }
};

RECT OuterRect(HWND window) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return rect;
}

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

// A child window made under a hidden holder, the way a view's window exists
// before it is attached.
HWND MakeChild(HWND holder) {
  return CreateWindowExW(0, L"STATIC", L"content", WS_CHILD | WS_VISIBLE, 0, 0,
                         10, 10, holder, nullptr, GetModuleHandleW(nullptr),
                         nullptr);
}

TEST(Win32Window, CreatesAHiddenWindowShownOnRequest) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"Orvalin AI", {10, 10}, {1280, 720}));
  HWND handle = window.Handle();
  ASSERT_NE(handle, nullptr);
  EXPECT_EQ(window.created, 1);

  // Class, title and the 96 DPI geometry: tests/e2e, through the app.
  EXPECT_EQ(GetWindowLongW(handle, GWL_STYLE) & WS_OVERLAPPEDWINDOW,
            static_cast<LONG>(WS_OVERLAPPEDWINDOW));
  // Icon group 101 of the executable, which this test program carries too.
  EXPECT_NE(GetClassLongPtrW(handle, GCLP_HICON), 0u);

  EXPECT_FALSE(IsWindowVisible(handle));
  EXPECT_FALSE(window.Show()) << "was hidden before";
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_TRUE(window.Show()) << "was visible before";
}

// The engine's DPI answer, forced through its ORVALIN_STANDIN_DPI setting.
// At 100 DPI the origin and width have fractions (10.42, 1333.33) that are
// cut off.
TEST(Win32Window, ScalesOriginAndSizeTowardZero) {
  SetEnvironmentVariableW(L"ORVALIN_STANDIN_DPI", L"100");
  ProbeWindow window;
  const bool created = window.Create(L"Orvalin AI", {10, 10}, {1280, 720});
  SetEnvironmentVariableW(L"ORVALIN_STANDIN_DPI", nullptr);
  ASSERT_TRUE(created);
  const RECT outer = OuterRect(window.Handle());
  EXPECT_EQ(outer.left, 10);
  EXPECT_EQ(outer.top, 10);
  EXPECT_EQ(outer.right, 10 + 1333);
  EXPECT_EQ(outer.bottom, 10 + 750);
}

TEST(Win32Window, SecondCreateReplacesTheFirstWindow) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"first", {0, 0}, {200, 100}));
  HWND first = window.Handle();
  ASSERT_TRUE(window.Create(L"second", {0, 0}, {200, 100}));
  EXPECT_FALSE(IsWindow(first));
  EXPECT_NE(window.Handle(), first);
  EXPECT_GE(window.destroyed, 1);
}

TEST(Win32Window, ChildContentFillsTheClientAreaAndHasFocus) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"content", {0, 0}, {400, 300}));
  window.Show();
  HWND holder =
      CreateWindowExW(0, L"STATIC", L"holder", WS_OVERLAPPED, 0, 0, 10, 10,
                      nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
  HWND child = MakeChild(holder);
  ASSERT_NE(child, nullptr);

  window.AttachContent(child);
  EXPECT_EQ(GetParent(child), window.Handle());
  RECT child_rect = {};
  GetClientRect(child, &child_rect);
  RECT client = window.ClientRect();
  EXPECT_EQ(child_rect.right, client.right);
  EXPECT_EQ(child_rect.bottom, client.bottom);
  EXPECT_EQ(GetFocus(), child);

  // A resize reaches the child through WM_SIZE.
  SetWindowPos(window.Handle(), nullptr, 0, 0, 640, 480,
               SWP_NOMOVE | SWP_NOZORDER);
  client = window.ClientRect();
  GetClientRect(child, &child_rect);
  EXPECT_GT(client.right, 400);
  EXPECT_EQ(child_rect.right, client.right);
  EXPECT_EQ(child_rect.bottom, client.bottom);

  SetFocus(nullptr);
  SendMessageW(window.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), child);
  DestroyWindow(holder);
}

TEST(Win32Window, DpiChangeTakesTheSuggestedRectangle) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"dpi", {10, 10}, {300, 200}));
  RECT suggested = {40, 50, 40 + 375, 50 + 250};
  SendMessageW(window.Handle(), WM_DPICHANGED, MAKEWPARAM(120, 120),
               reinterpret_cast<LPARAM>(&suggested));
  const RECT outer = OuterRect(window.Handle());
  EXPECT_EQ(outer.left, 40);
  EXPECT_EQ(outer.top, 50);
  EXPECT_EQ(outer.right, 415);
  EXPECT_EQ(outer.bottom, 300);
}

TEST(Win32Window, ClosingEndsTheLoopOnlyWhenAsked) {
  while (QuitPosted()) {
  }
  ProbeWindow stays;
  ASSERT_TRUE(stays.Create(L"stays", {0, 0}, {100, 100}));
  SendMessageW(stays.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(stays.Handle(), nullptr);
  EXPECT_GE(stays.destroyed, 1);
  EXPECT_FALSE(QuitPosted());

  ProbeWindow quits;
  ASSERT_TRUE(quits.Create(L"quits", {0, 0}, {100, 100}));
  quits.SetQuitWhenClosed(true);
  SendMessageW(quits.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(quits.Handle(), nullptr);
  EXPECT_TRUE(QuitPosted());
}

TEST(Win32Window, ClassLivesAsLongAsAnyWindowObject) {
  WNDCLASSW info = {};
  {
    ProbeWindow window;
    ASSERT_TRUE(window.Create(L"class", {0, 0}, {100, 100}));
    window.Destroy();
    EXPECT_TRUE(
        GetClassInfoW(GetModuleHandleW(nullptr), kWindowClassName, &info));
  }
  EXPECT_EQ(Win32Window::LiveWindowCount(), 0);
  EXPECT_FALSE(
      GetClassInfoW(GetModuleHandleW(nullptr), kWindowClassName, &info));
  // And a later window registers it again.
  ProbeWindow again;
  EXPECT_TRUE(again.Create(L"again", {0, 0}, {100, 100}));
}

// Sets or removes AppsUseLightTheme and restores it afterwards.
class ThemeSettingTest : public testing::Test {
 protected:
  static constexpr wchar_t kKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

  void SetUp() override {
    DWORD size = sizeof(saved_);
    had_value_ = RegGetValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme",
                              RRF_RT_REG_DWORD, nullptr, &saved_,
                              &size) == ERROR_SUCCESS;
  }
  void TearDown() override {
    if (had_value_) {
      SetDword(saved_);
    } else {
      Remove();
    }
  }
  void SetDword(DWORD value) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", REG_DWORD,
                    &value, sizeof(value));
  }
  void SetText(const wchar_t* text) {
    RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", REG_SZ, text,
                    static_cast<DWORD>((wcslen(text) + 1) * sizeof(wchar_t)));
  }
  void Remove() {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme");
  }

 private:
  DWORD saved_ = 0;
  bool had_value_ = false;
};

TEST_F(ThemeSettingTest, ZeroMeansDarkAnythingUnreadableMeansNothing) {
  SetDword(0);
  EXPECT_EQ(Win32Window::ReadDarkThemeSetting(), true);
  SetDword(1);
  EXPECT_EQ(Win32Window::ReadDarkThemeSetting(), false);
  SetText(L"0");
  EXPECT_EQ(Win32Window::ReadDarkThemeSetting(), std::nullopt);
  Remove();
  EXPECT_EQ(Win32Window::ReadDarkThemeSetting(), std::nullopt);
}

}  // namespace
