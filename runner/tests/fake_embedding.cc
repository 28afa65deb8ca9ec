#include "runner/tests/fake_embedding.h"

#include <cassert>

#include "client/testing/fake_messenger.h"
#include "embedding/flutter_plugin_registrar.h"

namespace flutter::testing {
namespace {

FakeEmbedding* g_current = nullptr;

std::string Narrow(const wchar_t* text) {
  return std::string(text, text + wcslen(text));
}

// The whole record, field by field in layout order, "|" between them.
std::string Describe(const FlutterDesktopEngineProperties& p) {
  std::string text = Narrow(p.assets_path) + "|" + Narrow(p.icu_data_path) +
                     "|" + Narrow(p.aot_library_path) + "|" +
                     (p.dart_entrypoint ? p.dart_entrypoint : "(null)") + "|" +
                     std::to_string(p.dart_entrypoint_argc) + "|" +
                     std::to_string(p.padding) + "|";
  if (p.dart_entrypoint_argv == nullptr) text += "(null)";
  for (int32_t i = 0; p.dart_entrypoint_argv && i < p.dart_entrypoint_argc;
       ++i) {
    text += std::string("[") + p.dart_entrypoint_argv[i] + "]";
  }
  for (int32_t value : p.engine_options) text += "|" + std::to_string(value);
  return text + "|" + std::to_string(p.reserved);
}

// Logs a call; a null handle argument is marked, as the embedding would
// not survive it.
FakeEmbedding* Log(const std::string& name, const void* handle = &g_current) {
  g_current->events.push_back(handle == nullptr ? name + " null" : name);
  return g_current;
}

}  // namespace

FakeEmbedding::FakeEmbedding() {
  assert(g_current == nullptr);
  g_current = this;
}

FakeEmbedding::~FakeEmbedding() { g_current = nullptr; }

void FakeEmbedding::PresentFrame() {
  if (next_frame_callback != nullptr) next_frame_callback(next_frame_user_data);
}

}  // namespace flutter::testing

namespace fake = flutter::testing;
using fake::FakeEmbedding;
using fake::Log;

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  return Log("EngineCreate " + fake::Describe(*properties))->engine_to_create;
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  Log("EngineDestroy", engine);
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  Log("EngineGetMessenger", engine);
  return fake::FakeMessenger::Current()->ref();
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  Log(std::string("EngineGetPluginRegistrar ") + plugin_name, engine);
  return fake::kRegistrar;
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  FakeEmbedding* fake = Log("EngineSetNextFrameCallback", engine);
  fake->next_frame_callback = callback;
  fake->next_frame_user_data = user_data;
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  Log("EngineReloadSystemFonts", engine);
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  return Log("ViewControllerCreate " + std::to_string(width) + "x" +
                 std::to_string(height),
             engine)
      ->controller_to_create;
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  FakeEmbedding* fake = Log("ViewControllerDestroy", controller);
  if (fake->on_controller_destroy) fake->on_controller_destroy();
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  Log("ViewControllerGetView", controller);
  return reinterpret_cast<FlutterDesktopViewRef>(0xF1);
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  Log("ViewControllerForceRedraw", controller);
}

// Claimed messages give their own number as the result.
bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result) {
  FakeEmbedding* fake =
      Log("HandleTopLevelWindowProc " +
              std::to_string(reinterpret_cast<uintptr_t>(hwnd)) + " " +
              std::to_string(message) + " " + std::to_string(wparam) + " " +
              std::to_string(lparam),
          controller);
  *result = message;
  return fake->claim_window_messages;
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  Log("ViewGetHWND", view);
  return fake::kViewWindow;
}

// Window tests create windows without a fake in place.
UINT FlutterDesktopGetDpiForMonitor(HMONITOR /*monitor*/) {
  return fake::g_current == nullptr ? 96 : fake::g_current->dpi;
}

void FlutterDesktopResyncOutputStreams(void) {}

void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  Log("UrlLauncherWindowsRegisterWithRegistrar", registrar);
}

void VideoPlayerWinPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  Log("VideoPlayerWinPluginCApiRegisterWithRegistrar", registrar);
}

}  // extern "C"
