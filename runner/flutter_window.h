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

class FlutterWindow : public Win32Window {
 public:
  explicit FlutterWindow(
      const flutter::EngineProject& project,
      MessageFilter message_filter = &ChangeWindowMessageFilterEx);
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

  flutter::EngineProject project_;
  MessageFilter message_filter_;
  std::unique_ptr<flutter::FlutterViewController> view_controller_;
  // True from the end of a successful creation until the window is being
  // destroyed: only then does a forwarded URL reach a Dart side.
  bool delivers_urls_ = false;
};

// Registers the two plugin libraries with |registry|, in their fixed order.
void RegisterPluginLibraries(flutter::PluginRegistry* registry);

#endif  // RUNNER_FLUTTER_WINDOW_H_
