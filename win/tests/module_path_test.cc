#include "win/module_path.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace orvalin::win {
namespace {

// Behaves as GetModuleFileNameW for a module whose path is g_path: a buffer
// too small gets the path cut to |units| - 1 units and the answer |units|.
std::wstring g_path;
std::vector<DWORD> g_sizes;

DWORD WINAPI FakeReader(HMODULE, LPWSTR buffer, DWORD units) {
  g_sizes.push_back(units);
  const size_t copied = std::min<size_t>(g_path.size(), units - 1);
  g_path.copy(buffer, copied);
  buffer[copied] = L'\0';
  return g_path.size() < units ? static_cast<DWORD>(g_path.size()) : units;
}

TEST(ModuleFileName, DoublesFrom260UpTo32768) {
  struct Case {
    size_t length;
    std::vector<DWORD> sizes;
  };
  const Case cases[] = {
      {259, {260}},
      {260, {260, 520}},
      {261, {260, 520}},
      {16639, {260, 520, 1040, 2080, 4160, 8320, 16640}},
      {16640, {260, 520, 1040, 2080, 4160, 8320, 16640, 32768}},
      {32767, {260, 520, 1040, 2080, 4160, 8320, 16640, 32768}},
      // Longer than any path Windows hands out: never an answer cut short.
      {32768, {260, 520, 1040, 2080, 4160, 8320, 16640, 32768}},
  };
  for (const Case& c : cases) {
    g_path.assign(c.length, L'x');
    g_sizes.clear();
    const std::wstring expected =
        c.length < 32768 ? std::wstring(c.length, L'x') : L"";
    EXPECT_EQ(ModuleFileName(nullptr, &FakeReader), expected) << c.length;
    EXPECT_EQ(g_sizes, c.sizes) << c.length;
  }
}

}  // namespace
}  // namespace orvalin::win
