// Entry point: one instance per logon; a later instance hands its return URL
// to the running one and leaves.
#include <memory>
#include <optional>
#include <string>

#include "runner/app_constants.h"
#include "runner/command_line.h"
#include "runner/crash_handler.h"
#include "runner/debug_console.h"
#include "runner/engine_project.h"
#include "runner/flutter_window.h"
#include "runner/hand_off_report.h"
#include "runner/single_instance.h"
#include "runner/url_scheme.h"
#include "services/auth_callback_relay.h"
#include "win/com.h"
#include "win/module_path.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace {

void HardenDllSearch() {
  SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_SYSTEM32);
  SetSearchPathMode(BASE_SEARCH_PATH_ENABLE_SAFE_SEARCHMODE |
                    BASE_SEARCH_PATH_PERMANENT);
}

std::optional<std::wstring> StartUrlFromCommandLine() {
  ArgumentList arguments(GetCommandLineW());
  return FindStartUrl(arguments);
}

void RunMessageLoop() {
  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0)) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

// The engine and the plugin libraries are loaded on first use, so that a
// later instance never loads them; a first instance loads them up front,
// kept for the process's life, and ends here when one is missing instead
// of failing inside a call.
bool LoadEngineLibraries() {
  for (const wchar_t* name :
       {L"flutter_windows.dll", L"url_launcher_windows_plugin.dll",
        L"video_player_win_plugin.dll"}) {
    // The flags hold for what the library imports as well.
    if (LoadLibraryExW(name, nullptr,
                       LOAD_LIBRARY_SEARCH_APPLICATION_DIR |
                           LOAD_LIBRARY_SEARCH_SYSTEM32) == nullptr) {
      return false;
    }
  }
  ResyncEngineOutputStreams();
  return true;
}

int RunFirstInstance(InstanceClaim claim,
                     const std::optional<std::wstring>& start_url) {
  if (!LoadEngineLibraries()) {
    return 1;
  }
  RegisterUrlScheme();
  // No channel exists yet, so the relay keeps the URL as pending.
  if (start_url) {
    orvalin::AuthCallbackRelay::Instance().Deliver(*start_url);
  }
  // The main thread's single-threaded apartment, held for the message loop.
  auto com =
      std::make_unique<orvalin::win::ComInitializer>(COINIT_APARTMENTTHREADED);

  flutter::EngineProject project(L"data");
  project.set_dart_entrypoint_arguments(CommandLineArgumentsUtf8());
  auto window = std::make_unique<FlutterWindow>(project);
  if (!window->Create(kWindowTitle, Win32Window::Point(10, 10),
                      Win32Window::Size(1280, 720))) {
    com->Abandon();
    claim.mutex.Reset();
    claim.user_mutex.Reset();
    window.reset();
    return 1;
  }
  window->SetQuitWhenClosed(true);
  RunMessageLoop();

  // The mutexes go before the window object, so an instance started during
  // teardown becomes a first instance.
  com.reset();
  claim.mutex.Reset();
  claim.user_mutex.Reset();
  window.reset();
  return 0;
}

}  // namespace

int APIENTRY wWinMain(HINSTANCE, HINSTANCE, wchar_t*, int) {
  orvalin::InstallCrashHandler();
  HardenDllSearch();
  if (IsSchemeRemovalRun(GetCommandLineW())) {  // the installer's uninstall
    return UnregisterUrlScheme(orvalin::win::ModuleFileName(nullptr)) ? 0 : 1;
  }
  const bool has_standard_error = AttachOrOpenConsole();
  const std::optional<std::wstring> start_url = StartUrlFromCommandLine();
  InstanceClaim claim = ClaimSingleInstance();
  if (claim.another_instance_running) {
    // Let go before waiting for the window: a handle kept while looking
    // would make an instance started meanwhile a later one as well.
    claim.mutex.Reset();
    claim.user_mutex.Reset();
    HandOffResult hand_off = HandOffToRunningInstance(start_url);
    if (!hand_off.claim) {
      // Holds no mutex: a box waiting for the user blocks nobody.
      ReportHandOff(hand_off, has_standard_error);
      return hand_off.exit_code;
    }
    // The running instance ended before a window of it took over.
    claim = std::move(*hand_off.claim);
  }
  return RunFirstInstance(std::move(claim), start_url);
}
