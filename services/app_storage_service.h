// "orvalin.ai/app_storage": the per-user data folder "Orvalin AI" inside
// LocalAppData, created on demand.
#ifndef SERVICES_APP_STORAGE_SERVICE_H_
#define SERVICES_APP_STORAGE_SERVICE_H_

#include <string>

#include "services/service_helpers.h"

namespace orvalin {

inline constexpr ServiceError kAppStorageUnavailable = {
    "app_storage_unavailable", "Failed to resolve LocalAppData path"};

void RegisterAppStorageChannel(flutter::BinaryMessenger* messenger);
void HandleAppStorageCall(const Call& call, Result result);

// The folder's path, after trying to create it; empty when LocalAppData
// cannot be resolved.
std::wstring ResolveAppDataDirectory();

}  // namespace orvalin

#endif  // SERVICES_APP_STORAGE_SERVICE_H_
