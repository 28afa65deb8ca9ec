// A recording fake of the embedding's engine, view controller and view
// functions, for tests of the engine wrappers. Linking fake_embedding.cc
// provides those C functions; the messenger functions come from
// client/testing's FakeMessenger, which must exist while an engine does.
#ifndef RUNNER_TESTS_FAKE_EMBEDDING_H_
#define RUNNER_TESTS_FAKE_EMBEDDING_H_

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"

namespace flutter::testing {

// A copy of what one FlutterDesktopEngineCreate call was given.
struct RecordedProperties {
  const wchar_t* assets_path_pointer = nullptr;
  std::wstring assets_path;
  std::wstring icu_data_path;
  std::wstring aot_library_path;
  bool entrypoint_is_null = true;
  std::string entrypoint;
  int32_t argc = -1;
  int32_t padding = -1;
  bool argv_is_null = false;
  std::vector<std::string> argv;
  int32_t options[3] = {-1, -1, -1};
  int32_t reserved = -1;
};

struct ViewControllerRequest {
  int width;
  int height;
  FlutterDesktopEngineRef engine;
};

struct WindowProcCall {
  FlutterDesktopViewControllerRef controller;
  HWND window;
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

// Only one fake exists at a time; it is what the C functions act on.
class FakeEmbedding {
 public:
  // Handles the fake hands out; never dereferenced.
  static FlutterDesktopEngineRef EngineHandle();
  static FlutterDesktopViewControllerRef ControllerHandle();
  static FlutterDesktopViewRef ViewHandle();
  static HWND ViewWindow();
  static FlutterDesktopPluginRegistrarRef RegistrarHandle();

  FakeEmbedding();
  ~FakeEmbedding();
  FakeEmbedding(const FakeEmbedding&) = delete;
  FakeEmbedding& operator=(const FakeEmbedding&) = delete;
  static FakeEmbedding* Current();

  // Presents a frame: calls the registered next-frame callback, which stays
  // registered, so running it at most once is up to the caller.
  void PresentFrame();

  // What the next calls answer.
  FlutterDesktopEngineRef engine_to_create = EngineHandle();
  FlutterDesktopViewControllerRef controller_to_create = ControllerHandle();
  bool claim_window_messages = false;
  LRESULT window_message_result = 0;

  // What the wrappers called.
  std::vector<RecordedProperties> created_engines;
  std::vector<FlutterDesktopEngineRef> destroyed_engines;
  std::vector<std::string> registrar_requests;
  std::vector<ViewControllerRequest> controller_requests;
  std::vector<FlutterDesktopViewControllerRef> destroyed_controllers;
  std::vector<WindowProcCall> window_proc_calls;
  int font_reloads = 0;
  int redraws = 0;
  FlutterDesktopOnNextFrameCallback next_frame_callback = nullptr;
  void* next_frame_user_data = nullptr;
};

}  // namespace flutter::testing

#endif  // RUNNER_TESTS_FAKE_EMBEDDING_H_
