#include "services/app_storage_service.h"

#include "win/com.h"

namespace orvalin {

std::wstring ResolveAppDataDirectory() {
  win::CoTaskMemPtr<wchar_t> known_folder;
  HRESULT hr = SHGetKnownFolderPath(FOLDERID_LocalAppData, KF_FLAG_DEFAULT,
                                    nullptr, known_folder.Put());
  if (FAILED(hr) || !known_folder) {
    return std::wstring();
  }
  std::wstring path = std::wstring(known_folder.Get()) + L"\\Orvalin AI";
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
