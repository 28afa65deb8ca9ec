#include "services/keychain_service.h"

#include <memory>
#include <utility>

#include "win/windows.h"

namespace orvalin {
namespace {

struct CredentialDeleter {
  void operator()(CREDENTIALW* credential) const { CredFree(credential); }
};
using UniqueCredential = std::unique_ptr<CREDENTIALW, CredentialDeleter>;

// The "key" argument, or null when it is missing, no string, or holds a NUL:
// the vault reads the target name up to its first NUL, so "a\0b" would name
// the entry of "a".
const std::string* FindKey(const flutter::EncodableValue* arguments) {
  const std::string* key = FindStringArgument(arguments, "key");
  if (key == nullptr || key->find('\0') != std::string::npos) {
    return nullptr;
  }
  return key;
}

bool WriteCredential(const std::string& key, const std::string& value) {
  std::wstring target = MakeCredentialTarget(key);
  if (!FitsCredentialLimits(target, value.size())) {
    return false;
  }
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = target.data();
  credential.CredentialBlobSize = static_cast<DWORD>(value.size());
  // The vault copies the blob; it never writes through this pointer.
  credential.CredentialBlob =
      reinterpret_cast<BYTE*>(const_cast<char*>(value.data()));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  return CredWriteW(&credential, 0) != FALSE;
}

bool DeleteCredential(const std::string& key) {
  std::wstring target = MakeCredentialTarget(key);
  if (!FitsCredentialLimits(target, 0)) {
    return true;  // no such entry can exist
  }
  if (CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0)) {
    return true;
  }
  return GetLastError() == ERROR_NOT_FOUND;
}

}  // namespace

std::wstring MakeCredentialTarget(const std::string& key) {
  return kCredentialTargetPrefix + Utf8ToWide(key);
}

bool FitsCredentialLimits(const std::wstring& target, size_t blob_bytes) {
  return target.size() <= kMaxCredentialTargetLength &&
         blob_bytes <= kMaxCredentialBlobBytes;
}

flutter::EncodableValue ReadCredential(const std::string& key) {
  std::wstring target = MakeCredentialTarget(key);
  if (!FitsCredentialLimits(target, 0)) {
    return flutter::EncodableValue();
  }
  CREDENTIALW* raw = nullptr;
  if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
    return flutter::EncodableValue();
  }
  UniqueCredential credential(raw);
  if (credential->CredentialBlob == nullptr ||
      credential->CredentialBlobSize == 0) {
    return flutter::EncodableValue(std::string());
  }
  return flutter::EncodableValue(
      std::string(reinterpret_cast<const char*>(credential->CredentialBlob),
                  credential->CredentialBlobSize));
}

void HandleKeychainCall(const Call& call, Result result) {
  const std::string& method = call.MethodName();
  const flutter::EncodableValue* arguments = call.Arguments();
  if (method == "read") {
    const std::string* key = FindKey(arguments);
    if (key == nullptr) {
      AnswerError(result, kKeyRequired);
      return;
    }
    result->Success(ReadCredential(*key));
  } else if (method == "write") {
    const std::string* key = FindKey(arguments);
    const std::string* value = FindStringArgument(arguments, "value");
    if (key == nullptr || value == nullptr) {
      AnswerError(result, kKeyValueRequired);
      return;
    }
    result->Success(flutter::EncodableValue(WriteCredential(*key, *value)));
  } else if (method == "delete") {
    const std::string* key = FindKey(arguments);
    if (key == nullptr) {
      AnswerError(result, kKeyRequired);
      return;
    }
    result->Success(flutter::EncodableValue(DeleteCredential(*key)));
  } else {
    result->NotImplemented();
  }
}

void RegisterKeychainChannel(flutter::BinaryMessenger* messenger) {
  std::shared_ptr<Channel> channel =
      MakeServiceChannel(messenger, "orvalin.ai/keychain");
  // The handler keeps the channel object alive as long as it is installed.
  channel->SetCallHandler([channel](const Call& call, Result result) {
    HandleKeychainCall(call, std::move(result));
  });
}

}  // namespace orvalin
