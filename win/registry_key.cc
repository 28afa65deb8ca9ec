#include "win/registry_key.h"

namespace orvalin::win {

LONG ReadDword(HKEY key, const wchar_t* subkey, const wchar_t* name,
               DWORD* value) {
  DWORD read = 0;
  DWORD size = sizeof(read);
  const LONG status =
      RegGetValueW(key, subkey, name, RRF_RT_REG_DWORD, nullptr, &read, &size);
  // A REG_DWORD may be stored with any size; only four bytes are a DWORD
  // (a longer one answers ERROR_MORE_DATA).
  if (status == ERROR_MORE_DATA ||
      (status == ERROR_SUCCESS && size != sizeof(read))) {
    return ERROR_DATATYPE_MISMATCH;
  }
  if (status != ERROR_SUCCESS) {
    return status;
  }
  *value = read;
  return ERROR_SUCCESS;
}

LONG ReadString(HKEY key, const wchar_t* subkey, const wchar_t* name,
                std::wstring* value) {
  std::wstring read(64, L'\0');
  for (;;) {
    DWORD size = static_cast<DWORD>(read.size() * sizeof(wchar_t));
    // RRF_NOEXPAND: a REG_EXPAND_SZ value is refused rather than expanded
    // (Wine writes the expansion past the buffer).
    const LONG status =
        RegGetValueW(key, subkey, name, RRF_RT_REG_SZ | RRF_NOEXPAND, nullptr,
                     read.data(), &size);
    if (status == ERROR_MORE_DATA) {
      // |size| is what the value needs now; it may grow again before the
      // next read, which then asks once more.
      read.assign(size / sizeof(wchar_t) + 1, L'\0');
      continue;
    }
    if (status != ERROR_SUCCESS) {
      return status;
    }
    // |size| counts the terminating zero unit the system guarantees.
    read.resize(size / sizeof(wchar_t));
    if (!read.empty() && read.back() == L'\0') {
      read.pop_back();
    }
    *value = std::move(read);
    return ERROR_SUCCESS;
  }
}

LONG RegistryKey::Create(HKEY parent, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  const LONG status =
      RegCreateKeyExW(parent, path, 0, nullptr, REG_OPTION_NON_VOLATILE, access,
                      nullptr, &key, nullptr);
  if (status == ERROR_SUCCESS) {
    key_.Reset(key);
  }
  return status;
}

LONG RegistryKey::Open(HKEY parent, const wchar_t* path, REGSAM access) {
  HKEY key = nullptr;
  const LONG status = RegOpenKeyExW(parent, path, 0, access, &key);
  if (status == ERROR_SUCCESS) {
    key_.Reset(key);
  }
  return status;
}

LONG RegistryKey::SetString(const wchar_t* name, const std::wstring& value) {
  return RegSetValueExW(
      key_.Get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
      static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
}

LONG RegistryKey::SetDword(const wchar_t* name, DWORD value) {
  return RegSetValueExW(key_.Get(), name, 0, REG_DWORD,
                        reinterpret_cast<const BYTE*>(&value), sizeof(value));
}

LONG RegistryKey::GetString(const wchar_t* name, std::wstring* value) const {
  return ReadString(key_.Get(), nullptr, name, value);
}

LONG RegistryKey::GetDword(const wchar_t* name, DWORD* value) const {
  return ReadDword(key_.Get(), nullptr, name, value);
}

LONG RegistryKey::DeleteValue(const wchar_t* name) {
  return RegDeleteValueW(key_.Get(), name);
}

LONG RegistryKey::DeleteTree(const wchar_t* subkey) {
  return RegDeleteTreeW(key_.Get(), subkey);
}

}  // namespace orvalin::win
