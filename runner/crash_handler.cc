#include "runner/crash_handler.h"

#include <csignal>
#include <cwchar>
#include <exception>

#include "win/com.h"

// dbghelp's declarations only: the library is loaded at run time, never
// imported.
#include <dbghelp.h>

namespace orvalin {
namespace {

// How long a crashing thread waits for its dump before ending the process
// anyway: long enough for a slow disk, short enough that a handler stuck on
// a lock the crash left held does not keep a dead window up for long.
constexpr DWORD kDumpWriteLimitMs = 120000;

// The code GCC's SEH unwinder raises for a C++ throw; the MinGW runtime
// continues it when unhandled so the C++ runtime can call std::terminate.
constexpr DWORD kGccThrowMask = 0x20FFFFFF;
constexpr DWORD kGccThrowCode = 0x20474343;

constexpr wchar_t kTempSuffix[] = L".tmp";

void PutDigits(unsigned value, int count, wchar_t* out) {
  for (int i = count - 1; i >= 0; --i) {
    out[i] = static_cast<wchar_t>(L'0' + value % 10);
    value /= 10;
  }
}

}  // namespace

CrashReporter::CrashReporter(CrashDumpSystem* system) : system_(system) {}

CrashReporter::~CrashReporter() {
  if (thread_) {
    SetEvent(stop_event_.Get());
    WaitForSingleObject(thread_.Get(), INFINITE);
  }
}

bool CrashReporter::Start() {
  request_event_.Reset(CreateEventW(nullptr, FALSE, FALSE, nullptr));
  done_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  stop_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  prepared_event_.Reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  if (!request_event_ || !done_event_ || !stop_event_ || !prepared_event_) {
    return false;
  }
  // Its own stack, reserved whole now: dbghelp walks the crashed process
  // from here.
  constexpr SIZE_T kStackSize = 1024 * 1024;
  thread_.Reset(CreateThread(nullptr, kStackSize, &HandlerThreadMain, this,
                             STACK_SIZE_PARAM_IS_A_RESERVATION,
                             &handler_thread_id_));
  return static_cast<bool>(thread_);
}

bool CrashReporter::WaitUntilPrepared(DWORD milliseconds) const {
  return prepared_event_ && WaitForSingleObject(prepared_event_.Get(),
                                                milliseconds) == WAIT_OBJECT_0;
}

DWORD WINAPI CrashReporter::HandlerThreadMain(void* param) {
  auto* self = static_cast<CrashReporter*>(param);
  self->Prepare();
  SetEvent(self->prepared_event_.Get());
  HANDLE events[] = {self->request_event_.Get(), self->stop_event_.Get()};
  if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0) {
    self->WriteRequestedDump();
    SetEvent(self->done_event_.Get());
  }
  return 0;
}

void CrashReporter::Prepare() {
  if (!system_->LoadDumpWriter()) {
    return;
  }
  folder_ = system_->PrepareFolder();
  // Room for the separator, the name and the temporary suffix.
  if (folder_.empty() ||
      folder_.size() + 1 + kDumpNameCapacity + 4 >= MAX_PATH) {
    return;
  }
  wcscpy(dump_path_, folder_.c_str());
  dump_path_[folder_.size()] = L'\\';
  name_offset_ = folder_.size() + 1;
  ready_ = true;
}

void CrashReporter::FormatDumpName(const SYSTEMTIME& utc, DWORD process_id,
                                   wchar_t* name) {
  PutDigits(utc.wYear, 4, name);
  PutDigits(utc.wMonth, 2, name + 4);
  PutDigits(utc.wDay, 2, name + 6);
  name[8] = L'-';
  PutDigits(utc.wHour, 2, name + 9);
  PutDigits(utc.wMinute, 2, name + 11);
  PutDigits(utc.wSecond, 2, name + 13);
  name[15] = L'-';
  PutDigits(utc.wMilliseconds, 3, name + 16);
  name[19] = L'-';
  int digits = 1;
  for (DWORD rest = process_id / 10; rest != 0; rest /= 10) {
    ++digits;
  }
  PutDigits(process_id, digits, name + 20);
  wcscpy(name + 20 + digits, L".dmp");
}

bool CrashReporter::IsDumpName(const wchar_t* name) {
  const size_t length = wcslen(name);
  // 20 characters of time, 1 to 10 digits of process id, ".dmp".
  if (length < 25 || length > 34 || wcscmp(name + length - 4, L".dmp") != 0) {
    return false;
  }
  for (size_t i = 0; i < length - 4; ++i) {
    const bool dash = i == 8 || i == 15 || i == 19;
    const wchar_t c = name[i];
    if (dash ? c != L'-' : (c < L'0' || c > L'9')) {
      return false;
    }
  }
  return true;
}

