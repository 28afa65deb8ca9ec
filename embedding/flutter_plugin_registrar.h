// Plugin registrars and the registration exports of the two plugin
// libraries the application uses.
#ifndef EMBEDDING_FLUTTER_PLUGIN_REGISTRAR_H_
#define EMBEDDING_FLUTTER_PLUGIN_REGISTRAR_H_

#include "embedding/flutter_export.h"

#if defined(__cplusplus)
extern "C" {
#endif

typedef struct FlutterDesktopPluginRegistrar* FlutterDesktopPluginRegistrarRef;

// Exported by url_launcher_windows_plugin.dll; registrar "UrlLauncherWindows".
FLUTTER_EXPORT void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

// Exported by video_player_win_plugin.dll; registrar
// "VideoPlayerWinPluginCApi".
FLUTTER_EXPORT void VideoPlayerWinPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // EMBEDDING_FLUTTER_PLUGIN_REGISTRAR_H_
