#include "runner/tests/fake_embedding.h"

#include <cassert>
#include <cstdio>
#include <cstdlib>

#include "client/testing/fake_messenger.h"

namespace flutter::testing {
namespace {

FakeEmbedding* g_current = nullptr;

template <typename T>
T FakeHandle(uintptr_t value) {
  return reinterpret_cast<T>(value);
}

RecordedProperties Record(const FlutterDesktopEngineProperties& properties) {
  RecordedProperties record;
  record.assets_path_pointer = properties.assets_path;
  record.assets_path = properties.assets_path ? properties.assets_path : L"";
  record.icu_data_path =
      properties.icu_data_path ? properties.icu_data_path : L"";
  record.aot_library_path =
      properties.aot_library_path ? properties.aot_library_path : L"";
  record.entrypoint_is_null = properties.dart_entrypoint == nullptr;
  if (!record.entrypoint_is_null)
    record.entrypoint = properties.dart_entrypoint;
  record.argc = properties.dart_entrypoint_argc;
  record.padding = properties.padding;
  record.argv_is_null = properties.dart_entrypoint_argv == nullptr;
  for (int32_t i = 0; !record.argv_is_null && i < record.argc; ++i) {
    record.argv.push_back(properties.dart_entrypoint_argv[i]);
  }
  for (int i = 0; i < 3; ++i) record.options[i] = properties.engine_options[i];
  record.reserved = properties.reserved;
  return record;
}

}  // namespace

FlutterDesktopEngineRef FakeEmbedding::EngineHandle() {
  return FakeHandle<FlutterDesktopEngineRef>(0xE1);
}
FlutterDesktopViewControllerRef FakeEmbedding::ControllerHandle() {
  return FakeHandle<FlutterDesktopViewControllerRef>(0xC1);
}
FlutterDesktopViewRef FakeEmbedding::ViewHandle() {
  return FakeHandle<FlutterDesktopViewRef>(0xF1);
}
HWND FakeEmbedding::ViewWindow() { return FakeHandle<HWND>(0x1F1); }
FlutterDesktopPluginRegistrarRef FakeEmbedding::RegistrarHandle() {
  return FakeHandle<FlutterDesktopPluginRegistrarRef>(0xA1);
}

FakeEmbedding::FakeEmbedding() {
  assert(g_current == nullptr);
  g_current = this;
}

FakeEmbedding::~FakeEmbedding() { g_current = nullptr; }

FakeEmbedding* FakeEmbedding::Current() {
  if (g_current == nullptr) {
    std::fprintf(stderr, "FakeEmbedding used without an instance\n");
    std::abort();
  }
  return g_current;
}

void FakeEmbedding::PresentFrame() {
  if (next_frame_callback != nullptr) next_frame_callback(next_frame_user_data);
}

}  // namespace flutter::testing

using flutter::testing::FakeEmbedding;
using flutter::testing::FakeMessenger;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  FakeEmbedding* fake = FakeEmbedding::Current();
  fake->created_engines.push_back(flutter::testing::Record(*properties));
  return fake->engine_to_create;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  FakeEmbedding::Current()->destroyed_engines.push_back(engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  return engine == nullptr ? nullptr : FakeMessenger::Current()->ref();
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  FakeEmbedding* fake = FakeEmbedding::Current();
  fake->registrar_requests.push_back(plugin_name);
  return engine == fake->engine_to_create ? FakeEmbedding::RegistrarHandle()
                                          : nullptr;
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef /*engine*/,
    FlutterDesktopOnNextFrameCallback callback, void* user_data) {
  FakeEmbedding* fake = FakeEmbedding::Current();
  fake->next_frame_callback = callback;
  fake->next_frame_user_data = user_data;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef /*engine*/) {
  ++FakeEmbedding::Current()->font_reloads;
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  FakeEmbedding* fake = FakeEmbedding::Current();
  fake->controller_requests.push_back({width, height, engine});
  return fake->controller_to_create;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  FakeEmbedding::Current()->destroyed_controllers.push_back(controller);
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return controller == FakeEmbedding::ControllerHandle()
             ? FakeEmbedding::ViewHandle()
             : nullptr;
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef /*controller*/) {
  ++FakeEmbedding::Current()->redraws;
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result) {
  FakeEmbedding* fake = FakeEmbedding::Current();
  fake->window_proc_calls.push_back(
      {controller, hwnd, message, wparam, lparam});
  if (!fake->claim_window_messages) return false;
  *result = fake->window_message_result;
  return true;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view == FakeEmbedding::ViewHandle() ? FakeEmbedding::ViewWindow()
                                             : nullptr;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR /*monitor*/) { return 96; }

void FlutterDesktopResyncOutputStreams(void) {}

}  // extern "C"
