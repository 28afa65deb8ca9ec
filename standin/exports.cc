// The embedding's C interface over the stand-in engine and view.
#include <shellscalingapi.h>

#include <cstdio>
#include <cstdlib>
#include <memory>

#include "embedding/flutter_windows.h"
#include "standin/crash.h"
#include "standin/engine.h"
#include "standin/standin_report.h"
#include "standin/view.h"

namespace {

// The DPI a test asked for, or 0.
UINT DpiOverride() {
  std::string text;
  if (!standin::ReadEnvironment(L"ORVALIN_STANDIN_DPI", &text)) return 0;
  const long value = std::strtol(text.c_str(), nullptr, 10);
  return value > 0 ? static_cast<UINT>(value) : 0;
}

// shcore's GetDpiForMonitor, looked up at run time so the library loads on
// systems without it.
UINT ShcoreDpi(HMONITOR monitor) {
  using GetDpiForMonitorFunction =
      HRESULT(WINAPI*)(HMONITOR, MONITOR_DPI_TYPE, UINT*, UINT*);
  HMODULE shcore = LoadLibraryW(L"shcore.dll");
  if (shcore == nullptr) return 0;
  std::unique_ptr<std::remove_pointer_t<HMODULE>, decltype(&FreeLibrary)>
      library(shcore, &FreeLibrary);
  auto function = reinterpret_cast<GetDpiForMonitorFunction>(
      reinterpret_cast<void*>(GetProcAddress(shcore, "GetDpiForMonitor")));
  UINT x = 0;
  UINT y = 0;
  if (function == nullptr || monitor == nullptr ||
      FAILED(function(monitor, MDT_EFFECTIVE_DPI, &x, &y))) {
    return 0;
  }
  return x;
}

UINT ScreenDpi() {
  HDC screen = GetDC(nullptr);
  if (screen == nullptr) return 96;
  const int dpi = GetDeviceCaps(screen, LOGPIXELSX);
  ReleaseDC(nullptr, screen);
  return dpi > 0 ? static_cast<UINT>(dpi) : 96;
}

FlutterDesktopEngine* EngineOf(FlutterDesktopMessengerRef messenger) {
  return messenger == nullptr ? nullptr : messenger->engine;
}

}  // namespace

extern "C" {

FlutterDesktopEngineRef FlutterDesktopEngineCreate(
    const FlutterDesktopEngineProperties* properties) {
  if (properties == nullptr) return nullptr;
  return FlutterDesktopEngine::Create(*properties).release();
}

bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine) {
  if (engine == nullptr) return false;
  if (engine->owned_by_controller()) {
    standin::Diagnostic("engine belongs to a view controller; not destroyed");
    return false;
  }
  delete engine;
  return true;
}

FlutterDesktopMessengerRef FlutterDesktopEngineGetMessenger(
    FlutterDesktopEngineRef engine) {
  return engine == nullptr ? nullptr : engine->messenger();
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngineGetPluginRegistrar(
    FlutterDesktopEngineRef engine, const char* plugin_name) {
  return engine == nullptr ? nullptr : engine->Registrar(plugin_name);
}

void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data) {
  if (engine != nullptr) engine->SetNextFrameCallback(callback, user_data);
}

void FlutterDesktopEngineReloadSystemFonts(FlutterDesktopEngineRef engine) {
  if (engine != nullptr) engine->ReloadSystemFonts();
}

FlutterDesktopViewControllerRef FlutterDesktopViewControllerCreate(
    int width, int height, FlutterDesktopEngineRef engine) {
  standin::CrashIfAsked();
  if (engine == nullptr || engine->owned_by_controller()) return nullptr;
  return FlutterDesktopViewController::Create(
             width, height, std::unique_ptr<FlutterDesktopEngine>(engine))
      .release();
}

void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller) {
  delete controller;
}

FlutterDesktopViewRef FlutterDesktopViewControllerGetView(
    FlutterDesktopViewControllerRef controller) {
  return controller == nullptr ? nullptr : controller->view();
}

void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller) {
  if (controller != nullptr) controller->ScheduleFrame();
}

bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND /*hwnd*/, UINT message,
    WPARAM /*wparam*/, LPARAM /*lparam*/, LRESULT* result) {
  if (controller == nullptr) return false;
  return controller->engine()->OfferWindowMessage(message, result);
}

HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view) {
  return view == nullptr ? nullptr : view->window;
}

UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor) {
  if (const UINT forced = DpiOverride(); forced != 0) return forced;
  if (const UINT dpi = ShcoreDpi(monitor); dpi != 0) return dpi;
  return ScreenDpi();
}

void FlutterDesktopResyncOutputStreams(void) {
  // The stand-in writes through the C runtime's shared stdio streams, which
  // follow the host's reopened streams by themselves; flushing is enough.
  std::fflush(stdout);
  std::fflush(stderr);
}

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef messenger,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  FlutterDesktopEngine* engine = EngineOf(messenger);
  return engine != nullptr &&
         engine->Send(channel, message, message_size, nullptr, nullptr);
}

bool FlutterDesktopMessengerSendWithReply(FlutterDesktopMessengerRef messenger,
                                          const char* channel,
                                          const uint8_t* message,
                                          size_t message_size,
                                          FlutterDesktopBinaryReply reply,
                                          void* user_data) {
  FlutterDesktopEngine* engine = EngineOf(messenger);
  return engine != nullptr &&
         engine->Send(channel, message, message_size, reply, user_data);
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef messenger,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  FlutterDesktopEngine* engine = EngineOf(messenger);
  if (engine != nullptr) engine->Respond(handle, data, data_length);
}

void FlutterDesktopMessengerSetCallback(FlutterDesktopMessengerRef messenger,
                                        const char* channel,
                                        FlutterDesktopMessageCallback callback,
                                        void* user_data) {
  FlutterDesktopEngine* engine = EngineOf(messenger);
  if (engine != nullptr) engine->SetCallback(channel, callback, user_data);
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) ++messenger->references;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr && --messenger->references == 0) delete messenger;
}

bool FlutterDesktopMessengerIsAvailable(FlutterDesktopMessengerRef messenger) {
  return EngineOf(messenger) != nullptr;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) messenger->lock.lock();
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef messenger) {
  if (messenger != nullptr) messenger->lock.unlock();
}

void OrvalinStandinReportPluginRegistered(
    FlutterDesktopPluginRegistrarRef registrar, const char* plugin_name) {
  if (registrar == nullptr || registrar->engine == nullptr) {
    standin::Diagnostic("plugin registered without a registrar");
    return;
  }
  registrar->engine->ReportPluginRegistered(*registrar, plugin_name);
}

}  // extern "C"
