// "orvalin.ai/audio_player": one recording at a time through the media
// control interface, under a single process-wide MCI alias.
#ifndef SERVICES_AUDIO_PLAYER_SERVICE_H_
#define SERVICES_AUDIO_PLAYER_SERVICE_H_

#include "services/service_helpers.h"

namespace orvalin {

inline constexpr wchar_t kAudioAlias[] = L"orvalin_audio";

void RegisterAudioPlayerChannel(flutter::BinaryMessenger* messenger);
void HandleAudioPlayerCall(const Call& call, Result result);

}  // namespace orvalin

#endif  // SERVICES_AUDIO_PLAYER_SERVICE_H_
