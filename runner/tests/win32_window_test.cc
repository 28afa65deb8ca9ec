#include "runner/win32_window.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "runner/app_constants.h"
#include "runner/tests/fake_embedding.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace {

// Asks for its title while being destroyed, when the stored handle is
// already cleared.
class ProbeWindow : public Win32Window {
 public:
  std::wstring title_while_destroyed;
  HWND native_ = nullptr;

 protected:
  bool OnWindowCreated() override {
    native_ = Handle();
    return true;
  }
  void OnWindowDestroyed() override {
    wchar_t title[64] = {};
    if (Handle() == nullptr && IsWindow(native_)) {
      SendMessageW(native_, WM_GETTEXT, 64, reinterpret_cast<LPARAM>(title));
      title_while_destroyed = title;
    }
  }
};

bool HasRect(HWND window, const RECT& expected) {
  RECT rect = {};
  GetWindowRect(window, &rect);
  return EqualRect(&rect, &expected);
}

bool QuitPosted() {
  MSG message;
  return PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != 0;
}

TEST(Win32Window, CreatesAHiddenWindowShownOnRequest) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"Orvalin AI", {10, 10}, {1280, 720}));
  HWND handle = window.Handle();
  EXPECT_EQ(GetWindowLongW(handle, GWL_STYLE) & WS_OVERLAPPEDWINDOW,
            static_cast<LONG>(WS_OVERLAPPEDWINDOW));
  // Icon group 101 of the executable, which this test program carries too.
  EXPECT_NE(GetClassLongPtrW(handle, GCLP_HICON), 0u);
  EXPECT_FALSE(IsWindowVisible(handle));
  EXPECT_FALSE(window.Show()) << "was hidden before";
  EXPECT_TRUE(IsWindowVisible(handle));
  EXPECT_TRUE(window.Show()) << "was visible before";
  // WM_DPICHANGED takes the suggested rectangle exactly.
  RECT suggested = {40, 50, 415, 300};
  SendMessageW(handle, WM_DPICHANGED, 0, reinterpret_cast<LPARAM>(&suggested));
  EXPECT_TRUE(HasRect(handle, suggested));
  // A second Create replaces the window.
  ASSERT_TRUE(window.Create(L"second", {0, 0}, {200, 100}));
  EXPECT_FALSE(IsWindow(handle));
  EXPECT_NE(window.Handle(), handle);
}

// At 100 DPI the origin and width have fractions (10.42, 1333.33) that are
// cut off.
TEST(Win32Window, ScalesTheGeometryToTheMonitorDpi) {
  const std::pair<UINT, RECT> cases[] = {{96, {10, 10, 1290, 730}},
                                         {120, {12, 12, 1612, 912}},
                                         {144, {15, 15, 1935, 1095}},
                                         {100, {10, 10, 1343, 760}}};
  for (const auto& [dpi, outer] : cases) {
    flutter::testing::FakeEmbedding embedding;
    embedding.dpi = dpi;
    ProbeWindow window;
    ASSERT_TRUE(window.Create(L"Orvalin AI", {10, 10}, {1280, 720}));
    EXPECT_TRUE(HasRect(window.Handle(), outer)) << dpi;
  }
}

// Attached, then resized: the child covers the client area exactly.
TEST(Win32Window, ChildContentFillsTheClientAreaAndHasFocus) {
  ProbeWindow window;
  ASSERT_TRUE(window.Create(L"content", {0, 0}, {400, 300}));
  window.Show();
  // Made under a hidden holder, as a view's window is before it is attached.
  const orvalin::win::WindowHandle holder(
      CreateWindowExW(0, L"STATIC", L"", WS_OVERLAPPED, 0, 0, 9, 9, nullptr,
                      nullptr, nullptr, nullptr));
  HWND child = CreateWindowExW(0, L"STATIC", L"", WS_CHILD | WS_VISIBLE, 0, 0,
                               9, 9, holder.Get(), nullptr, nullptr, nullptr);
  window.AttachContent(child);
  EXPECT_EQ(GetParent(child), window.Handle());
  EXPECT_EQ(GetFocus(), child);
  for (int width : {0, 640}) {
    if (width > 0) SetWindowPos(window.Handle(), nullptr, 0, 0, width, 480, 0);
    RECT client = window.ClientRect();
    MapWindowPoints(window.Handle(), nullptr, reinterpret_cast<POINT*>(&client),
                    2);
    EXPECT_GT(client.right - client.left, width - 40);
    EXPECT_TRUE(HasRect(child, client)) << width;
  }
  SetFocus(nullptr);
  SendMessageW(window.Handle(), WM_ACTIVATE, WA_ACTIVE, 0);
  EXPECT_EQ(GetFocus(), child);
}

TEST(Win32Window, ClosingEndsTheLoopOnlyWhenAsked) {
  while (QuitPosted()) {
  }
  ProbeWindow stays;
  ASSERT_TRUE(stays.Create(L"stays", {0, 0}, {100, 100}));
  SendMessageW(stays.Handle(), WM_CLOSE, 0, 0);
  EXPECT_EQ(stays.Handle(), nullptr);
  EXPECT_FALSE(QuitPosted());
  // The default handling after WM_DESTROY still acts on the window itself.
  EXPECT_EQ(stays.title_while_destroyed, L"stays");

  ProbeWindow quits;
  ASSERT_TRUE(quits.Create(L"quits", {0, 0}, {100, 100}));
  quits.SetQuitWhenClosed(true);
  SendMessageW(quits.Handle(), WM_CLOSE, 0, 0);
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
  EXPECT_FALSE(
      GetClassInfoW(GetModuleHandleW(nullptr), kWindowClassName, &info));
  // And a later window registers it again.
  ProbeWindow again;
  EXPECT_TRUE(again.Create(L"again", {0, 0}, {100, 100}));
}

// The test prefix's own setting; absent afterwards, as in a new prefix.
TEST(Win32Window, ZeroThemeSettingMeansDarkAnythingUnreadableNothing) {
  constexpr wchar_t kKey[] =
      L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  const DWORD values[] = {0, 1};
  const std::tuple<DWORD, const void*, std::optional<bool>> cases[] = {
      {REG_DWORD, &values[0], true},
      {REG_DWORD, &values[1], false},
      {REG_SZ, L"0", std::nullopt},
      {REG_NONE, nullptr, std::nullopt}};
  for (const auto& [type, data, dark] : cases) {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme");
    if (data != nullptr) {
      RegSetKeyValueW(HKEY_CURRENT_USER, kKey, L"AppsUseLightTheme", type, data,
                      4);
    }
    EXPECT_EQ(Win32Window::ReadDarkThemeSetting(), dark) << type;
  }
}

}  // namespace
