// "orvalin.ai/audio_player": one recording at a time through the media
// control interface, under a single process-wide MCI alias.
#ifndef SERVICES_AUDIO_PLAYER_SERVICE_H_
#define SERVICES_AUDIO_PLAYER_SERVICE_H_

#include "services/service_helpers.h"

namespace orvalin {

inline constexpr wchar_t kAudioAlias[] = L"orvalin_audio";

inline constexpr char kInvalidAudioUrl[] = "invalid_audio_url";
inline constexpr ServiceError kAudioUrlUnusable = {
    kInvalidAudioUrl, "재생할 녹음 주소를 확인하지 못했습니다."};
inline constexpr ServiceError kAudioUrlRequired = {kInvalidAudioUrl,
                                                   "url required"};
inline constexpr ServiceError kAudioUrlEmpty = {kInvalidAudioUrl, "url empty"};
inline constexpr ServiceError kAudioLoadFailed = {
    "audio_load_failed", "오디오를 불러오지 못했습니다."};

void RegisterAudioPlayerChannel(flutter::BinaryMessenger* messenger);
void HandleAudioPlayerCall(const Call& call, Result result);

}  // namespace orvalin

#endif  // SERVICES_AUDIO_PLAYER_SERVICE_H_
