#include "runner/url_scheme.h"

#include <memory>

#include "runner/command_line.h"
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

// Deletes |path| under HKEY_CURRENT_USER when it holds neither values nor
// subkeys; a missing key counts as deleted.
bool DeleteKeyIfEmpty(const std::wstring& path) {
  orvalin::win::RegistryKey key;
  LONG status = key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_QUERY_VALUE);
  if (status == ERROR_FILE_NOT_FOUND) {
    return true;
  }
  DWORD subkeys = 0;
  DWORD values = 0;
  if (status != ERROR_SUCCESS ||
      RegQueryInfoKeyW(key.Get(), nullptr, nullptr, nullptr, &subkeys, nullptr,
                       nullptr, &values, nullptr, nullptr, nullptr,
                       nullptr) != ERROR_SUCCESS) {
    return false;
  }
  key.Close();
  if (subkeys != 0 || values != 0) {
    return true;  // someone else's: left as it is
  }
  status = RegDeleteKeyW(HKEY_CURRENT_USER, path.c_str());
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

// Deletes one value; a missing value counts as deleted.
bool DeleteValue(const std::wstring& path, const wchar_t* name) {
  orvalin::win::RegistryKey key;
  LONG status = key.Open(HKEY_CURRENT_USER, path.c_str(), KEY_SET_VALUE);
  if (status == ERROR_SUCCESS) {
    status = key.DeleteValue(name);
  }
  return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

}  // namespace

std::wstring OpenCommandFor(const std::wstring& executable_path) {
  return L"\"" + executable_path + L"\" " + kSingleArgumentSwitch + L" %1";
}

bool CommandStartsExecutable(const std::wstring& command,
                             const std::wstring& executable_path) {
  const std::wstring quoted = L"\"" + executable_path + L"\"";
  if (command.size() < quoted.size() ||
      CompareStringOrdinal(command.c_str(), static_cast<int>(quoted.size()),
                           quoted.c_str(), static_cast<int>(quoted.size()),
                           TRUE) != CSTR_EQUAL) {
    return false;
  }
  const std::wstring rest = command.substr(quoted.size());
  return rest == L" " + std::wstring(kSingleArgumentSwitch) + L" %1" ||
         rest == L" \"%1\"";
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

bool IsSchemeRemovalRun(const wchar_t* command_line) {
  // Split plainly: a return URL after --single-argument never asks for it.
  int count = 0;
  const std::unique_ptr<wchar_t*, decltype(&LocalFree)> arguments(
      CommandLineToArgvW(command_line, &count), &LocalFree);
  return arguments && count == 2 &&
         std::wstring(arguments.get()[1]) == kUnregisterSchemeSwitch;
}

bool UnregisterUrlScheme(const std::wstring& executable_path) {
  const std::wstring scheme = kUrlSchemeKey;
  const std::wstring open = scheme + L"\\shell\\open";
  const std::wstring command_key = open + L"\\command";
  std::wstring command;
  if (orvalin::win::ReadString(HKEY_CURRENT_USER, command_key.c_str(), nullptr,
                               &command) != ERROR_SUCCESS ||
      !CommandStartsExecutable(command, executable_path)) {
    return false;
  }
  // Every step runs, so one failure leaves as little behind as it can.
  bool removed = DeleteValue(command_key, nullptr);
  removed = DeleteKeyIfEmpty(command_key) && removed;
  removed = DeleteKeyIfEmpty(open) && removed;
  removed = DeleteKeyIfEmpty(scheme + L"\\shell") && removed;
  removed = DeleteValue(scheme, nullptr) && removed;
  removed = DeleteValue(scheme, L"URL Protocol") && removed;
  return DeleteKeyIfEmpty(scheme) && removed;
}
