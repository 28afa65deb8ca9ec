#include "runner/url_scheme.h"

#include "win/module_path.h"
#include "win/registry_key.h"
#include "win/windows.h"

namespace {

// Stores |data| as REG_SZ, terminator included. The result is not looked at:
// registration never stops start-up.
void SetStringValue(const std::wstring& key_name, const wchar_t* value_name,
                    const std::wstring& data) {
  orvalin::win::RegistryKey key;
  if (key.Create(HKEY_CURRENT_USER, key_name.c_str(), KEY_WRITE) !=
      ERROR_SUCCESS) {
    return;
  }
  key.SetString(value_name, data);
}

}  // namespace

std::wstring OpenCommandFor(const std::wstring& executable_path) {
  return L"\"" + executable_path + L"\" \"%1\"";
}

void RegisterUrlScheme() {
  const std::wstring path = orvalin::win::ModuleFileName(nullptr);
  if (path.empty()) {
    return;
  }
  const std::wstring key_name = kUrlSchemeKey;
  SetStringValue(key_name, nullptr, L"URL:orvalinai Protocol");
  SetStringValue(key_name, L"URL Protocol", L"");
  SetStringValue(key_name + L"\\shell\\open\\command", nullptr,
                 OpenCommandFor(path));
}
