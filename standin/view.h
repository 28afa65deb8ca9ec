// The stand-in view: a child window that draws the product name and a live
// status line, and that produces the frames the next-frame callback waits
// for.
#ifndef STANDIN_VIEW_H_
#define STANDIN_VIEW_H_

#include <windows.h>

#include <memory>

#include "embedding/flutter_windows.h"
#include "standin/engine.h"

struct FlutterDesktopView {
  HWND window = nullptr;
};

struct FlutterDesktopViewController {
 public:
  // Takes the engine whatever the outcome; null when the window could not
  // be created.
  static std::unique_ptr<FlutterDesktopViewController> Create(
      int width, int height, std::unique_ptr<FlutterDesktopEngine> engine);
  // Destroys the view window, then shuts the engine down.
  ~FlutterDesktopViewController();

  FlutterDesktopViewController(const FlutterDesktopViewController&) = delete;
  FlutterDesktopViewController& operator=(const FlutterDesktopViewController&) =
      delete;

  FlutterDesktopEngine* engine() { return engine_.get(); }
  FlutterDesktopView* view() { return &view_; }
  // Redraws soon, then reports the frame to the engine.
  void ScheduleFrame();

 private:
  FlutterDesktopViewController() = default;
  static LRESULT CALLBACK ViewProc(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam);
  void Paint(HWND window);
  void RunScheduledFrame(HWND window);

  std::unique_ptr<FlutterDesktopEngine> engine_;
  FlutterDesktopView view_;
  // Hidden top-level window that holds the view until the host adopts it.
  HWND parking_ = nullptr;
  bool frame_scheduled_ = false;
};

#endif  // STANDIN_VIEW_H_
