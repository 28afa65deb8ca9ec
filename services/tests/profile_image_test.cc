// The profile image channel: file reading and typing through the dialog
// seam, and once through the real file dialog driven under Xvfb.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <system_error>
#include <vector>

#include "services/profile_image_internal.h"
#include "services/profile_image_service.h"
#include "services/tests/channel_harness.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/profile_image";
const HWND kOwner = reinterpret_cast<HWND>(static_cast<intptr_t>(0x4242));

// What the fake dialog answers and the owner it was shown with.
std::wstring g_dialog_answer;
HWND g_dialog_owner = nullptr;

std::wstring FakeDialog(HWND owner) {
  g_dialog_owner = owner;
  return g_dialog_answer;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  std::iota(bytes.begin(), bytes.end(), uint8_t{7});  // wraps at 256
  return bytes;
}

EncodableValue ImageMap(std::vector<uint8_t> bytes, bool png) {
  return Map({{"bytes", EncodableValue(std::move(bytes))},
              {"contentType", EncodableValue(png ? "image/png" : "image/jpeg")},
              {"extension", EncodableValue(png ? "png" : "jpg")}});
}

class ProfileImageTest : public ::testing::Test {
 protected:
  ProfileImageTest() {
    previous_ = SetImageDialogRunner(&FakeDialog);
    RegisterProfileImageChannel(harness_.messenger(), kOwner);
    std::filesystem::create_directories(dir_);
  }
  ~ProfileImageTest() override {
    SetImageDialogRunner(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }

  // Writes |bytes| to |name| in the test's folder; returns the full path.
  std::wstring Write(const std::wstring& name,
                     const std::vector<uint8_t>& bytes) {
    std::ofstream(std::filesystem::path(dir_ + L"\\" + name), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    return dir_ + L"\\" + name;
  }

  Answer Pick(const std::wstring& chosen) {
    g_dialog_answer = chosen;
    g_dialog_owner = nullptr;
    return harness_.Call(kChannel, "pickProfileImage");
  }

  ChannelHarness harness_;
  const std::wstring dir_ =
      (std::filesystem::temp_directory_path() /
       (L"orvalin-profile-" + std::to_wstring(GetCurrentProcessId())))
          .wstring();
  ImageDialogRunner previous_ = nullptr;
};

TEST_F(ProfileImageTest, ReadsWholeFilesUpToTenMebibytesAndCancelIsNull) {
  ExpectSuccess(Pick(L""));
  EXPECT_EQ(g_dialog_owner, kOwner);
  const std::vector<uint8_t> at_limit = Pattern(10485760);
  EXPECT_TRUE(Pick(Write(L"limit.png", at_limit)).value ==
              ImageMap(at_limit, true));
  ExpectError(Pick(Write(L"over.png", Pattern(10485761))),
              kProfileImageReadFailed);
  ExpectSuccess(Pick(Write(L"empty.png", {})), ImageMap({}, true));
  ExpectError(Pick(dir_ + L"\\gone.png"), kProfileImageReadFailed);
  ExpectError(Pick(dir_), kProfileImageReadFailed);  // a folder

  // Another opener holding the file open for writing does not stop the read.
  const std::wstring busy = Write(L"busy.jpg", {1, 2, 3});
  win::KernelHandle writer(CreateFileW(
      busy.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  ASSERT_TRUE(writer.IsValid());
  ExpectSuccess(Pick(busy), ImageMap({1, 2, 3}, false));
}

TEST_F(ProfileImageTest, TypeFollowsTheLowerCasedTextAfterTheLastDot) {
  const std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G'};
  ASSERT_TRUE(CreateDirectoryW((dir_ + L"\\shots.png").c_str(), nullptr));
  // The contents are never inspected: PNG bytes named otherwise are a JPEG.
  for (const auto& [name, png] : std::vector<std::pair<const wchar_t*, bool>>{
           {L"PHOTO.PNG", true},
           {L"photo.jpeg", false},
           {L"photo", false},
           {L"photo.png.bak", false},
           // A dot in the folder name is not the file type.
           {L"shots.png\\avatar", false}}) {
    ExpectSuccess(Pick(Write(name, bytes)), ImageMap(bytes, png));
  }
}

TEST_F(ProfileImageTest, RealDialogReturnsTheTypedFilesBytes) {
  SetImageDialogRunner(nullptr);  // the system's dialog
  RegisterProfileImageChannel(harness_.messenger(), nullptr);
  const std::vector<uint8_t> bytes = Pattern(4096);
  const std::wstring path = Write(L"chosen.png", bytes);
  // A Unix script waits for the dialog, types the path and presses Return;
  // should the dialog stay open, Escape ends it so the test fails, not hangs.
  const std::wstring script =
      L"/tmp/orvalin-dialog-" + std::to_wstring(GetCurrentProcessId()) + L".sh";
  std::ofstream(std::filesystem::path(L"Z:" + script), std::ios::binary)
      << "dlg() { xdotool search --name '프로필 사진 선택' 2>/dev/null | tail "
         "-n 1; }\n"
         "for i in $(seq 150); do id=$(dlg); [ -n \"$id\" ] && break; "
         "sleep 0.2; done\n"
         "sleep 1; xdotool windowfocus --sync \"$id\"\n"
         "xdotool type --window \"$id\" '"
      << std::filesystem::path(path).u8string()
      << "'\nxdotool key --window \"$id\" Return\n"
         "for i in $(seq 50); do [ -z \"$(dlg)\" ] && exit 0; sleep 0.2; "
         "done\nxdotool key --window \"$id\" Escape\n";
  std::wstring command = L"/bin/sh " + script;
  STARTUPINFOW startup{sizeof(startup)};
  PROCESS_INFORMATION process{};
  // Wine starts a Unix program as a Unix process of its own.
  ASSERT_TRUE(CreateProcessW(L"Z:\\bin\\sh", command.data(), nullptr, nullptr,
                             FALSE, 0, nullptr, nullptr, &startup, &process));
  win::KernelHandle thread(process.hThread), child(process.hProcess);

  Answer answer = harness_.Call(kChannel, "pickProfileImage");
  DeleteFileW((L"Z:" + script).c_str());
  ExpectSuccess(answer, ImageMap(bytes, true));
}

}  // namespace
}  // namespace orvalin::testing
