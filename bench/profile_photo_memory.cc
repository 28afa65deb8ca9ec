// Peak memory of answering "pickProfileImage" with a 10 MiB file, as a
// multiple of the file size. The profile image channel runs over the
// recording fake of the embedding; the dialog seam names a file written
// here. The fake keeps a copy of the answer, as the engine copies it.
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "client/binary_messenger_impl.h"
#include "client/method_call.h"
#include "client/standard_method_codec.h"
#include "client/testing/fake_messenger.h"
#include "services/profile_image_internal.h"
#include "services/profile_image_service.h"
#include "win/unique_handle.h"
#include "win/windows.h"

namespace {

constexpr char kChannel[] = "orvalin.ai/profile_image";
constexpr size_t kFileBytes = 10 * 1024 * 1024;

std::wstring g_photo_path;

std::wstring ChoosePhoto(HWND) { return g_photo_path; }

// Written in small pieces, so that making the file raises no peak.
bool WritePhoto(const std::wstring& path) {
  const orvalin::win::KernelHandle file(
      CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                  FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file) return false;
  std::vector<uint8_t> chunk(64 * 1024);
  bool ok = true;
  for (size_t written = 0; ok && written < kFileBytes;
       written += chunk.size()) {
    for (size_t i = 0; i < chunk.size(); ++i) {
      chunk[i] = static_cast<uint8_t>((written + i) * 131 % 251);
    }
    DWORD done = 0;
    ok = WriteFile(file.Get(), chunk.data(), static_cast<DWORD>(chunk.size()),
                   &done, nullptr) &&
         done == chunk.size();
  }
  return ok;
}

PROCESS_MEMORY_COUNTERS_EX Counters() {
  PROCESS_MEMORY_COUNTERS_EX counters{};
  counters.cb = sizeof(counters);
  GetProcessMemoryInfo(GetCurrentProcess(),
                       reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                       sizeof(counters));
  return counters;
}

double Multiple(size_t peak, size_t baseline) {
  return peak > baseline ? static_cast<double>(peak - baseline) / kFileBytes
                         : 0.0;
}

// The answer must be the whole file in a success envelope, or the figure
// would measure a failure path.
bool AnswerHoldsFile(const std::optional<std::vector<uint8_t>>& answer) {
  return answer && answer->size() > kFileBytes && (*answer)[0] == 0;
}

}  // namespace

int wmain() {
  wchar_t folder[MAX_PATH];
  if (GetTempPathW(MAX_PATH, folder) == 0) return 2;
  g_photo_path = std::wstring(folder) + L"orvalin_bench_photo.png";
  if (!WritePhoto(g_photo_path)) {
    std::fprintf(stderr, "cannot write the photo file\n");
    return 2;
  }

  flutter::testing::FakeMessenger fake;
  flutter::BinaryMessengerImpl messenger(fake.ref());
  orvalin::SetImageDialogRunner(&ChoosePhoto);
  orvalin::RegisterProfileImageChannel(&messenger, nullptr);
  flutter::MethodCall<flutter::EncodableValue> call("pickProfileImage",
                                                    nullptr);
  std::unique_ptr<std::vector<uint8_t>> message =
      flutter::StandardMethodCodec::Instance(nullptr).EncodeCall(call);

  const PROCESS_MEMORY_COUNTERS_EX before = Counters();
  const uint64_t token = fake.Deliver(kChannel, *message);
  const PROCESS_MEMORY_COUNTERS_EX after = Counters();
  DeleteFileW(g_photo_path.c_str());
  if (!AnswerHoldsFile(fake.ResponseFor(token))) {
    std::fprintf(stderr, "the channel did not answer with the file\n");
    return 1;
  }

  // Baselines are the current figures before the call; the peaks before
  // it stayed at about the same level, since the file was written in
  // small pieces.
  std::printf("file_bytes %zu\n", kFileBytes);
  std::printf(
      "private_baseline %zu peak_before %zu peak_after %zu current_after "
      "%zu\n",
      static_cast<size_t>(before.PagefileUsage),
      static_cast<size_t>(before.PeakPagefileUsage),
      static_cast<size_t>(after.PeakPagefileUsage),
      static_cast<size_t>(after.PagefileUsage));
  std::printf("working_set_baseline %zu peak_before %zu peak_after %zu\n",
              static_cast<size_t>(before.WorkingSetSize),
              static_cast<size_t>(before.PeakWorkingSetSize),
              static_cast<size_t>(after.PeakWorkingSetSize));
  // Wine answers PeakPagefileUsage with the current private bytes, so
  // there the working set's high-water mark (the kernel's) is the peak.
  if (after.PeakPagefileUsage == after.PagefileUsage) {
    std::printf(
        "note: PeakPagefileUsage equals the current usage here "
        "(Wine keeps no peak); use the working-set figure\n");
  }
  std::printf("peak_private_multiple %.2f\n",
              Multiple(after.PeakPagefileUsage, before.PagefileUsage));
  std::printf("peak_working_set_multiple %.2f\n",
              Multiple(after.PeakWorkingSetSize, before.WorkingSetSize));
  return 0;
}
