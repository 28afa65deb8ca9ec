#include "win/system_library.h"

namespace orvalin::win {

FARPROC FindSystemFunction(const wchar_t* library, const char* function) {
  // Never freed: callers keep the function for the process's life.
  const HMODULE module =
      LoadLibraryExW(library, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32);
  return module != nullptr ? GetProcAddress(module, function) : nullptr;
}

}  // namespace orvalin::win
