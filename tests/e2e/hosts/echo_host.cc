// A test host for end-to-end runs against the stand-in engine: a plain
// top-level window holding the engine's view, and one method channel,
// "orvalin.test/echo", through the real client layer and engine wrappers.
//   echo        answers Success(arguments)
//   invokeBack  calls "fromHost" on the Dart side with the same arguments,
//               then reports the Dart side's answer as "fromHostResult";
//               answers Success()
//   quit        answers Success(), then closes the window
// Exits 0 once the window is gone, 1 when the view could not be created.
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include "client/encodable_value.h"
#include "client/method_channel.h"
#include "client/method_result.h"
#include "client/standard_method_codec.h"
#include "runner/engine_project.h"
#include "runner/flutter_view_controller.h"

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodChannel;
using flutter::MethodResult;

constexpr wchar_t kWindowClass[] = L"OrvalinEchoHost";
constexpr wchar_t kWindowTitle[] = L"Orvalin echo host";
constexpr int kWidth = 800;
constexpr int kHeight = 600;
constexpr char kChannel[] = "orvalin.test/echo";

// Reports the Dart side's answer to "fromHost" back to it, as received.
class ForwardingResult : public MethodResult<EncodableValue> {
 public:
  explicit ForwardingResult(MethodChannel<EncodableValue>* channel)
      : channel_(channel) {}

 protected:
  void HandleSuccess(const EncodableValue* result) override {
    Forward(result == nullptr ? EncodableValue() : *result);
  }
  void HandleError(const std::string& code, const std::string& /*message*/,
                   const EncodableValue* /*details*/) override {
    Forward(EncodableValue(
        EncodableMap{{EncodableValue("error"), EncodableValue(code)}}));
  }
  void HandleNotImplemented() override { Forward(EncodableValue()); }

 private:
  void Forward(EncodableValue answer) {
    channel_->InvokeMethod("fromHostResult",
                           std::make_unique<EncodableValue>(std::move(answer)));
  }

  MethodChannel<EncodableValue>* channel_;
};

class EchoHost {
 public:
  bool Create(HINSTANCE instance);

 private:
  static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam);
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam);
  bool OnCreated(HWND window);
  void HandleCall(const MethodCall<EncodableValue>& call,
                  std::unique_ptr<MethodResult<EncodableValue>> result);

  HWND window_ = nullptr;
  // The channel outlives the controller: replies that arrive while the
  // engine shuts down may still invoke methods on it.
  std::unique_ptr<MethodChannel<EncodableValue>> channel_;
  std::unique_ptr<flutter::FlutterViewController> controller_;
};

bool EchoHost::Create(HINSTANCE instance) {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = &EchoHost::WindowProc;
  window_class.hInstance = instance;
  window_class.hCursor = LoadCursorW(nullptr, IDC_ARROW);
  window_class.lpszClassName = kWindowClass;
  RegisterClassW(&window_class);
  // Hidden until the engine reports its first frame.
  return CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW,
                         CW_USEDEFAULT, CW_USEDEFAULT, kWidth, kHeight, nullptr,
                         nullptr, instance, this) != nullptr;
}

LRESULT CALLBACK EchoHost::WindowProc(HWND window, UINT message, WPARAM wparam,
                                      LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* create = reinterpret_cast<CREATESTRUCTW*>(lparam);
    SetWindowLongPtrW(window, GWLP_USERDATA,
                      reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* host =
      reinterpret_cast<EchoHost*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (host == nullptr) return DefWindowProcW(window, message, wparam, lparam);
  return host->HandleMessage(window, message, wparam, lparam);
}

LRESULT EchoHost::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                LPARAM lparam) {
  if (controller_) {
    std::optional<LRESULT> result =
        controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) return *result;
  }
  switch (message) {
    case WM_CREATE:
      return OnCreated(window) ? 0 : -1;
    case WM_DESTROY:
      controller_.reset();
      PostQuitMessage(0);
      return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

bool EchoHost::OnCreated(HWND window) {
  window_ = window;
  RECT client;
  GetClientRect(window, &client);
  controller_ = std::make_unique<flutter::FlutterViewController>(
      client.right - client.left, client.bottom - client.top,
      flutter::EngineProject(L"data"));
  if (!controller_->view()) {
    controller_.reset();
    return false;
  }
  channel_ = std::make_unique<MethodChannel<EncodableValue>>(
      controller_->engine()->GetMessenger(), kChannel,
      &flutter::StandardMethodCodec::Instance());
  channel_->SetCallHandler(
      [this](const MethodCall<EncodableValue>& call,
             std::unique_ptr<MethodResult<EncodableValue>> result) {
        HandleCall(call, std::move(result));
      });
  SetParent(controller_->view()->GetHWND(), window);
  MoveWindow(controller_->view()->GetHWND(), 0, 0, client.right - client.left,
             client.bottom - client.top, TRUE);
  controller_->engine()->SetNextFrameCallback(
      [window] { ShowWindow(window, SW_SHOWNORMAL); });
  controller_->ForceRedraw();
  return true;
}

void EchoHost::HandleCall(
    const MethodCall<EncodableValue>& call,
    std::unique_ptr<MethodResult<EncodableValue>> result) {
  const std::string& method = call.MethodName();
  const EncodableValue arguments =
      call.Arguments() == nullptr ? EncodableValue() : *call.Arguments();
  if (method == "echo") {
    result->Success(arguments);
  } else if (method == "invokeBack") {
    channel_->InvokeMethod("fromHost",
                           std::make_unique<EncodableValue>(arguments),
                           std::make_unique<ForwardingResult>(channel_.get()));
    result->Success();
  } else if (method == "quit") {
    result->Success();
    // Posted, so the window closes after this call has returned.
    PostMessageW(window_, WM_CLOSE, 0, 0);
  } else {
    result->NotImplemented();
  }
}

}  // namespace

int wmain() {
  EchoHost host;
  if (!host.Create(GetModuleHandleW(nullptr))) return 1;
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  return 0;
}
