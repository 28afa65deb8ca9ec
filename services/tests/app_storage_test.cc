// The storage channel against the prefix's real LocalAppData. The prefix is
// shared with other tests and the application, so whatever stood at
// "Orvalin AI" before is moved aside and put back afterwards.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>

#include "services/app_storage_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

namespace fs = std::filesystem;

// The user's LocalAppData folder as the environment names it.
const fs::path kLocalAppData = _wgetenv(L"LOCALAPPDATA");

class AppStorageTest : public ::testing::Test {
 protected:
  AppStorageTest() {
    RegisterAppStorageChannel(harness_.messenger());
    std::error_code error;
    fs::rename(folder_, aside_, error);
    moved_aside_ = !error;
  }
  ~AppStorageTest() override {
    std::error_code error;
    fs::remove_all(folder_, error);
    if (moved_aside_) fs::rename(aside_, folder_, error);
  }

  Answer Ask(const char* method = "applicationSupportDirectory") {
    return harness_.Call("orvalin.ai/app_storage", method);
  }

  ChannelHarness harness_;
  const fs::path folder_ = kLocalAppData / L"Orvalin AI";
  const fs::path aside_ = kLocalAppData / L"Orvalin AI.aside";
  // The path as the Dart side gets it, converted by the standard library.
  const EncodableValue expected_ = EncodableValue(folder_.u8string());
  bool moved_aside_ = false;
};

TEST_F(AppStorageTest,
       CreatesTheFolderOnceAndAnswersItsPathWhateverStandsThere) {
  EXPECT_EQ(Ask("ApplicationSupportDirectory").kind,
            Answer::Kind::kNotImplemented);
  ASSERT_FALSE(fs::exists(folder_));
  ExpectSuccess(Ask(), expected_);
  EXPECT_TRUE(fs::is_directory(folder_));

  std::ofstream(folder_ / L"settings.json") << "kept";
  ExpectSuccess(Ask(), expected_);
  std::string content;
  std::ifstream(folder_ / L"settings.json") >> content;
  EXPECT_EQ(content, "kept");

  // A plain file of that name still gets the path.
  fs::remove_all(folder_);
  std::ofstream(folder_) << "not a folder";
  ExpectSuccess(Ask(), expected_);
  EXPECT_TRUE(fs::is_regular_file(folder_));
}

}  // namespace
}  // namespace orvalin::testing
