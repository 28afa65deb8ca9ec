// Stand-in for video_player_win_plugin.dll: registration is reported to the
// Dart side and nothing more.
#include "embedding/flutter_plugin_registrar.h"
#include "standin/standin_report.h"

extern "C" void VideoPlayerWinPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  OrvalinStandinReportPluginRegistered(registrar, "VideoPlayerWinPluginCApi");
}
