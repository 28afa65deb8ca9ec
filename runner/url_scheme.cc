#include "runner/url_scheme.h"

#include <algorithm>
#include <memory>

namespace {

// The longest path Windows can hand out, in UTF-16 units.
constexpr DWORD kMaxPathUnits = 32768;

struct RegKeyCloser {
  void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

UniqueRegKey CreateKeyForWriting(const std::wstring& name) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, name.c_str(), 0, nullptr,
                      REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return nullptr;
  }
  return UniqueRegKey(key);
}

// Stores |data| as REG_SZ, terminator included. The result is not looked at:
// registration never stops start-up.
void SetStringValue(const std::wstring& key_name, const wchar_t* value_name,
                    const std::wstring& data) {
  UniqueRegKey key = CreateKeyForWriting(key_name);
  if (!key) {
    return;
  }
  RegSetValueExW(key.get(), value_name, 0, REG_SZ,
                 reinterpret_cast<const BYTE*>(data.c_str()),
                 static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
}

}  // namespace

std::wstring ReadGrowingPath(const PathReader& read) {
  for (DWORD units = MAX_PATH;; units = std::min(units * 2, kMaxPathUnits)) {
    std::wstring buffer(units, L'\0');
    const DWORD length = read(buffer.data(), units);
    if (length == 0) {
      return std::wstring();
    }
    // A result that fills the whole buffer means the path was cut short.
    if (length < units) {
      buffer.resize(length);
      return buffer;
    }
    if (units == kMaxPathUnits) {
      return std::wstring();
    }
  }
}

std::wstring ModuleFileName(HMODULE module) {
  return ReadGrowingPath([module](wchar_t* buffer, DWORD units) {
    return GetModuleFileNameW(module, buffer, units);
  });
}

std::wstring OpenCommandFor(const std::wstring& executable_path) {
  return L"\"" + executable_path + L"\" \"%1\"";
}

void RegisterUrlScheme() {
  const std::wstring path = ModuleFileName(nullptr);
  if (path.empty()) {
    return;
  }
  const std::wstring key_name = kUrlSchemeKey;
  SetStringValue(key_name, nullptr, L"URL:orvalinai Protocol");
  SetStringValue(key_name, L"URL Protocol", L"");
  SetStringValue(key_name + L"\\shell\\open\\command", nullptr,
                 OpenCommandFor(path));
}
