#include "services/profile_image_service.h"

#include <cwctype>
#include <memory>
#include <utility>

#include "services/profile_image_internal.h"
#include "win/com.h"
#include "win/unique_handle.h"

namespace orvalin {
namespace {

ImageDialogRunner g_dialog_runner = &RunSystemImageDialog;

void ConfigureDialog(IFileOpenDialog* dialog) {
  const COMDLG_FILTERSPEC filter = {L"이미지 (PNG / JPG)",
                                    L"*.png;*.jpg;*.jpeg"};
  dialog->SetFileTypes(1, &filter);
  dialog->SetTitle(L"프로필 사진 선택");
  FILEOPENDIALOGOPTIONS options = 0;
  if (SUCCEEDED(dialog->GetOptions(&options))) {
    dialog->SetOptions(options | FOS_FORCEFILESYSTEM | FOS_FILEMUSTEXIST);
  }
}

std::wstring LowerCaseExtension(const std::wstring& path) {
  std::wstring lower = path;
  for (wchar_t& unit : lower) {
    unit = static_cast<wchar_t>(std::towlower(unit));
  }
  const size_t dot = lower.rfind(L'.');
  return dot == std::wstring::npos ? std::wstring() : lower.substr(dot + 1);
}

flutter::EncodableMap ImageReply(std::vector<uint8_t> bytes,
                                 const std::wstring& extension) {
  const bool png = WideToUtf8(extension) == "png";
  // Built entry by entry: a braced list would copy the file's bytes.
  flutter::EncodableMap reply;
  reply.emplace("bytes", std::move(bytes));
  reply.emplace("contentType", png ? "image/png" : "image/jpeg");
  reply.emplace("extension", png ? "png" : "jpg");
  return reply;
}

}  // namespace

std::wstring RunSystemImageDialog(HWND owner) {
  // Declared first so that it is released last, after every COM object.
  win::ComInitializer apartment(COINIT_APARTMENTTHREADED |
                                COINIT_DISABLE_OLE1DDE);
  win::ComPtr<IFileOpenDialog> dialog;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr,
                              CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              dialog.PutVoid())) ||
      !dialog) {
    return std::wstring();
  }
  ConfigureDialog(dialog.Get());
  if (FAILED(dialog->Show(owner))) {
    return std::wstring();
  }
  win::ComPtr<IShellItem> item;
  if (FAILED(dialog->GetResult(item.Put())) || !item) {
    return std::wstring();
  }
  win::CoTaskMemPtr<wchar_t> name;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, name.Put()))) {
    return std::wstring();
  }
  return name ? std::wstring(name.Get()) : std::wstring();
}

ImageDialogRunner SetImageDialogRunner(ImageDialogRunner runner) {
  ImageDialogRunner previous = g_dialog_runner;
  g_dialog_runner = runner != nullptr ? runner : &RunSystemImageDialog;
  return previous;
}

bool ShowImageOpenDialog(HWND owner, PickedImageFile* picked) {
  picked->path = g_dialog_runner(owner);
  picked->extension = LowerCaseExtension(picked->path);
  return !picked->path.empty();
}

bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>* bytes) {
  win::KernelHandle file(
      CreateFileW(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.IsValid()) {
    return false;
  }
  LARGE_INTEGER size{};
  // A size that cannot be measured is a failed read, not an empty image.
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart < 0) {
    return false;
  }
  if (size.QuadPart > kMaxProfileImageBytes) {
    return false;
  }
  bytes->assign(static_cast<size_t>(size.QuadPart), 0);
  size_t filled = 0;
  while (filled < bytes->size()) {
    DWORD read = 0;
    const DWORD wanted = static_cast<DWORD>(bytes->size() - filled);
    if (!ReadFile(file.Get(), bytes->data() + filled, wanted, &read, nullptr) ||
        read == 0) {
      return false;
    }
    filled += read;
  }
  return true;
}

void HandleProfileImageCall(HWND owner, const Call& call, Result result) {
  if (call.MethodName() != "pickProfileImage") {
    result->NotImplemented();
    return;
  }
  PickedImageFile picked;
  if (!ShowImageOpenDialog(owner, &picked)) {
    result->Success();
    return;
  }
  std::vector<uint8_t> bytes;
  if (!ReadFileBytes(picked.path, &bytes)) {
    AnswerError(result, kProfileImageReadFailed);
    return;
  }
  result->Success(
      flutter::EncodableValue(ImageReply(std::move(bytes), picked.extension)));
}

void RegisterProfileImageChannel(flutter::BinaryMessenger* messenger,
                                 HWND owner) {
  RegisterStatelessChannel(messenger, "orvalin.ai/profile_image",
                           [owner](const Call& call, Result result) {
                             HandleProfileImageCall(owner, call,
                                                    std::move(result));
                           });
}

}  // namespace orvalin
