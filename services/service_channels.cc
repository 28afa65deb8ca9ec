#include "services/service_channels.h"

#include "services/app_storage_service.h"
#include "services/audio_player_service.h"
#include "services/auth_callback_relay.h"
#include "services/auth_session_service.h"
#include "services/keychain_service.h"
#include "services/pdf_export_service.h"
#include "services/profile_image_service.h"

namespace orvalin {

void RegisterServiceChannels(flutter::BinaryMessenger* messenger, HWND window) {
  RegisterKeychainChannel(messenger);
  RegisterAppStorageChannel(messenger);
  RegisterProfileImageChannel(messenger, window);
  RegisterAuthCallbackChannel(messenger);
  RegisterAuthSessionChannel(messenger);
  RegisterAudioPlayerChannel(messenger);
  RegisterPdfExportChannel(messenger);
}

}  // namespace orvalin