void CrashReporter::WriteRequestedDump() {
  if (!ready_) {
    return;
  }
  SYSTEMTIME now;
  GetSystemTime(&now);
  FormatDumpName(now, GetCurrentProcessId(), dump_path_ + name_offset_);
  wcscpy(temp_path_, dump_path_);
  wcscpy(temp_path_ + wcslen(temp_path_) - 4, kTempSuffix);

  win::KernelHandle file(CreateFileW(temp_path_, GENERIC_READ | GENERIC_WRITE,
                                     0, nullptr, CREATE_NEW,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) {
    return;
  }
  const bool written =
      system_->WriteDump(file.Get(), request_thread_id_, request_exception_);
  file.Reset();
  // Only whole dumps carry the dump's name.
  if (!written || !MoveFileExW(temp_path_, dump_path_, 0)) {
    DeleteFileW(temp_path_);
    return;
  }
  RemoveOldestDumps();
}

void CrashReporter::RemoveOldestDumps() {
  // Names sort by time, so the smallest is the oldest. Fixed buffers: the
  // heap may be what crashed.
  wchar_t pattern[MAX_PATH];
  wcscpy(pattern, dump_path_);
  wcscpy(pattern + name_offset_, L"*.dmp");
  wchar_t oldest[MAX_PATH];
  // Each round removes one; more rounds than the folder can hold end it.
  for (int round = 0; round < 10000; ++round) {
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) {
      return;
    }
    int count = 0;
    oldest[0] = L'\0';
    do {
      if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 &&
          IsDumpName(found.cFileName)) {
        ++count;
        if (oldest[0] == L'\0' || wcscmp(found.cFileName, oldest) < 0) {
          wcscpy(oldest, found.cFileName);
        }
      }
    } while (FindNextFileW(search, &found));
    FindClose(search);
    if (count <= kMaxCrashDumps) {
      return;
    }
    wchar_t path[MAX_PATH];
    wcscpy(path, dump_path_);
    wcscpy(path + name_offset_, oldest);
    if (!DeleteFileW(path)) {
      return;
    }
  }
}

void CrashReporter::ReportAndEnd(EXCEPTION_POINTERS* exception) {
  const DWORD code = exception->ExceptionRecord->ExceptionCode;
  if (InterlockedCompareExchange(&reporting_, 1, 0) != 0 ||
      GetCurrentThreadId() == handler_thread_id_) {
    // A crash while one is written: end now, as the first crash.
    const DWORD first = static_cast<DWORD>(first_code_);
    system_->EndProcess(first != 0 ? first : code);
    return;
  }
  InterlockedExchange(&first_code_, static_cast<LONG>(code));
  request_thread_id_ = GetCurrentThreadId();
  request_exception_ = exception;
  if (thread_) {
    SetEvent(request_event_.Get());
    // The thread itself too: a crash during the process's exit comes after
    // the handler thread was ended, and nobody would write.
    HANDLE ends[] = {done_event_.Get(), thread_.Get()};
    WaitForMultipleObjects(2, ends, FALSE, kDumpWriteLimitMs);
  }
  system_->EndProcess(code);
}

LONG FilterUnhandledException(CrashReporter* reporter,
                              EXCEPTION_POINTERS* exception) {
  const EXCEPTION_RECORD* record = exception->ExceptionRecord;
  if ((record->ExceptionCode & kGccThrowMask) == kGccThrowCode &&
      (record->ExceptionFlags & EXCEPTION_NONCONTINUABLE) == 0) {
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  reporter->ReportAndEnd(exception);
  return EXCEPTION_EXECUTE_HANDLER;
}

LONG WatchForStackOverflow(CrashReporter* reporter,
                           EXCEPTION_POINTERS* exception) {
  if (exception->ExceptionRecord->ExceptionCode == EXCEPTION_STACK_OVERFLOW) {
    reporter->ReportAndEnd(exception);
  }
  return EXCEPTION_CONTINUE_SEARCH;
}

namespace {

// The process's own system steps: dbghelp from System32 and the user's
// LocalAppData.
class Win32CrashDumpSystem : public CrashDumpSystem {
 public:
  bool LoadDumpWriter() override {
    // Kept loaded for the life of the process.
    HMODULE dbghelp =
        LoadLibraryExW(L"dbghelp.dll", nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
    if (dbghelp == nullptr) {
      return false;
    }
    write_dump_ = reinterpret_cast<decltype(&MiniDumpWriteDump)>(
        reinterpret_cast<void*>(GetProcAddress(dbghelp, "MiniDumpWriteDump")));
    return write_dump_ != nullptr;
  }

  std::wstring PrepareFolder() override {
    win::CoTaskMemPtr<wchar_t> local;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT,
                                    nullptr, local.Put())) ||
        !local) {
      return std::wstring();
    }
    std::wstring folder = std::wstring(local.Get()) + L"\\Orvalin AI";
    CreateDirectoryW(folder.c_str(), nullptr);
    folder += L"\\crashes";
    if (!CreateDirectoryW(folder.c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
      return std::wstring();
    }
    return folder;
  }

  bool WriteDump(HANDLE file, DWORD thread_id,
                 EXCEPTION_POINTERS* exception) override {
    MINIDUMP_EXCEPTION_INFORMATION info = {};
    info.ThreadId = thread_id;
    info.ExceptionPointers = exception;
    info.ClientPointers = FALSE;
    // Threads, stacks, registers, modules and the exception; no heap, so
    // no secret held in memory leaves the machine in a dump.
    const auto type =
        static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo);
    return write_dump_(GetCurrentProcess(), GetCurrentProcessId(), file, type,
                       &info, nullptr, nullptr) != FALSE;
  }

  void EndProcess(UINT code) override {
    // Returning from the filter is not enough: Wine ends the process with
    // exit code 0 then.
    TerminateProcess(GetCurrentProcess(), code);
  }

 private:
  decltype(&MiniDumpWriteDump) write_dump_ = nullptr;
};

