// A crash where a test chooses: ORVALIN_STANDIN_CRASH names how the engine
// crashes inside FlutterDesktopViewControllerCreate, so that tests of a
// host's crash handling meet each kind of crash inside an engine call.
#ifndef STANDIN_CRASH_H_
#define STANDIN_CRASH_H_

namespace standin {

// Crashes as ORVALIN_STANDIN_CRASH asks; returns when it is not set or names
// no kind of crash.
void CrashIfAsked();

}  // namespace standin

#endif  // STANDIN_CRASH_H_
