// The profile image channel: file reading and typing through the dialog
// seam, and once through the real file dialog driven under Xvfb.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "services/profile_image_internal.h"
#include "services/profile_image_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/profile_image";
constexpr char kReadFailed[] = "이미지 파일을 읽지 못했습니다. (최대 10MB)";
const HWND kOwner = reinterpret_cast<HWND>(static_cast<intptr_t>(0x4242));

// What the fake dialog answers and what it was shown with.
std::wstring g_dialog_answer;
HWND g_dialog_owner = nullptr;
int g_dialog_runs = 0;

std::wstring FakeDialog(HWND owner) {
  ++g_dialog_runs;
  g_dialog_owner = owner;
  return g_dialog_answer;
}

std::vector<uint8_t> Pattern(size_t size) {
  std::vector<uint8_t> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<uint8_t>((i * 131 + 7) % 251);
  }
  return bytes;
}

class ProfileImageTest : public ::testing::Test {
 protected:
  ProfileImageTest() {
    previous_ = SetImageDialogRunner(&FakeDialog);
    g_dialog_answer.clear();
    g_dialog_owner = nullptr;
    g_dialog_runs = 0;
    RegisterProfileImageChannel(harness_.messenger(), kOwner);
  }
  ~ProfileImageTest() override { SetImageDialogRunner(previous_); }

  Answer Pick(const std::wstring& chosen) {
    g_dialog_answer = chosen;
    return harness_.Call(kChannel, "pickProfileImage");
  }

  ChannelHarness harness_;
  TempDir dir_;
  ImageDialogRunner previous_ = nullptr;
};

EncodableValue ImageMap(std::vector<uint8_t> bytes, bool png) {
  return Map({{"bytes", EncodableValue(std::move(bytes))},
              {"contentType", EncodableValue(png ? "image/png" : "image/jpeg")},
              {"extension", EncodableValue(png ? "png" : "jpg")}});
}

void ExpectReadFailed(const Answer& answer) {
  ExpectError(answer, "profile_image_read_failed", kReadFailed);
}

TEST_F(ProfileImageTest, CancelledDialogAnswersNull) {
  Answer answer = Pick(L"");
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_TRUE(answer.value.IsNull());
  EXPECT_EQ(g_dialog_runs, 1);
  EXPECT_EQ(g_dialog_owner, kOwner);
}

TEST_F(ProfileImageTest, SizeLimitIsTenMebibytesInclusive) {
  const std::vector<uint8_t> at_limit = Pattern(10485760);
  Answer whole = Pick(dir_.Write(L"limit.png", at_limit));
  ASSERT_EQ(whole.kind, Answer::Kind::kSuccess);
  EXPECT_TRUE(whole.value == ImageMap(at_limit, true))
      << "the file at the limit must come back whole";

  ExpectReadFailed(Pick(dir_.Write(L"over.png", Pattern(10485761))));
}

TEST_F(ProfileImageTest, EmptyFileAnswersAnEmptyByteList) {
  Answer answer = Pick(dir_.Write(L"empty.png", {}));
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, ImageMap({}, true));
}

TEST_F(ProfileImageTest, MissingFileOrFolderIsAReadFailure) {
  ExpectReadFailed(Pick(dir_.path() + L"\\gone.png"));
  // A folder opens as no file either.
  ExpectReadFailed(Pick(dir_.path()));
}

TEST_F(ProfileImageTest, FileHeldOpenForWritingByAnotherOpenerIsStillRead) {
  const std::wstring path = dir_.Write(L"busy.jpg", {1, 2, 3});
  HANDLE writer = CreateFileW(path.c_str(), GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);
  Answer answer = Pick(path);
  CloseHandle(writer);
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, ImageMap({1, 2, 3}, false));
}

