// The crash reporter over a fake system: what reaches the folder, what is
// removed, and that each failing step still ends the process with the
// crash's code and leaves the folder as it was.
#include "runner/crash_handler.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "win/windows.h"

namespace orvalin {
namespace {

namespace fs = std::filesystem;

constexpr DWORD kLimitMs = 60000;

class FakeSystem : public CrashDumpSystem {
 public:
  bool LoadDumpWriter() override {
    if (end_handler_thread) ExitThread(0);
    return load_ok;
  }
  std::wstring PrepareFolder() override { return folder; }
  bool WriteDump(HANDLE file, DWORD thread_id,
                 EXCEPTION_POINTERS* exception) override {
    ++writes;
    written_thread = thread_id;
    written_exception = exception;
    DWORD done = 0;
    WriteFile(file, "MDMP", 4, &done, nullptr);
    if (during_write) during_write();
    return write_ok;
  }
  void EndProcess(UINT code) override { end_codes.push_back(code); }

  bool load_ok = true;
  bool end_handler_thread = false;
  std::wstring folder;
  bool write_ok = true;
  std::function<void()> during_write;
  std::atomic<int> writes{0};
  DWORD written_thread = 0;
  EXCEPTION_POINTERS* written_exception = nullptr;
  std::vector<UINT> end_codes;
};

// An exception as a filter would receive it.
struct FakeException {
  explicit FakeException(DWORD code, DWORD flags = EXCEPTION_NONCONTINUABLE) {
    record.ExceptionCode = code;
    record.ExceptionFlags = flags;
    pointers.ExceptionRecord = &record;
    pointers.ContextRecord = &context;
  }
  EXCEPTION_RECORD record = {};
  CONTEXT context = {};
  EXCEPTION_POINTERS pointers = {};
};

std::vector<std::wstring> Names(const fs::path& folder) {
  std::vector<std::wstring> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.push_back(entry.path().filename().wstring());
  }
  std::sort(names.begin(), names.end());
  return names;
}

class CrashReporterTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    folder_ = fs::path(temp) /
              (L"crash_test_" + std::to_wstring(GetCurrentProcessId()) + L"_" +
               std::to_wstring(GetTickCount64()));
    fs::create_directories(folder_);
    system_.folder = folder_.wstring();
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }

  // Eleven dumps from 2020, oldest first, and two files that are no dumps.
  std::vector<std::wstring> SeedOldDumps() {
    std::vector<std::wstring> seeded;
    for (int i = 10; i <= 20; ++i) {
      seeded.push_back(L"20200101-1200" + std::to_wstring(i) + L"-000-77.dmp");
      std::ofstream(folder_ / seeded.back()) << "old";
    }
    std::ofstream(folder_ / L"notes.txt") << "kept";
    std::ofstream(folder_ / L"19990101-000000-000-1.dmp.txt") << "kept";
    return seeded;
  }

  // Runs one crash through a reporter started over |system|.
  void Crash(DWORD code) { Crash(system_, code); }
  void Crash(FakeSystem& system, DWORD code) {
    CrashReporter reporter(&system);
    ASSERT_TRUE(reporter.Start());
    ASSERT_TRUE(reporter.WaitUntilPrepared(kLimitMs));
    FakeException exception(code);
    reporter.ReportAndEnd(&exception.pointers);
    EXPECT_EQ(system.written_exception,
              system.writes ? &exception.pointers : nullptr);
  }

  fs::path folder_;
  FakeSystem system_;
};

TEST_F(CrashReporterTest, WritesOneWholeDumpNamedByTimeAndProcess) {
  SYSTEMTIME before;
  GetSystemTime(&before);
  Crash(EXCEPTION_ACCESS_VIOLATION);

  EXPECT_EQ(system_.end_codes, std::vector<UINT>{EXCEPTION_ACCESS_VIOLATION});
  EXPECT_EQ(system_.written_thread, GetCurrentThreadId());
  const auto names = Names(folder_);
  ASSERT_EQ(names.size(), 1u);
  const std::wstring& name = names[0];
  EXPECT_TRUE(CrashReporter::IsDumpName(name.c_str())) << name;
  const std::wstring suffix =
      L"-" + std::to_wstring(GetCurrentProcessId()) + L".dmp";
  EXPECT_EQ(name.substr(name.size() - suffix.size()), suffix);
  wchar_t year[5];
  swprintf(year, 5, L"%04u", before.wYear);
  EXPECT_EQ(name.substr(0, 4), year);
  std::ifstream dump(folder_ / name);
  std::string content((std::istreambuf_iterator<char>(dump)), {});
  EXPECT_EQ(content, "MDMP");
}

