#include "services/profile_image_service.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <objbase.h>
#include <shobjidl.h>

#include <cwctype>
#include <memory>
#include <utility>

#include "services/profile_image_internal.h"

namespace orvalin {
namespace {

ImageDialogRunner g_dialog_runner = &RunSystemImageDialog;

// Balances a successful CoInitializeEx (S_OK or S_FALSE) on this thread.
class ComApartment {
 public:
  ComApartment()
      : initialized_(SUCCEEDED(CoInitializeEx(
            nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
  ~ComApartment() {
    if (initialized_) {
      CoUninitialize();
    }
  }
  ComApartment(const ComApartment&) = delete;
  ComApartment& operator=(const ComApartment&) = delete;

 private:
  bool initialized_;
};

struct ComReleaser {
  void operator()(IUnknown* object) const { object->Release(); }
};
template <typename T>
using ComPtr = std::unique_ptr<T, ComReleaser>;

struct CoTaskMemDeleter {
  void operator()(wchar_t* text) const { CoTaskMemFree(text); }
};
using CoTaskMemText = std::unique_ptr<wchar_t, CoTaskMemDeleter>;

class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle_(handle) {}
  ~UniqueHandle() {
    if (valid()) {
      CloseHandle(handle_);
    }
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  bool valid() const { return handle_ != INVALID_HANDLE_VALUE; }
  HANDLE get() const { return handle_; }

 private:
  HANDLE handle_;
};

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
  ComApartment apartment;
  IFileOpenDialog* raw_dialog = nullptr;
  if (FAILED(CoCreateInstance(CLSID_FileOpenDialog, nullptr,
                              CLSCTX_INPROC_SERVER, IID_IFileOpenDialog,
                              reinterpret_cast<void**>(&raw_dialog))) ||
      raw_dialog == nullptr) {
    return std::wstring();
  }
  ComPtr<IFileOpenDialog> dialog(raw_dialog);
  ConfigureDialog(dialog.get());
  if (FAILED(dialog->Show(owner))) {
    return std::wstring();
  }
  IShellItem* raw_item = nullptr;
  if (FAILED(dialog->GetResult(&raw_item)) || raw_item == nullptr) {
    return std::wstring();
  }
  ComPtr<IShellItem> item(raw_item);
  wchar_t* raw_name = nullptr;
  if (FAILED(item->GetDisplayName(SIGDN_FILESYSPATH, &raw_name))) {
    CoTaskMemFree(raw_name);
    return std::wstring();
  }
  CoTaskMemText name(raw_name);
  return name ? std::wstring(name.get()) : std::wstring();
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
  UniqueHandle file(
      CreateFileW(path.c_str(), GENERIC_READ,
                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) {
    return false;
  }
  LARGE_INTEGER size{};
  // A size that cannot be measured is a failed read, not an empty image.
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart < 0) {
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
    if (!ReadFile(file.get(), bytes->data() + filled, wanted, &read, nullptr) ||
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
