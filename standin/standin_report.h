// Exports of the stand-in flutter_windows.dll beyond the embedding's
// interface, for the plugin stand-ins only.
#ifndef STANDIN_STANDIN_REPORT_H_
#define STANDIN_STANDIN_REPORT_H_

#include "embedding/flutter_export.h"
#include "embedding/flutter_plugin_registrar.h"

#if defined(__cplusplus)
extern "C" {
#endif

// Reports a plugin's registration with |registrar| as a "plugin_registered"
// event to the Dart side.
FLUTTER_EXPORT void OrvalinStandinReportPluginRegistered(
    FlutterDesktopPluginRegistrarRef registrar, const char* plugin_name);

#if defined(__cplusplus)
}  // extern "C"
#endif

#endif  // STANDIN_STANDIN_REPORT_H_
