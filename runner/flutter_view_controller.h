// The view controller and view: the engine's output in a child window.
#ifndef RUNNER_FLUTTER_VIEW_CONTROLLER_H_
#define RUNNER_FLUTTER_VIEW_CONTROLLER_H_

#include <memory>
#include <optional>

#include "embedding/flutter_windows.h"
#include "runner/engine_project.h"
#include "runner/flutter_engine.h"
#include "win/windows.h"

namespace flutter {

class FlutterView {
 public:
  explicit FlutterView(FlutterDesktopViewRef view) : view_(view) {}
  virtual ~FlutterView() = default;
  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  HWND GetHWND() const;

 private:
  FlutterDesktopViewRef view_;
};

class FlutterViewController {
 public:
  // |width| and |height| are physical pixels.
  FlutterViewController(int width, int height, const EngineProject& project);
  virtual ~FlutterViewController();
  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }
  // Null when the controller could not be created.
  FlutterView* view() const { return view_.get(); }

  void ForceRedraw();
  std::optional<LRESULT> HandleTopLevelWindowProc(HWND window, UINT message,
                                                  WPARAM wparam, LPARAM lparam);

 private:
  FlutterDesktopViewControllerRef controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter

#endif  // RUNNER_FLUTTER_VIEW_CONTROLLER_H_
