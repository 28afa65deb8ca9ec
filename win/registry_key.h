// Registry access that answers with the Win32 code (ERROR_SUCCESS or the
// failure) and changes no out-parameter unless it succeeds.
#ifndef WIN_REGISTRY_KEY_H_
#define WIN_REGISTRY_KEY_H_

#include <string>

#include "win/unique_handle.h"
#include "win/windows.h"

namespace orvalin::win {

// A DWORD value of |key|\|subkey| (|subkey| null: of |key| itself). Any
// other type answers ERROR_UNSUPPORTED_TYPE, a REG_DWORD of another size
// than four bytes ERROR_DATATYPE_MISMATCH.
LONG ReadDword(HKEY key, const wchar_t* subkey, const wchar_t* name,
               DWORD* value);
// A REG_SZ value, without its terminating zero unit. Any other type, also
// REG_EXPAND_SZ, answers ERROR_UNSUPPORTED_TYPE.
LONG ReadString(HKEY key, const wchar_t* subkey, const wchar_t* name,
                std::wstring* value);

// An open registry key, closed on destruction. A failed Create or Open
// keeps whatever key the object held before.
class RegistryKey {
 public:
  RegistryKey() = default;

  // Opens |path| under |parent|, creating it and any missing keys on the
  // way (non-volatile, default security).
  LONG Create(HKEY parent, const wchar_t* path, REGSAM access);
  LONG Open(HKEY parent, const wchar_t* path, REGSAM access);

  bool IsValid() const { return key_.IsValid(); }
  HKEY Get() const { return key_.Get(); }
  void Close() { key_.Reset(); }

  // |name| null is the key's default value. Strings are stored as REG_SZ
  // with their terminating zero unit.
  LONG SetString(const wchar_t* name, const std::wstring& value);
  LONG SetDword(const wchar_t* name, DWORD value);
  LONG GetString(const wchar_t* name, std::wstring* value) const;
  LONG GetDword(const wchar_t* name, DWORD* value) const;
  LONG DeleteValue(const wchar_t* name);
  // Removes |subkey| and everything below it.
  LONG DeleteTree(const wchar_t* subkey);

 private:
  UniqueHandle<RegistryKeyTraits> key_;
};

}  // namespace orvalin::win

#endif  // WIN_REGISTRY_KEY_H_
