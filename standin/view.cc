#include "standin/view.h"

#include <algorithm>
#include <mutex>
#include <string>

#include "standin/wire.h"

namespace {

constexpr wchar_t kViewClass[] = L"OrvalinStandinView";
constexpr wchar_t kParkingClass[] = L"OrvalinStandinParking";
constexpr UINT kScheduledFrame = WM_APP + 0x51;
constexpr UINT kFramePresented = WM_APP + 0x52;
constexpr COLORREF kBackground = RGB(0x17, 0x1C, 0x26);
constexpr COLORREF kTitleColor = RGB(0xF2, 0xF4, 0xF8);
constexpr COLORREF kStatusColor = RGB(0x9A, 0xA5, 0xB8);

void RegisterClasses(WNDPROC view_procedure) {
  static std::once_flag once;
  std::call_once(once, [view_procedure] {
    WNDCLASSW view_class{};
    view_class.lpfnWndProc = view_procedure;
    view_class.hInstance = standin::ModuleInstance();
    view_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    view_class.lpszClassName = kViewClass;
    RegisterClassW(&view_class);
    WNDCLASSW parking_class{};
    parking_class.lpfnWndProc = DefWindowProcW;
    parking_class.hInstance = standin::ModuleInstance();
    parking_class.lpszClassName = kParkingClass;
    RegisterClassW(&parking_class);
  });
}

// BeginPaint/EndPaint as a scope.
class PaintScope {
 public:
  explicit PaintScope(HWND window) : window_(window) {
    dc_ = BeginPaint(window_, &paint_);
  }
  ~PaintScope() { EndPaint(window_, &paint_); }
  PaintScope(const PaintScope&) = delete;
  PaintScope& operator=(const PaintScope&) = delete;
  HDC dc() const { return dc_; }

 private:
  HWND window_;
  PAINTSTRUCT paint_;
  HDC dc_;
};

struct GdiObjectDeleter {
  void operator()(HGDIOBJ object) const { DeleteObject(object); }
};
using GdiObject =
    std::unique_ptr<std::remove_pointer_t<HGDIOBJ>, GdiObjectDeleter>;

// Selects an object into a DC and puts the previous one back.
class SelectScope {
 public:
  SelectScope(HDC dc, HGDIOBJ object)
      : dc_(dc), previous_(SelectObject(dc, object)) {}
  ~SelectScope() { SelectObject(dc_, previous_); }
  SelectScope(const SelectScope&) = delete;
  SelectScope& operator=(const SelectScope&) = delete;

 private:
  HDC dc_;
  HGDIOBJ previous_;
};

GdiObject MakeFont(int height, int weight) {
  return GdiObject(CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE,
                               DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                               CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                               DEFAULT_PITCH | FF_SWISS, L"Segoe UI"));
}

void DrawLine(HDC dc, const std::wstring& text, HGDIOBJ font, COLORREF color,
              RECT area, UINT alignment) {
  SelectScope select(dc, font);
  SetTextColor(dc, color);
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &area,
            DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | alignment);
}

std::wstring StatusLine(const FlutterDesktopEngine& engine) {
  return L"stand-in engine \x2022 channels registered: " +
         std::to_wstring(engine.channel_count()) +
         L" \x2022 messages handled: " +
         std::to_wstring(engine.messages_handled()) + L" \x2022 Dart side " +
         (engine.connected() ? L"connected" : L"not connected");
}

}  // namespace

