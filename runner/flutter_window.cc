#include "runner/flutter_window.h"

#include <optional>
#include <string>

#include "embedding/flutter_plugin_registrar.h"
#include "runner/return_url.h"
#include "services/auth_callback_relay.h"
#include "services/service_channels.h"

FlutterWindow::FlutterWindow(const flutter::EngineProject& project)
    : project_(project) {}

FlutterWindow::~FlutterWindow() { OnWindowDestroyed(); }

bool FlutterWindow::OnWindowCreated() {
  if (!Win32Window::OnWindowCreated()) {
    return false;
  }
  const RECT frame = ClientRect();
  view_controller_ = std::make_unique<flutter::FlutterViewController>(
      frame.right - frame.left, frame.bottom - frame.top, project_);
  flutter::FlutterEngine* engine = view_controller_->engine();
  if (engine == nullptr || view_controller_->view() == nullptr) {
    return false;
  }
  RegisterPluginLibraries(engine);
  orvalin::RegisterServiceChannels(engine->GetMessenger(), Handle());
  AttachContent(view_controller_->view()->GetHWND());
  // Hidden until the engine has drawn something to show.
  engine->SetNextFrameCallback([this]() { Show(); });
  view_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnWindowDestroyed() {
  if (!view_controller_) {
    return;
  }
  // The auth-callback channel dies with the engine; a URL forwarded later
  // must only queue.
  orvalin::AuthCallbackRelay::Instance().DetachChannel();
  std::unique_ptr<flutter::FlutterViewController> controller =
      std::move(view_controller_);
  controller.reset();
}

LRESULT FlutterWindow::HandleMessage(HWND window, UINT message, WPARAM wparam,
                                     LPARAM lparam) noexcept {
  if (view_controller_) {
    std::optional<LRESULT> result = view_controller_->HandleTopLevelWindowProc(
        window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }
  switch (message) {
    case WM_FONTCHANGE:
      if (view_controller_) {
        view_controller_->engine()->ReloadSystemFonts();
      }
      break;
    case WM_COPYDATA:
      RelayForwardedUrl(reinterpret_cast<const COPYDATASTRUCT*>(lparam));
      return TRUE;
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

void RegisterPluginLibraries(flutter::PluginRegistry* registry) {
  UrlLauncherWindowsRegisterWithRegistrar(
      registry->GetPluginRegistrar(kUrlLauncherRegistrarName));
  VideoPlayerWinPluginCApiRegisterWithRegistrar(
      registry->GetPluginRegistrar(kVideoPlayerRegistrarName));
}

void RelayForwardedUrl(const COPYDATASTRUCT* record) {
  std::optional<std::wstring> url = ReadForwardedReturnUrl(record);
  if (url) {
    orvalin::AuthCallbackRelay::Instance().Deliver(*url);
  }
}
