// The full path of a loaded module, however long.
#ifndef WIN_MODULE_PATH_H_
#define WIN_MODULE_PATH_H_

#include <string>

#include "win/windows.h"

namespace orvalin::win {

// GetModuleFileNameW's shape; tests pass a stand-in to reach paths no file
// system here would hold.
using ModuleFileNameReader = DWORD(WINAPI*)(HMODULE module, LPWSTR buffer,
                                            DWORD units);

// The path of |module| (null: the executable), or empty when it cannot be
// read. The buffer starts at MAX_PATH (260) units and doubles while the
// answer fills it, the last try holding 32,768 units, the longest path
// Windows hands out.
std::wstring ModuleFileName(HMODULE module,
                            ModuleFileNameReader read = &GetModuleFileNameW);

}  // namespace orvalin::win

#endif  // WIN_MODULE_PATH_H_