std::unique_ptr<FlutterDesktopViewController>
FlutterDesktopViewController::Create(
    int width, int height, std::unique_ptr<FlutterDesktopEngine> engine) {
  std::unique_ptr<FlutterDesktopViewController> controller(
      new FlutterDesktopViewController());
  controller->engine_ = std::move(engine);
  controller->engine_->set_owned_by_controller();
  RegisterClasses(&FlutterDesktopViewController::ViewProc);
  const HINSTANCE instance = standin::ModuleInstance();
  controller->parking_ = CreateWindowExW(
      WS_EX_TOOLWINDOW, kParkingClass, L"", WS_POPUP, 0, 0, std::max(width, 1),
      std::max(height, 1), nullptr, nullptr, instance, nullptr);
  if (controller->parking_ == nullptr) return nullptr;
  controller->view_.window = CreateWindowExW(
      0, kViewClass, L"Orvalin AI", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0,
      0, std::max(width, 0), std::max(height, 0), controller->parking_, nullptr,
      instance, controller.get());
  if (controller->view_.window == nullptr) return nullptr;
  controller->engine_->set_status_listener(
      [raw = controller.get()] { raw->ScheduleFrame(); });
  controller->engine_->EmitEvent("view_created", standin::JsonObject()
                                                     .Number("width", width)
                                                     .Number("height", height)
                                                     .Text());
  // The Dart side's first frame.
  controller->ScheduleFrame();
  return controller;
}

FlutterDesktopViewController::~FlutterDesktopViewController() {
  if (engine_) engine_->set_status_listener(nullptr);
  if (view_.window != nullptr) DestroyWindow(view_.window);
  if (parking_ != nullptr) DestroyWindow(parking_);
  engine_.reset();
}

void FlutterDesktopViewController::ScheduleFrame() {
  if (frame_scheduled_ || view_.window == nullptr) return;
  frame_scheduled_ = PostMessageW(view_.window, kScheduledFrame, 0, 0) != 0;
}

void FlutterDesktopViewController::RunScheduledFrame(HWND window) {
  frame_scheduled_ = false;
  // Draws now when the view is visible; a hidden view still completes the
  // frame, as the real engine renders whether or not it is shown.
  RedrawWindow(window, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
  engine_->OnFramePresented();
}

LRESULT CALLBACK FlutterDesktopViewController::ViewProc(HWND window,
                                                        UINT message,
                                                        WPARAM wparam,
                                                        LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* controller = reinterpret_cast<FlutterDesktopViewController*>(
      GetWindowLongPtrW(window, GWLP_USERDATA));
  if (controller == nullptr) {
    return DefWindowProcW(window, message, wparam, lparam);
  }
  switch (message) {
    case WM_ERASEBKGND:
      return 1;  // WM_PAINT covers the whole surface.
    case WM_PAINT:
      controller->Paint(window);
      PostMessageW(window, kFramePresented, 0, 0);
      return 0;
    case WM_SIZE:
      InvalidateRect(window, nullptr, FALSE);
      return 0;
    case kScheduledFrame:
      controller->RunScheduledFrame(window);
      return 0;
    case kFramePresented:
      controller->engine_->OnFramePresented();
      return 0;
    case WM_NCDESTROY:
      // The host may destroy the view with its own window.
      SetWindowLongPtrW(window, GWLP_USERDATA, 0);
      controller->view_.window = nullptr;
      break;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

void FlutterDesktopViewController::Paint(HWND window) {
  PaintScope paint(window);
  RECT client;
  GetClientRect(window, &client);
  GdiObject background(CreateSolidBrush(kBackground));
  FillRect(paint.dc(), &client, static_cast<HBRUSH>(background.get()));
  const UINT dpi = FlutterDesktopGetDpiForMonitor(
      MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST));
  const int scale = static_cast<int>(dpi == 0 ? 96 : dpi);
  GdiObject title_font(MakeFont(44 * scale / 96, FW_SEMIBOLD));
  GdiObject status_font(MakeFont(15 * scale / 96, FW_NORMAL));
  SetBkMode(paint.dc(), TRANSPARENT);
  const LONG middle = (client.top + client.bottom) / 2;
  const LONG gap = 12 * scale / 96;
  RECT title_area = client;
  title_area.bottom = middle - gap;
  RECT status_area = client;
  status_area.top = middle + gap;
  DrawLine(paint.dc(), L"Orvalin AI", title_font.get(), kTitleColor, title_area,
           DT_BOTTOM);
  DrawLine(paint.dc(), StatusLine(*engine_), status_font.get(), kStatusColor,
           status_area, DT_TOP);
}
