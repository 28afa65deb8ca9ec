// Field crash diagnostics: when the process crashes, a minidump of it is
// written into %LOCALAPPDATA%\Orvalin AI\crashes\ and the process ends with
// the crash's code.
//
// Everything a crash needs is made ready when the handler is installed: a
// handler thread with its own stack (so a thread that overflowed its stack
// is still written), dbghelp.dll loaded from System32 on that thread, the
// folder made and the file names laid out. At crash time the crashing thread
// only hands its exception to the handler thread and waits.
#ifndef RUNNER_CRASH_HANDLER_H_
#define RUNNER_CRASH_HANDLER_H_

#include <cstddef>
#include <string>

#include "win/unique_handle.h"
#include "win/windows.h"

namespace orvalin {

// At most this many dumps stay in the folder; the oldest go first.
inline constexpr int kMaxCrashDumps = 10;

// The exception codes of crashes that raise none of their own.
// abort(), std::terminate (an uncaught C++ exception) and a pure virtual
// call: the application ending itself on a fatal error.
inline constexpr DWORD kFatalAppExitCode = 0x40000015;  // STATUS_FATAL_APP_EXIT
// A C runtime function called with an invalid parameter.
inline constexpr DWORD kInvalidCrtParameterCode =
    0xC0000417;  // STATUS_INVALID_CRUNTIME_PARAMETER

// The steps that touch the system, replaced in tests.
class CrashDumpSystem {
 public:
  virtual ~CrashDumpSystem() = default;
  // On the handler thread as it starts: loads the dump writer.
  virtual bool LoadDumpWriter() = 0;
  // On the handler thread as it starts: the crashes folder, made if missing;
  // empty when it cannot be found or made.
  virtual std::wstring PrepareFolder() = 0;
  // At crash time: writes the dump of |exception|, raised on |thread_id|,
  // into |file|.
  virtual bool WriteDump(HANDLE file, DWORD thread_id,
                         EXCEPTION_POINTERS* exception) = 0;
  // Ends the process with |code|; returns only in tests.
  virtual void EndProcess(UINT code) = 0;
};

// The handler thread and the one crash it reports.
class CrashReporter {
 public:
  // |system| outlives the reporter.
  explicit CrashReporter(CrashDumpSystem* system);
  ~CrashReporter();
  CrashReporter(const CrashReporter&) = delete;
  CrashReporter& operator=(const CrashReporter&) = delete;

  // Starts the handler thread; false when it cannot run (then a crash ends
  // the process without a dump).
  bool Start();

  // Hands |exception| to the handler thread, waits for its dump and ends the
  // process with the exception's code. A crash while another is being
  // reported (the handler thread's own included) ends the process at once.
  void ReportAndEnd(EXCEPTION_POINTERS* exception);

  // Waits until the handler thread has prepared everything it can; for
  // tests, which look at what it prepared.
  bool WaitUntilPrepared(DWORD milliseconds) const;

  // "YYYYMMDD-HHMMSS-mmm-<process id>.dmp", the name of a dump written at
  // |utc|; |name| holds kDumpNameCapacity characters.
  static constexpr size_t kDumpNameCapacity = 40;
  static void FormatDumpName(const SYSTEMTIME& utc, DWORD process_id,
                             wchar_t* name);
  // Whether |name| is one FormatDumpName makes.
  static bool IsDumpName(const wchar_t* name);

 private:
  static DWORD WINAPI HandlerThreadMain(void* reporter);
  void Prepare();
  void WriteRequestedDump();
  void RemoveOldestDumps();

  CrashDumpSystem* const system_;
  win::KernelHandle request_event_;
  win::KernelHandle done_event_;
  win::KernelHandle stop_event_;
  win::KernelHandle prepared_event_;
  win::KernelHandle thread_;
  DWORD handler_thread_id_ = 0;

  // Set once, by the first crash.
  volatile LONG reporting_ = 0;
  volatile LONG first_code_ = 0;
  DWORD request_thread_id_ = 0;
  EXCEPTION_POINTERS* request_exception_ = nullptr;

  // Laid out by Prepare(); at crash time only the name part changes.
  bool ready_ = false;
  std::wstring folder_;
  wchar_t dump_path_[MAX_PATH] = {};
  wchar_t temp_path_[MAX_PATH] = {};
  size_t name_offset_ = 0;
};

// Installs the handlers for the whole process: call first thing in
// wWinMain. Failing steps leave the application as it was.
void InstallCrashHandler();

// The handlers' decisions, for tests.
// The unhandled-exception filter: a continuable GCC C++ throw goes back to
// the C++ runtime (which calls std::terminate); anything else is reported.
LONG FilterUnhandledException(CrashReporter* reporter,
                              EXCEPTION_POINTERS* exception);
// The vectored handler: reports a stack overflow where it is raised, since
// Wine's unhandled-exception path never gets that far; passes anything else
// on untouched.
LONG WatchForStackOverflow(CrashReporter* reporter,
                           EXCEPTION_POINTERS* exception);

}  // namespace orvalin

#endif  // RUNNER_CRASH_HANDLER_H_
