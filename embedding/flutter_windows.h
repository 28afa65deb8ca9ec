// The engine, view controller and view of the Windows embedding
// (flutter_windows.dll), as this host uses them. All calls come from the
// platform thread.
#ifndef EMBEDDING_FLUTTER_WINDOWS_H_
#define EMBEDDING_FLUTTER_WINDOWS_H_

#include <stddef.h>
#include <stdint.h>
// The window and message types only: <windows.h> itself would bring back
// the SendMessage macro wherever this header follows the messenger's.
#include <windef.h>

#include "embedding/flutter_export.h"
#include "embedding/flutter_messenger.h"
#include "embedding/flutter_plugin_registrar.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct FlutterDesktopEngine* FlutterDesktopEngineRef;
typedef struct FlutterDesktopViewController* FlutterDesktopViewControllerRef;
typedef struct FlutterDesktopView* FlutterDesktopViewRef;

// What the engine runs. The strings and the argument array are borrowed for
// the duration of FlutterDesktopEngineCreate only.
typedef struct {
  const wchar_t* assets_path;
  const wchar_t* icu_data_path;
  const wchar_t* aot_library_path;
  const char* dart_entrypoint;  // empty text: the default entrypoint
  int32_t dart_entrypoint_argc;
  int32_t padding;
  const char** dart_entrypoint_argv;  // null when argc is 0
  int32_t engine_options[3];
  int32_t reserved;
} FlutterDesktopEngineProperties;

#if defined(__cplusplus) && defined(_WIN64)
static_assert(sizeof(FlutterDesktopEngineProperties) == 64,
              "engine properties record must be 64 bytes");
static_assert(offsetof(FlutterDesktopEngineProperties, icu_data_path) == 8);
static_assert(offsetof(FlutterDesktopEngineProperties, aot_library_path) == 16);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint) == 24);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argc) ==
              32);
static_assert(offsetof(FlutterDesktopEngineProperties, padding) == 36);
static_assert(offsetof(FlutterDesktopEngineProperties, dart_entrypoint_argv) ==
              40);
static_assert(offsetof(FlutterDesktopEngineProperties, engine_options) == 48);
static_assert(offsetof(FlutterDesktopEngineProperties, reserved) == 60);
#endif

typedef void (*FlutterDesktopOnNextFrameCallback)(void* user_data);

FLUTTER_EXPORT FlutterDesktopEngineRef
FlutterDesktopEngineCreate(const FlutterDesktopEngineProperties* properties);
FLUTTER_EXPORT bool FlutterDesktopEngineDestroy(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopMessengerRef
FlutterDesktopEngineGetMessenger(FlutterDesktopEngineRef engine);
FLUTTER_EXPORT FlutterDesktopPluginRegistrarRef
FlutterDesktopEngineGetPluginRegistrar(FlutterDesktopEngineRef engine,
                                       const char* plugin_name);
FLUTTER_EXPORT void FlutterDesktopEngineSetNextFrameCallback(
    FlutterDesktopEngineRef engine, FlutterDesktopOnNextFrameCallback callback,
    void* user_data);
FLUTTER_EXPORT void FlutterDesktopEngineReloadSystemFonts(
    FlutterDesktopEngineRef engine);

// The controller takes ownership of the engine; null on failure.
FLUTTER_EXPORT FlutterDesktopViewControllerRef
FlutterDesktopViewControllerCreate(int width, int height,
                                   FlutterDesktopEngineRef engine);
FLUTTER_EXPORT void FlutterDesktopViewControllerDestroy(
    FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT FlutterDesktopViewRef
FlutterDesktopViewControllerGetView(FlutterDesktopViewControllerRef controller);
FLUTTER_EXPORT void FlutterDesktopViewControllerForceRedraw(
    FlutterDesktopViewControllerRef controller);
// True when the engine handled the message; |result| then holds the answer.
FLUTTER_EXPORT bool FlutterDesktopViewControllerHandleTopLevelWindowProc(
    FlutterDesktopViewControllerRef controller, HWND hwnd, UINT message,
    WPARAM wparam, LPARAM lparam, LRESULT* result);

FLUTTER_EXPORT HWND FlutterDesktopViewGetHWND(FlutterDesktopViewRef view);

FLUTTER_EXPORT UINT FlutterDesktopGetDpiForMonitor(HMONITOR monitor);
FLUTTER_EXPORT void FlutterDesktopResyncOutputStreams(void);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // EMBEDDING_FLUTTER_WINDOWS_H_
