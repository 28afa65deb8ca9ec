// The one replaceable piece of the audio player: the MCI string interface.
#ifndef SERVICES_AUDIO_PLAYER_INTERNAL_H_
#define SERVICES_AUDIO_PLAYER_INTERNAL_H_

#include "win/windows.h"

namespace orvalin {

// Sends one MCI command string; |buffer| (|buffer_size| UTF-16 units) gets
// the reply, or is null with size 0. Returns the MCI error, 0 on success.
using MciCommandSender = DWORD (*)(const wchar_t* command, wchar_t* buffer,
                                   UINT buffer_size);

// mciSendStringW without a notification window, as production uses it.
DWORD SendMciString(const wchar_t* command, wchar_t* buffer, UINT buffer_size);

// Replaces the sender (tests only); null restores MCI. Returns the sender it
// replaced.
MciCommandSender SetMciCommandSender(MciCommandSender sender);

}  // namespace orvalin

#endif  // SERVICES_AUDIO_PLAYER_INTERNAL_H_
