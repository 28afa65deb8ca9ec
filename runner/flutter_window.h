// The application's window: hosts the engine's view, registers the plugins
// and service channels, and relays return URLs forwarded by later instances.
#ifndef RUNNER_FLUTTER_WINDOW_H_
#define RUNNER_FLUTTER_WINDOW_H_

#include <memory>

#include "runner/engine_project.h"
#include "runner/flutter_engine.h"
#include "runner/flutter_view_controller.h"
#include "runner/single_instance.h"
#include "runner/win32_window.h"
#include "win/windows.h"

// Plugin registrar names, in registration order.
inline constexpr char kUrlLauncherRegistrarName[] = "UrlLauncherWindows";
inline constexpr char kVideoPlayerRegistrarName[] = "VideoPlayerWinPluginCApi";

// A window whose first frame has not come this long after its creation is
// shown anyway, so the user sees the app (and can close it) when the Dart
// side never draws.
inline constexpr UINT kFirstFrameShowFallbackMs = 10000;

class FlutterWindow : public Win32Window {
 public:
  explicit FlutterWindow(
      const flutter::EngineProject& project,
      MessageFilter message_filter = &ChangeWindowMessageFilterEx,
      UINT first_frame_fallback_ms = kFirstFrameShowFallbackMs);
  ~FlutterWindow() override;

 protected:
  LRESULT HandleMessage(HWND window, UINT message, WPARAM wparam,
                        LPARAM lparam) noexcept override;
  bool OnWindowCreated() override;
  void OnWindowDestroyed() override;

 private:
  // Relays a forwarded return URL; FALSE only for one that can no longer
  // reach a Dart side, TRUE for every other record.
  LRESULT HandleForwardedUrl(const COPYDATASTRUCT* record);
  // Shows the window, from its first frame or from the fallback timer.
  void ShowOnce();

  flutter::EngineProject project_;
  MessageFilter message_filter_;
  UINT first_frame_fallback_ms_;
  std::unique_ptr<flutter::FlutterViewController> view_controller_;
  // True from the end of a successful creation until the window is being
  // destroyed: only then does a forwarded URL reach a Dart side.
  bool delivers_urls_ = false;
  // The window that carries kTakesReturnUrlsProperty: the handle itself is
  // cleared before the teardown's last messages.
  HWND marked_window_ = nullptr;
};

// Registers the two plugin libraries with |registry|, in their fixed order.
void RegisterPluginLibraries(flutter::PluginRegistry* registry);

#endif  // RUNNER_FLUTTER_WINDOW_H_
