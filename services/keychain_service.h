// "orvalin.ai/keychain": small secret strings in the user's credential vault,
// one generic credential per key.
#ifndef SERVICES_KEYCHAIN_SERVICE_H_
#define SERVICES_KEYCHAIN_SERVICE_H_

#include <string>

#include "client/encodable_value.h"
#include "services/service_helpers.h"

namespace orvalin {

inline constexpr wchar_t kCredentialTargetPrefix[] =
    L"com.orvalin.ai.desktop.windows/";

void RegisterKeychainChannel(flutter::BinaryMessenger* messenger);
void HandleKeychainCall(const Call& call, Result result);

// The credential's target name for |key| (UTF-8).
std::wstring MakeCredentialTarget(const std::string& key);
// The stored value as a string, or null when it cannot be read.
flutter::EncodableValue ReadCredential(const std::string& key);

}  // namespace orvalin

#endif  // SERVICES_KEYCHAIN_SERVICE_H_
