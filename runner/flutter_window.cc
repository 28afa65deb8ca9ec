#include "runner/flutter_window.h"

#include <optional>
#include <string>

#include "embedding/flutter_plugin_registrar.h"
#include "runner/app_constants.h"
#include "runner/return_url.h"
#include "services/auth_callback_relay.h"
#include "services/service_channels.h"

namespace {

constexpr UINT_PTR kFirstFrameFallbackTimer = 1;

}  // namespace

FlutterWindow::FlutterWindow(const flutter::EngineProject& project,
                             MessageFilter message_filter,
                             UINT first_frame_fallback_ms)
    : project_(project),
      message_filter_(message_filter),
      first_frame_fallback_ms_(first_frame_fallback_ms) {}

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
  // Hidden until the engine has drawn something to show, or until the
  // fallback gives up waiting for that.
  engine->SetNextFrameCallback([this]() { ShowOnce(); });
  SetTimer(Handle(), kFirstFrameFallbackTimer, first_frame_fallback_ms_,
           nullptr);
  view_controller_->ForceRedraw();
  AcceptHandOffFromLowerIntegrity(Handle(), message_filter_);
  delivers_urls_ = true;
  // From here on the thread pumps messages: a later instance hands its URL
  // to this window, shown or not.
  if (SetPropW(Handle(), kTakesReturnUrlsProperty,
               reinterpret_cast<HANDLE>(1))) {
    marked_window_ = Handle();
  }
  return true;
}

void FlutterWindow::ShowOnce() {
  if (Handle() == nullptr) {
    return;
  }
  KillTimer(Handle(), kFirstFrameFallbackTimer);
  Show();
}

void FlutterWindow::OnWindowDestroyed() {
  if (marked_window_ != nullptr) {
    RemovePropW(marked_window_, kTakesReturnUrlsProperty);
    marked_window_ = nullptr;
  }
  delivers_urls_ = false;
  if (!view_controller_) {
    return;
  }
  // The auth-callback channel dies with the engine; nothing may push to it
  // from now on.
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
      return HandleForwardedUrl(
          reinterpret_cast<const COPYDATASTRUCT*>(lparam));
    case WM_TIMER:
      if (wparam == kFirstFrameFallbackTimer) {
        ShowOnce();
        return 0;
      }
      break;
  }
  return Win32Window::HandleMessage(window, message, wparam, lparam);
}

void RegisterPluginLibraries(flutter::PluginRegistry* registry) {
  UrlLauncherWindowsRegisterWithRegistrar(
      registry->GetPluginRegistrar(kUrlLauncherRegistrarName));
  VideoPlayerWinPluginCApiRegisterWithRegistrar(
      registry->GetPluginRegistrar(kVideoPlayerRegistrarName));
}

LRESULT FlutterWindow::HandleForwardedUrl(const COPYDATASTRUCT* record) {
  // Malformed records and other URLs are dropped without a word.
  std::optional<std::wstring> url = ReadForwardedReturnUrl(record);
  if (!url) {
    return TRUE;
  }
  // Refused, so the sender waits and takes over once this instance ends,
  // instead of leaving its URL in a process that can no longer deliver it.
  if (!delivers_urls_) {
    return FALSE;
  }
  // A full pending list refuses it as well; the sender reports that.
  return orvalin::AuthCallbackRelay::Instance().Deliver(*url) ? TRUE : FALSE;
}