TEST_F(CrashReporterTest, KeepsTheTenNewestDumpsAndOtherFiles) {
  std::vector<std::wstring> seeded = SeedOldDumps();
  Crash(EXCEPTION_ACCESS_VIOLATION);

  const auto names = Names(folder_);
  std::vector<std::wstring> dumps;
  for (const auto& name : names) {
    if (CrashReporter::IsDumpName(name.c_str())) dumps.push_back(name);
  }
  ASSERT_EQ(dumps.size(), static_cast<size_t>(kMaxCrashDumps));
  // The two oldest went; the nine newest seeded and the new one stay.
  EXPECT_EQ(std::vector<std::wstring>(dumps.begin(), dumps.end() - 1),
            std::vector<std::wstring>(seeded.begin() + 2, seeded.end()));
  EXPECT_GT(dumps.back(), seeded.back());
  EXPECT_EQ(std::count(names.begin(), names.end(), L"notes.txt"), 1);
  EXPECT_EQ(
      std::count(names.begin(), names.end(), L"19990101-000000-000-1.dmp.txt"),
      1);
}

// Each failing step: no dump, no partial file, the old dumps untouched, and
// the process still ends with the crash's code.
TEST_F(CrashReporterTest, AFailingStepLeavesTheFolderAsItWas) {
  const std::vector<std::wstring> seeded_names = [&] {
    SeedOldDumps();
    return Names(folder_);
  }();
  struct Case {
    const char* step;
    std::function<void(FakeSystem&, const fs::path&)> fail;
    int writes;
  };
  const std::vector<Case> cases = {
      {"dbghelp missing",
       [](FakeSystem& s, const fs::path&) { s.load_ok = false; }, 0},
      {"folder cannot be made",
       [](FakeSystem& s, const fs::path&) { s.folder.clear(); }, 0},
      {"folder gone before the crash",
       [](FakeSystem& s, const fs::path& f) {
         s.folder = (f / L"gone").wstring();
       },
       0},
      {"disk full", [](FakeSystem& s, const fs::path&) { s.write_ok = false; },
       1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.step);
    FakeSystem system;
    system.folder = folder_.wstring();
    c.fail(system, folder_);
    Crash(system, EXCEPTION_STACK_OVERFLOW);
    EXPECT_EQ(system.writes, c.writes);
    EXPECT_EQ(system.end_codes, std::vector<UINT>{EXCEPTION_STACK_OVERFLOW});
    EXPECT_EQ(Names(folder_), seeded_names);
  }
}

TEST_F(CrashReporterTest, WithoutAHandlerThreadTheCrashStillEndsWithItsCode) {
  CrashReporter reporter(&system_);
  FakeException exception(EXCEPTION_ILLEGAL_INSTRUCTION);
  reporter.ReportAndEnd(&exception.pointers);
  EXPECT_EQ(system_.writes, 0);
  EXPECT_EQ(system_.end_codes,
            std::vector<UINT>{EXCEPTION_ILLEGAL_INSTRUCTION});
  EXPECT_TRUE(Names(folder_).empty());
}

TEST_F(CrashReporterTest, AnEndedHandlerThreadIsNotWaitedFor) {
  // As during the process's exit, when other threads are already gone.
  system_.end_handler_thread = true;
  CrashReporter reporter(&system_);
  ASSERT_TRUE(reporter.Start());
  FakeException exception(EXCEPTION_ACCESS_VIOLATION);
  const ULONGLONG start = GetTickCount64();
  reporter.ReportAndEnd(&exception.pointers);
  // Far below the two minutes a crashing thread waits for a live handler.
  EXPECT_LT(GetTickCount64() - start, 60000u);
  EXPECT_EQ(system_.end_codes, std::vector<UINT>{EXCEPTION_ACCESS_VIOLATION});
  EXPECT_EQ(system_.writes, 0);
}

