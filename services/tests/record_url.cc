// Stands in for the browser in the launcher test: started as the https
// handler with an output path and the URL, it writes every argument after
// the output path, one a line, to that file. The file appears whole: it is
// written beside its final name and then renamed.

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <string>

namespace {

std::string ToUtf8(const wchar_t* wide) {
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, wide, -1, nullptr, 0, nullptr, nullptr);
  if (length <= 1) {
    return std::string();
  }
  std::string utf8(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8.data(), length, nullptr,
                      nullptr);
  utf8.resize(static_cast<size_t>(length) - 1);
  return utf8;
}

bool WriteWhole(const std::wstring& path, const std::string& text) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr,
                            CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    return false;
  }
  DWORD written = 0;
  const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()),
                            &written, nullptr) &&
                  written == text.size();
  CloseHandle(file);
  return ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 2) {
    return 2;
  }
  std::string text;
  for (int i = 2; i < argc; ++i) {
    text += ToUtf8(argv[i]) + "\n";
  }
  const std::wstring final_path = argv[1];
  const std::wstring partial_path = final_path + L".partial";
  if (!WriteWhole(partial_path, text) ||
      !MoveFileExW(partial_path.c_str(), final_path.c_str(),
                   MOVEFILE_REPLACE_EXISTING)) {
    return 1;
  }
  return 0;
}
