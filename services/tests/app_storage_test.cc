// The storage channel against the prefix's real LocalAppData. The prefix is
// shared with other tests and the application, so whatever stood at
// "Orvalin AI" before is moved aside and put back afterwards.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "services/app_storage_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kChannel[] = "orvalin.ai/app_storage";

fs::path LocalAppData() {
  wchar_t* raw = nullptr;
  EXPECT_TRUE(
      SUCCEEDED(SHGetKnownFolderPath(FOLDERID_LocalAppData, 0, nullptr, &raw)));
  fs::path path = raw != nullptr ? fs::path(raw) : fs::path();
  CoTaskMemFree(raw);
  return path;
}

class AppStorageTest : public ::testing::Test {
 protected:
  AppStorageTest()
      : folder_(LocalAppData() / L"Orvalin AI"),
        aside_(LocalAppData() / (L"Orvalin AI.aside-" +
                                 std::to_wstring(GetCurrentProcessId()))) {
    RegisterAppStorageChannel(harness_.messenger());
    std::error_code error;
    if (fs::exists(fs::symlink_status(folder_))) {
      fs::rename(folder_, aside_, error);
      moved_aside_ = !error;
    }
  }
  ~AppStorageTest() override {
    std::error_code error;
    fs::remove_all(folder_, error);
    if (moved_aside_) {
      fs::rename(aside_, folder_, error);
    }
  }

  Answer Ask() {
    return harness_.Call(kChannel, "applicationSupportDirectory");
  }

  ChannelHarness harness_;
  const fs::path folder_;
  const fs::path aside_;
  bool moved_aside_ = false;
};

TEST_F(AppStorageTest, FirstCallCreatesTheFolderLaterCallsLeaveItAlone) {
  ASSERT_FALSE(fs::exists(folder_));
  Answer first = Ask();
  ASSERT_EQ(first.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(first.value, EncodableValue(Utf8(folder_.wstring())));
  EXPECT_TRUE(fs::is_directory(folder_));
  const std::string& path = std::get<std::string>(first.value);
  EXPECT_NE(path.back(), '\\');

  std::ofstream(folder_ / L"settings.json") << "{\"kept\":true}";
  fs::create_directory(folder_ / L"cache");
  Answer second = Ask();
  EXPECT_EQ(second.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(second.value, first.value);
  std::ifstream settings(folder_ / L"settings.json");
  std::string content;
  std::getline(settings, content);
  EXPECT_EQ(content, "{\"kept\":true}");
  EXPECT_TRUE(fs::is_directory(folder_ / L"cache"));
}

TEST_F(AppStorageTest, PlainFileOfThatNameStillAnswersThePath) {
  std::ofstream(folder_) << "not a folder";
  Answer answer = Ask();
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, EncodableValue(Utf8(folder_.wstring())));
  EXPECT_TRUE(fs::is_regular_file(folder_));
}

TEST_F(AppStorageTest, OtherNamesCreateNothingAndAreNotImplemented) {
  for (const char* name : {"ApplicationSupportDirectory",
                           "applicationDocumentsDirectory", "", "path"}) {
    EXPECT_EQ(harness_.Call(kChannel, name).kind, Answer::Kind::kNotImplemented)
        << name;
  }
  EXPECT_FALSE(fs::exists(folder_));
}

}  // namespace
}  // namespace orvalin::testing
