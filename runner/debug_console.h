// The standard streams of a GUI program: the parent's console when started
// from one, a console of its own for a debug run that has none.
#ifndef RUNNER_DEBUG_CONSOLE_H_
#define RUNNER_DEBUG_CONSOLE_H_

// Opens a console and points the standard streams, and the engine's output,
// at it.
void OpenDebugConsole();

// What to do with the standard streams, from whether each was given to the
// process (redirected to a file or pipe) and whether a console is there.
struct StreamPlan {
  // Point the stream at the console: it was not given, and a GUI program
  // attached to a console gets no handle of it by itself.
  bool reopen_output = false;
  bool reopen_error = false;
  // Whether a line written to standard error reaches anyone.
  bool has_standard_error = false;
};
StreamPlan PlanStandardStreams(bool output_given, bool error_given,
                               bool console);

// Attaches to the parent's console (opens one only under a debugger) and
// points the standard streams that were not given at it. True when
// standard error reaches someone.
bool AttachOrOpenConsole();

// Points the engine's output at the console too, when the standard streams
// were pointed at one. Only a first instance loads the engine, so it calls
// this once the engine is loaded.
void ResyncEngineOutputStreams();

#endif  // RUNNER_DEBUG_CONSOLE_H_
