// A console for a debug run that has none from its parent.
#ifndef RUNNER_DEBUG_CONSOLE_H_
#define RUNNER_DEBUG_CONSOLE_H_

// Opens a console and points the standard streams, and the engine's output,
// at it.
void OpenDebugConsole();

// Attaches to the parent's console; opens one only under a debugger.
void AttachOrOpenConsole();

#endif  // RUNNER_DEBUG_CONSOLE_H_
