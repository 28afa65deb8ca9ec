// Stand-in for url_launcher_windows_plugin.dll: registration is reported to
// the Dart side and nothing more.
#include "embedding/flutter_plugin_registrar.h"
#include "standin/standin_report.h"

extern "C" void UrlLauncherWindowsRegisterWithRegistrar(
    FlutterDesktopPluginRegistrarRef registrar) {
  OrvalinStandinReportPluginRegistered(registrar, "UrlLauncherWindows");
}