CrashReporter* g_reporter = nullptr;

LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* exception) {
  return FilterUnhandledException(g_reporter, exception);
}

LONG WINAPI OnFirstChanceException(EXCEPTION_POINTERS* exception) {
  // A debugger is told of the overflow itself (as Windows then skips the
  // unhandled-exception filter); ending the process would end its session.
  if (IsDebuggerPresent()) {
    return EXCEPTION_CONTINUE_SEARCH;
  }
  return WatchForStackOverflow(g_reporter, exception);
}

// Reports a crash that raised no exception of its own, as if it had raised
// |code| right here.
[[noreturn]] void ReportFatalError(DWORD code) {
  CONTEXT context;
  RtlCaptureContext(&context);
  EXCEPTION_RECORD record = {};
  record.ExceptionCode = code;
  record.ExceptionFlags = EXCEPTION_NONCONTINUABLE;
  record.ExceptionAddress = reinterpret_cast<void*>(context.Rip);
  EXCEPTION_POINTERS pointers = {&record, &context};
  g_reporter->ReportAndEnd(&pointers);
  TerminateProcess(GetCurrentProcess(), code);
  for (;;) {
    Sleep(INFINITE);
  }
}

void OnTerminate() { ReportFatalError(kFatalAppExitCode); }

void OnAbortSignal(int) { ReportFatalError(kFatalAppExitCode); }

void OnPureVirtualCall() { ReportFatalError(kFatalAppExitCode); }

void OnInvalidParameter(const wchar_t*, const wchar_t*, const wchar_t*,
                        unsigned, uintptr_t) {
  ReportFatalError(kInvalidCrtParameterCode);
}

// The C runtime's own handlers, looked up in the runtime already loaded:
// not every msvcrt.dll exports all of them.
void InstallRuntimeHandlers() {
  HMODULE runtime = GetModuleHandleW(L"msvcrt.dll");
  if (runtime == nullptr) {
    return;
  }
  using SetInvalidParameter =
      _invalid_parameter_handler(__cdecl*)(_invalid_parameter_handler);
  using SetPurecall = _purecall_handler(__cdecl*)(_purecall_handler);
  using SetAbortBehavior = unsigned(__cdecl*)(unsigned, unsigned);
  auto find = [runtime](const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(runtime, name));
  };
  if (auto set = reinterpret_cast<SetInvalidParameter>(
          find("_set_invalid_parameter_handler"))) {
    set(&OnInvalidParameter);
  }
  if (auto set = reinterpret_cast<SetPurecall>(find("_set_purecall_handler"))) {
    set(&OnPureVirtualCall);
  }
  // No message box and no Windows Error Reporting before our handler runs.
  if (auto set =
          reinterpret_cast<SetAbortBehavior>(find("_set_abort_behavior"))) {
    set(0, _WRITE_ABORT_MSG | _CALL_REPORTFAULT);
  }
}

}  // namespace

void InstallCrashHandler() {
  if (g_reporter != nullptr) {
    return;
  }
  // Never destroyed: a crash may come during the process's own exit.
  auto* reporter = new CrashReporter(new Win32CrashDumpSystem);
  // Without a handler thread a crash still ends with its code, undumped.
  reporter->Start();
  g_reporter = reporter;
  SetUnhandledExceptionFilter(&OnUnhandledException);
  AddVectoredExceptionHandler(1, &OnFirstChanceException);
  std::set_terminate(&OnTerminate);
  std::signal(SIGABRT, &OnAbortSignal);
  InstallRuntimeHandlers();
}

}  // namespace orvalin
