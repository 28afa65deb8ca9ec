// Functions of Windows' own libraries that are not KnownDLLs (bcrypt,
// dwmapi, winmm), loaded from System32 only, on first use. A static import
// of such a library is looked for in the application's folder first, before
// wWinMain can harden the search path: a library planted beside the
// executable (a Downloads folder, an unpacked archive) would run inside it.
#ifndef WIN_SYSTEM_LIBRARY_H_
#define WIN_SYSTEM_LIBRARY_H_

#include "win/windows.h"

namespace orvalin::win {

// |function| of |library| as found in System32 and nowhere else, or null
// when either is missing. The library stays loaded for the process.
FARPROC FindSystemFunction(const wchar_t* library, const char* function);

// The same, typed: SystemFunction<decltype(BCryptHashData)>(L"bcrypt.dll",
// "BCryptHashData").
template <typename Function>
Function* SystemFunction(const wchar_t* library, const char* function) {
  return reinterpret_cast<Function*>(
      reinterpret_cast<void (*)()>(FindSystemFunction(library, function)));
}

}  // namespace orvalin::win

#endif  // WIN_SYSTEM_LIBRARY_H_
