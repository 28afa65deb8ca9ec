// A recording fake of the embedding's engine, view controller, view and
// plugin functions, for tests of the engine wrappers and the host window.
// Linking fake_embedding.cc provides those C functions; the messenger
// functions come from client/testing's FakeMessenger, which must exist while
// an engine does.
#ifndef RUNNER_TESTS_FAKE_EMBEDDING_H_
#define RUNNER_TESTS_FAKE_EMBEDDING_H_

#include <functional>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"
#include "win/windows.h"

namespace flutter::testing {

// Handles the fake hands out; never dereferenced.
inline const auto kEngine = reinterpret_cast<FlutterDesktopEngineRef>(0xE1);
inline const auto kController =
    reinterpret_cast<FlutterDesktopViewControllerRef>(0xC1);
inline const auto kViewWindow = reinterpret_cast<HWND>(0x1F1);
inline const auto kRegistrar =
    reinterpret_cast<FlutterDesktopPluginRegistrarRef>(0xA1);

// Only one fake exists at a time; it is what the C functions act on.
class FakeEmbedding {
 public:
  FakeEmbedding();
  ~FakeEmbedding();
  FakeEmbedding(const FakeEmbedding&) = delete;
  FakeEmbedding& operator=(const FakeEmbedding&) = delete;

  // Presents a frame: calls the registered next-frame callback, which stays
  // registered, so running it at most once is up to the caller.
  void PresentFrame();

  // What the next calls answer.
  FlutterDesktopEngineRef engine_to_create = kEngine;
  FlutterDesktopViewControllerRef controller_to_create = kController;
  bool claim_window_messages = false;
  UINT dpi = 96;
  // Runs inside FlutterDesktopViewControllerDestroy.
  std::function<void()> on_controller_destroy;

  // Every call in order: the function's name without "FlutterDesktop", its
  // arguments of note, and " null" when a handle argument was null.
  std::vector<std::string> events;
  FlutterDesktopOnNextFrameCallback next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
};

}  // namespace flutter::testing

#endif  // RUNNER_TESTS_FAKE_EMBEDDING_H_
