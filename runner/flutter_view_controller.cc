#include "runner/flutter_view_controller.h"

#include <iostream>

namespace flutter {

HWND FlutterView::GetHWND() const { return FlutterDesktopViewGetHWND(view_); }

FlutterViewController::FlutterViewController(int width, int height,
                                             const EngineProject& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  // The controller takes the engine whatever the outcome; a missing engine
  // is never handed to the embedding.
  FlutterDesktopEngineRef engine = engine_->ReleaseHandle();
  if (engine != nullptr) {
    controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  }
  if (controller_ == nullptr) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(
      FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerDestroy(controller_);
  }
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() {
  FlutterDesktopViewControllerForceRedraw(controller_);
}

std::optional<LRESULT> FlutterViewController::HandleTopLevelWindowProc(
    HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  LRESULT result = 0;
  if (FlutterDesktopViewControllerHandleTopLevelWindowProc(
          controller_, window, message, wparam, lparam, &result)) {
    return result;
  }
  return std::nullopt;
}

}  // namespace flutter