TEST_F(CrashReporterTest, ASecondCrashWhileWritingEndsAtOnceAsTheFirst) {
  HANDLE writing = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  system_.during_write = [&] {
    SetEvent(writing);
    WaitForSingleObject(release, kLimitMs);
  };
  CrashReporter reporter(&system_);
  ASSERT_TRUE(reporter.Start());
  FakeException first(EXCEPTION_ACCESS_VIOLATION);
  std::thread crashing([&] { reporter.ReportAndEnd(&first.pointers); });
  ASSERT_EQ(WaitForSingleObject(writing, kLimitMs), WAIT_OBJECT_0);

  FakeException second(EXCEPTION_INT_DIVIDE_BY_ZERO);
  reporter.ReportAndEnd(&second.pointers);  // returns only in tests
  EXPECT_EQ(system_.end_codes, std::vector<UINT>{EXCEPTION_ACCESS_VIOLATION});

  SetEvent(release);
  crashing.join();
  EXPECT_EQ(system_.writes, 1);
  EXPECT_EQ(system_.end_codes, (std::vector<UINT>{EXCEPTION_ACCESS_VIOLATION,
                                                  EXCEPTION_ACCESS_VIOLATION}));
  CloseHandle(writing);
  CloseHandle(release);
}

TEST_F(CrashReporterTest, ACrashOfTheHandlerThreadItselfEndsAtOnce) {
  CrashReporter* running = nullptr;
  FakeException nested(EXCEPTION_ACCESS_VIOLATION);
  system_.during_write = [&] { running->ReportAndEnd(&nested.pointers); };
  CrashReporter reporter(&system_);
  running = &reporter;
  ASSERT_TRUE(reporter.Start());
  FakeException first(EXCEPTION_ILLEGAL_INSTRUCTION);
  reporter.ReportAndEnd(&first.pointers);
  EXPECT_EQ(system_.end_codes,
            (std::vector<UINT>{EXCEPTION_ILLEGAL_INSTRUCTION,
                               EXCEPTION_ILLEGAL_INSTRUCTION}));
}

TEST_F(CrashReporterTest, HandlersReportOnlyWhatNobodyElseHandles) {
  CrashReporter reporter(&system_);
  // A C++ throw of GCC's runtime goes back to it, which calls
  // std::terminate; nothing is reported for it here.
  FakeException gcc_throw(0x20474343, 0);
  EXPECT_EQ(FilterUnhandledException(&reporter, &gcc_throw.pointers),
            EXCEPTION_CONTINUE_EXECUTION);
  FakeException other_gcc_kind(0x21474343, 0);
  EXPECT_EQ(FilterUnhandledException(&reporter, &other_gcc_kind.pointers),
            EXCEPTION_CONTINUE_EXECUTION);
  // First-chance exceptions other than a stack overflow are someone else's.
  FakeException access(EXCEPTION_ACCESS_VIOLATION, 0);
  EXPECT_EQ(WatchForStackOverflow(&reporter, &access.pointers),
            EXCEPTION_CONTINUE_SEARCH);
  EXPECT_TRUE(system_.end_codes.empty());

  FakeException overflow(EXCEPTION_STACK_OVERFLOW);
  WatchForStackOverflow(&reporter, &overflow.pointers);
  EXPECT_EQ(system_.end_codes, std::vector<UINT>{EXCEPTION_STACK_OVERFLOW});
}

TEST_F(CrashReporterTest, TheFilterReportsANonContinuableGccThrow) {
  CrashReporter reporter(&system_);
  FakeException gcc_throw(0x20474343, EXCEPTION_NONCONTINUABLE);
  FilterUnhandledException(&reporter, &gcc_throw.pointers);
  EXPECT_EQ(system_.end_codes, std::vector<UINT>{0x20474343});
}

TEST(CrashDumpNameTest, NamesCarryTheTimeAndAnyProcessId) {
  SYSTEMTIME utc = {};
  utc.wYear = 2026;
  utc.wMonth = 1;
  utc.wDay = 2;
  utc.wHour = 3;
  utc.wMinute = 4;
  utc.wSecond = 5;
  utc.wMilliseconds = 6;
  wchar_t name[CrashReporter::kDumpNameCapacity];
  CrashReporter::FormatDumpName(utc, 0, name);
  EXPECT_STREQ(name, L"20260102-030405-006-0.dmp");
  EXPECT_TRUE(CrashReporter::IsDumpName(name));
  CrashReporter::FormatDumpName(utc, 4294967295u, name);
  EXPECT_STREQ(name, L"20260102-030405-006-4294967295.dmp");
  EXPECT_TRUE(CrashReporter::IsDumpName(name));

  for (const wchar_t* other :
       {L"20260102-030405-006-.dmp", L"20260102-030405-006-1.tmp",
        L"20260102-030405-006-1.dmp.txt", L"2026010-030405-006-1.dmp",
        L"20260102_030405-006-1.dmp", L"2026a102-030405-006-1.dmp",
        L"20260102-030405-006-12345678901.dmp", L".dmp", L""}) {
    EXPECT_FALSE(CrashReporter::IsDumpName(other)) << other;
  }
}

}  // namespace
}  // namespace orvalin
