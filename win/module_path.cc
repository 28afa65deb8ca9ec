#include "win/module_path.h"

#include <algorithm>

namespace orvalin::win {
namespace {

constexpr DWORD kLongestPathUnits = 32768;

}  // namespace

std::wstring ModuleFileName(HMODULE module, ModuleFileNameReader read) {
  std::wstring buffer;
  for (DWORD units = MAX_PATH;;
       units = std::min(units * 2, kLongestPathUnits)) {
    buffer.assign(units, L'\0');
    const DWORD length = read(module, buffer.data(), units);
    if (length == 0) {
      return std::wstring();
    }
    // An answer that fills the whole buffer was cut short.
    if (length < units) {
      buffer.resize(length);
      return buffer;
    }
    if (units == kLongestPathUnits) {
      return std::wstring();
    }
  }
}

}  // namespace orvalin::win
