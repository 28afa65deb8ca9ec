// "orvalin.ai/profile_image": the user picks a PNG or JPEG of at most 10 MB
// in the file-open dialog; its bytes and type go to the Dart side.
#ifndef SERVICES_PROFILE_IMAGE_SERVICE_H_
#define SERVICES_PROFILE_IMAGE_SERVICE_H_

#include <cstdint>
#include <string>
#include <vector>

#include "services/service_helpers.h"
#include "win/windows.h"

namespace orvalin {

inline constexpr int64_t kMaxProfileImageBytes = 10 * 1024 * 1024;

inline constexpr ServiceError kProfileImageReadFailed = {
    "profile_image_read_failed", "이미지 파일을 읽지 못했습니다. (최대 10MB)"};

struct PickedImageFile {
  std::wstring path;
  // Lower case, after the path's last "."; empty without one.
  std::wstring extension;
};

// |owner| owns every dialog this channel shows.
void RegisterProfileImageChannel(flutter::BinaryMessenger* messenger,
                                 HWND owner);
void HandleProfileImageCall(HWND owner, const Call& call, Result result);

// True when a file was chosen.
bool ShowImageOpenDialog(HWND owner, PickedImageFile* picked);
// The whole file within the size limit; false when it cannot be opened,
// measured or read whole, or is too large.
bool ReadFileBytes(const std::wstring& path, std::vector<uint8_t>* bytes);

}  // namespace orvalin

#endif  // SERVICES_PROFILE_IMAGE_SERVICE_H_
