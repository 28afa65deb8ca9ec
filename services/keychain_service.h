// "orvalin.ai/keychain": secret strings in the user's credential vault. A
// value that fits one secret is one generic credential; a larger one, up to
// kMaxKeychainValueBytes, is a manifest under the key's name and parts under
// names of their own (services/keychain_internal.h).
#ifndef SERVICES_KEYCHAIN_SERVICE_H_
#define SERVICES_KEYCHAIN_SERVICE_H_

#include <cstddef>
#include <string>

#include "client/encodable_value.h"
#include "services/service_helpers.h"

namespace orvalin {

inline constexpr wchar_t kCredentialTargetPrefix[] =
    L"com.orvalin.ai.desktop.windows/";

// What Windows accepts for one generic credential (Windows 7 and later; the
// MinGW header still has the older 512-byte blob limit). Checked here, since
// other vaults (Wine's) accept larger secrets.
inline constexpr size_t kMaxCredentialBlobBytes = 5 * 512;
inline constexpr size_t kMaxCredentialTargetLength = 32767;  // UTF-16 units
// The largest value "write" stores (26 parts); larger ones answer false.
inline constexpr size_t kMaxKeychainValueBytes = 64 * 1024;

inline constexpr char kKeychainBadArgs[] = "bad_args";
inline constexpr ServiceError kKeyRequired = {kKeychainBadArgs, "key required"};
inline constexpr ServiceError kKeyValueRequired = {kKeychainBadArgs,
                                                   "key+value required"};

void RegisterKeychainChannel(flutter::BinaryMessenger* messenger);
void HandleKeychainCall(const Call& call, Result result);

// The credential's target name for |key| (UTF-8).
std::wstring MakeCredentialTarget(const std::string& key);
// The stored value as a string, or null when it cannot be read.
flutter::EncodableValue ReadCredential(const std::string& key);
// True when a credential with |target| and a secret of |blob_bytes| is within
// Windows' limits.
bool FitsCredentialLimits(const std::wstring& target, size_t blob_bytes);

}  // namespace orvalin

#endif  // SERVICES_KEYCHAIN_SERVICE_H_
