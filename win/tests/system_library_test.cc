#include "win/system_library.h"

#include <gtest/gtest.h>

#include <string>

#include "win/module_path.h"
#include "win/windows.h"

namespace {

using orvalin::win::FindSystemFunction;
using orvalin::win::SystemFunction;

TEST(SystemFunction, FindsFunctionsOfSystem32Libraries) {
  EXPECT_NE(FindSystemFunction(L"bcrypt.dll", "BCryptHashData"), nullptr);
  const auto tick = SystemFunction<decltype(GetTickCount64)>(L"kernel32.dll",
                                                             "GetTickCount64");
  ASSERT_NE(tick, nullptr);
  EXPECT_GT(tick(), 0u);
  EXPECT_EQ(FindSystemFunction(L"bcrypt.dll", "NoSuchFunction"), nullptr);
  EXPECT_EQ(FindSystemFunction(L"orvalin_no_such_library.dll", "F"), nullptr);
}

// A library planted beside the program, as in a Downloads folder, is never
// the one loaded, though the application folder would find it.
TEST(SystemFunction, NeverLoadsALibraryBesideTheProgram) {
  wchar_t system[MAX_PATH] = {};
  ASSERT_GT(GetSystemDirectoryW(system, MAX_PATH), 0u);
  const std::wstring program = orvalin::win::ModuleFileName(nullptr);
  const std::wstring planted =
      program.substr(0, program.find_last_of(L'\\') + 1) +
      L"orvalin_planted_test.dll";
  ASSERT_TRUE(CopyFileW((std::wstring(system) + L"\\version.dll").c_str(),
                        planted.c_str(), FALSE));
  EXPECT_EQ(FindSystemFunction(L"orvalin_planted_test.dll",
                               "GetFileVersionInfoSizeW"),
            nullptr);
  // Checked after: a module loaded once is found by name however it is
  // asked for.
  const HMODULE beside = LoadLibraryExW(L"orvalin_planted_test.dll", nullptr,
                                        LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
  EXPECT_NE(beside, nullptr) << "the plant is loadable from its folder";
  if (beside != nullptr) {
    FreeLibrary(beside);
  }
  DeleteFileW(planted.c_str());
}

}  // namespace
