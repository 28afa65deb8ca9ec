// Registers the product's seven service channels in their fixed order.
#ifndef SERVICES_SERVICE_CHANNELS_H_
#define SERVICES_SERVICE_CHANNELS_H_

#include "client/binary_messenger.h"
#include "win/windows.h"

namespace orvalin {

// Keychain, app storage, profile image (owned by |window|), auth callback,
// auth session, audio player, PDF export.
void RegisterServiceChannels(flutter::BinaryMessenger* messenger, HWND window);

}  // namespace orvalin

#endif  // SERVICES_SERVICE_CHANNELS_H_