TEST_F(ProfileImageTest, TypeFollowsTheLowerCasedTextAfterTheLastDot) {
  const std::vector<uint8_t> bytes = {0x89, 'P', 'N', 'G'};
  ASSERT_TRUE(
      CreateDirectoryW((dir_.path() + L"\\shots.png").c_str(), nullptr));
  // The contents are never inspected: PNG bytes named .gif are a JPEG.
  for (const auto& [name, png] : std::vector<std::pair<const wchar_t*, bool>>{
           {L"PHOTO.PNG", true},
           {L"photo.jpeg", false},
           {L"photo.JPG", false},
           {L"photo.gif", false},
           {L"photo", false},
           {L"photo.png.bak", false},
           // A dot in the folder name is not the file type.
           {L"shots.png\\avatar", false}}) {
    EXPECT_EQ(Pick(dir_.Write(name, bytes)).value, ImageMap(bytes, png))
        << Utf8(name);
  }
}

TEST_F(ProfileImageTest, OtherNamesOpenNoDialogAndAreNotImplemented) {
  g_dialog_answer = dir_.Write(L"never.png", {1});
  for (const char* name : {"PickProfileImage", "pickImage", ""}) {
    EXPECT_EQ(harness_.Call(kChannel, name).kind, Answer::Kind::kNotImplemented)
        << name;
  }
  EXPECT_EQ(g_dialog_runs, 0);
}

// Starts a Unix shell script that waits for the dialog, types |typed| into
// it and presses Return; if the dialog is still open afterwards it presses
// Escape so the test fails instead of hanging.
bool StartDialogDriver(const std::wstring& unix_script,
                       const std::string& typed) {
  const std::wstring script_path = L"Z:" + unix_script;
  std::ofstream script(std::filesystem::path(script_path), std::ios::binary);
  script
      << "#!/bin/sh\n"
         "find_dialog() {\n"
         "  xdotool search --name '프로필 사진 선택' 2>/dev/null | tail -n 1\n"
         "}\n"
         "id=\n"
         "for i in $(seq 150); do\n"
         "  id=$(find_dialog); [ -n \"$id\" ] && break; sleep 0.2\n"
         "done\n"
         "[ -n \"$id\" ] || exit 1\n"
         "sleep 1\n"
         "xdotool windowfocus --sync \"$id\"\n"
         "xdotool type --window \"$id\" '"
      << typed
      << "'\n"
         "xdotool key --window \"$id\" Return\n"
         "for i in $(seq 50); do\n"
         "  [ -z \"$(find_dialog)\" ] && exit 0; sleep 0.2\n"
         "done\n"
         "xdotool key --window \"$id\" Escape\n"
         "exit 1\n";
  script.close();
  if (!script) {
    return false;
  }
  std::wstring command = L"/bin/sh " + unix_script;
  std::wstring application = L"Z:\\bin\\sh";
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  // Wine starts a Unix program as a Unix process of its own.
  if (!CreateProcessW(application.c_str(), command.data(), nullptr, nullptr,
                      FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return false;
  }
  if (process.hThread != nullptr) CloseHandle(process.hThread);
  if (process.hProcess != nullptr) CloseHandle(process.hProcess);
  return true;
}

TEST(ProfileImageDialogTest, RealDialogReturnsTheTypedFilesBytes) {
  // Without the driver nothing would ever close the modal dialog.
  if (GetFileAttributesW(L"Z:\\usr\\bin\\xdotool") == INVALID_FILE_ATTRIBUTES) {
    GTEST_SKIP() << "xdotool is not installed";
  }
  ChannelHarness harness;
  RegisterProfileImageChannel(harness.messenger(), nullptr);
  TempDir dir;
  const std::vector<uint8_t> bytes = Pattern(4096);
  const std::wstring path = dir.Write(L"chosen.png", bytes);
  const std::wstring script =
      L"/tmp/orvalin-dialog-" + std::to_wstring(GetCurrentProcessId()) + L".sh";
  ASSERT_TRUE(StartDialogDriver(script, Utf8(path)));

  Answer answer = harness.Call(kChannel, "pickProfileImage");
  DeleteFileW((L"Z:" + script).c_str());
  ASSERT_EQ(answer.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(answer.value, ImageMap(bytes, true));
}

}  // namespace
}  // namespace orvalin::testing
