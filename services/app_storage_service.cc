#include "services/app_storage_service.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <knownfolders.h>
#include <shlobj.h>

#include <memory>

namespace orvalin {
namespace {

struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};
using CoTaskMemText = std::unique_ptr<wchar_t, CoTaskMemDeleter>;

}  // namespace

std::wstring ResolveAppDataDirectory() {
  wchar_t* raw = nullptr;
  HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT,
                                    nullptr, &raw);
  CoTaskMemText known_folder(raw);
  if (FAILED(hr) || !known_folder) {
    return std::wstring();
  }
  std::wstring path = std::wstring(known_folder.get()) + L"\\Orvalin AI";
  // An existing folder (or one that cannot be made) gives the same answer;
  // the Dart side meets a missing folder when it uses it.
  CreateDirectoryW(path.c_str(), nullptr);
  return path;
}

void HandleAppStorageCall(const Call& call, Result result) {
  if (call.MethodName() != "applicationSupportDirectory") {
    result->NotImplemented();
    return;
  }
  std::wstring path = ResolveAppDataDirectory();
  if (path.empty()) {
    AnswerError(result, kAppStorageUnavailable);
    return;
  }
  result->Success(flutter::EncodableValue(WideToUtf8(path)));
}

void RegisterAppStorageChannel(flutter::BinaryMessenger* messenger) {
  RegisterStatelessChannel(messenger, "orvalin.ai/app_storage",
                           &HandleAppStorageCall);
}

}  // namespace orvalin
