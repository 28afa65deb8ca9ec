#include "services/keychain_service.h"

#include <algorithm>
#include <cstdint>
#include <memory>
#include <optional>
#include <utility>

#include "services/keychain_internal.h"
#include "win/sha256.h"
#include "win/windows.h"

namespace orvalin {
namespace {

struct CredentialDeleter {
  void operator()(CREDENTIALW* credential) const {
    WipeCredentialBlob(credential);
    CredFree(credential);
  }
};
using UniqueCredential = std::unique_ptr<CREDENTIALW, CredentialDeleter>;
struct CredentialListDeleter {
  void operator()(CREDENTIALW** list) const { CredFree(list); }
};
using UniqueCredentialList =
    std::unique_ptr<CREDENTIALW*, CredentialListDeleter>;

class SystemVault : public Vault {
 public:
  Status Read(const std::wstring& target, std::string* secret,
              std::wstring* comment) override {
    CREDENTIALW* raw = nullptr;
    if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
      return GetLastError() == ERROR_NOT_FOUND ? Status::kNotFound
                                               : Status::kFailed;
    }
    UniqueCredential credential(raw);
    WipeSecret(secret);  // assign may move to a larger buffer
    if (credential->CredentialBlob != nullptr) {
      secret->assign(reinterpret_cast<const char*>(credential->CredentialBlob),
                     credential->CredentialBlobSize);
    }
    comment->assign(credential->Comment ? credential->Comment : L"");
    return Status::kOk;
  }

  bool Write(const std::wstring& target, const std::string& secret,
             const wchar_t* comment) override {
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    // The vault copies every field; it never writes through these pointers.
    credential.TargetName = const_cast<wchar_t*>(target.c_str());
    credential.Comment = const_cast<wchar_t*>(comment);
    credential.CredentialBlobSize = static_cast<DWORD>(secret.size());
    credential.CredentialBlob =
        reinterpret_cast<BYTE*>(const_cast<char*>(secret.data()));
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    return CredWriteW(&credential, 0) != FALSE;
  }

  Status Delete(const std::wstring& target) override {
    if (CredDeleteW(target.c_str(), CRED_TYPE_GENERIC, 0)) {
      return Status::kOk;
    }
    return GetLastError() == ERROR_NOT_FOUND ? Status::kNotFound
                                             : Status::kFailed;
  }

  bool List(const std::wstring& prefix,
            std::vector<std::wstring>* targets) override {
    // A filter is a name prefix and one "*"; a "*" inside the prefix would
    // not be taken literally, so the filter stops before it.
    std::wstring filter = prefix.substr(0, prefix.find(L'*')) + L"*";
    DWORD count = 0;
    CREDENTIALW** raw = nullptr;
    targets->clear();
    if (!CredEnumerateW(filter.c_str(), 0, &count, &raw)) {
      return GetLastError() == ERROR_NOT_FOUND;
    }
    UniqueCredentialList list(raw);
    for (DWORD i = 0; i < count; ++i) {
      const CREDENTIALW* credential = list.get()[i];
      if (credential->Type != CRED_TYPE_GENERIC ||
          credential->TargetName == nullptr) {
        continue;
      }
      std::wstring name(credential->TargetName);
      if (name.size() >= prefix.size() &&
          CompareStringOrdinal(name.c_str(), static_cast<int>(prefix.size()),
                               prefix.c_str(), static_cast<int>(prefix.size()),
                               TRUE) == CSTR_EQUAL) {
        targets->push_back(std::move(name));
      }
    }
    return true;
  }
};

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

// Part names are the part prefix, the key, "/", then a fixed-length suffix
// "GGGGGGGG/II" (generation and index, upper-case hex). They cannot collide:
// - with any key's entry, whose name begins with kCredentialTargetPrefix:
//   the two prefixes differ at a character with no other case ('.', '/'),
//   so no part name begins with the entry prefix, case ignored;
// - with another key's parts: the suffix has a fixed length, so two equal
//   names (the vault ignores case, one UTF-16 unit against one) have keys of
//   one length that are equal case ignored, which is the test the vault
//   applies to the keys' entries too: they are one entry, one key. Keys
//   like "k/1", "k#1" or "k" + a whole suffix only give longer names.
constexpr size_t kPartSuffixLength = 11;

std::wstring PartPrefix(const std::string& key) {
  return kCredentialPartPrefix + Utf8ToWide(key) + L"/";
}

void AppendHex(uint32_t number, int digits, std::wstring* text) {
  static const wchar_t kDigits[] = L"0123456789ABCDEF";
  for (int shift = 4 * (digits - 1); shift >= 0; shift -= 4) {
    *text += kDigits[(number >> shift) & 0xF];
  }
}

// Parses a listed part name's "GGGGGGGG/II" after |prefix_length| units.
bool ParsePartSuffix(const std::wstring& name, size_t prefix_length,
                     uint32_t* generation, uint32_t* index) {
  if (name.size() != prefix_length + kPartSuffixLength) {
    return false;
  }
  uint32_t fields[2] = {0, 0};
  int field = 0;
  for (size_t i = prefix_length; i < name.size(); ++i) {
    const wchar_t c = name[i];
    if (i == prefix_length + 8) {
      if (c != L'/') return false;
      field = 1;
    } else if (c >= L'0' && c <= L'9') {
      fields[field] = fields[field] * 16 + (c - L'0');
    } else if (c >= L'A' && c <= L'F') {
      fields[field] = fields[field] * 16 + (c - L'A' + 10);
    } else {
      return false;
    }
  }
  *generation = fields[0];
  *index = fields[1];
  return true;
}

size_t PartCount(size_t value_bytes) {
  return (value_bytes + kMaxCredentialBlobBytes - 1) / kMaxCredentialBlobBytes;
}

size_t PartBytes(size_t value_bytes, size_t index) {
  const size_t start = index * kMaxCredentialBlobBytes;
  return std::min(kMaxCredentialBlobBytes, value_bytes - start);
}

struct Manifest {
  uint32_t generation = 0;
  uint32_t part_count = 0;
  uint32_t value_bytes = 0;
  win::Sha256Digest digest{};
};

void PutUint32(uint32_t number, std::string* bytes) {
  for (int shift = 0; shift < 32; shift += 8) {
    bytes->push_back(static_cast<char>((number >> shift) & 0xFF));
  }
}

uint32_t GetUint32(const std::string& bytes, size_t offset) {
  uint32_t number = 0;
  for (int i = 3; i >= 0; --i) {
    number = (number << 8) | static_cast<unsigned char>(bytes[offset + i]);
  }
  return number;
}

std::string EncodeManifest(const Manifest& manifest) {
  std::string bytes(kManifestMagic, sizeof(kManifestMagic));
  PutUint32(manifest.generation, &bytes);
  PutUint32(manifest.part_count, &bytes);
  PutUint32(manifest.value_bytes, &bytes);
  bytes.append(manifest.digest.begin(), manifest.digest.end());
  return bytes;
}

// The manifest held by a key's entry, or nothing for a plain value. The
// comment alone tells them apart on Windows, which replaces a credential
// whole; Wine keeps the old comment when a plain value replaces a manifest,
// so the layout is checked too: a value the app wrote would have to be 48
// bytes starting with a byte that is no UTF-8 text to be mistaken for one.
std::optional<Manifest> DecodeManifest(const std::string& secret,
                                       const std::wstring& comment) {
  if (comment != kManifestComment || secret.size() != kManifestBytes ||
      secret.compare(0, sizeof(kManifestMagic), kManifestMagic,
                     sizeof(kManifestMagic)) != 0) {
    return std::nullopt;
  }
  Manifest manifest;
  manifest.generation = GetUint32(secret, 4);
  manifest.part_count = GetUint32(secret, 8);
  manifest.value_bytes = GetUint32(secret, 12);
  std::copy(secret.begin() + 16, secret.end(), manifest.digest.begin());
  return manifest;
}

// Every credential this store writes goes through here, so none exceeds
// what Windows accepts, whatever the vault at hand would take.
bool WriteWithinLimits(Vault& vault, const std::wstring& target,
                       const std::string& secret, const wchar_t* comment) {
  return FitsCredentialLimits(target, secret.size()) &&
         vault.Write(target, secret, comment);
}

// Deletes the parts of |key| that |keep| (the committed manifest, if any)
// does not name: those of other generations, and indexes past its count.
bool RemoveStaleParts(Vault& vault, const std::string& key,
                      const std::optional<Manifest>& keep) {
  const std::wstring prefix = PartPrefix(key);
  if (prefix.size() + kPartSuffixLength > kMaxCredentialTargetLength) {
    return true;  // no part of this key can exist
  }
  std::vector<std::wstring> targets;
  if (!vault.List(prefix, &targets)) {
    return false;
  }
  bool removed_all = true;
  for (const std::wstring& target : targets) {
    uint32_t generation = 0;
    uint32_t index = 0;
    if (!ParsePartSuffix(target, prefix.size(), &generation, &index) ||
        (keep && generation == keep->generation && index < keep->part_count)) {
      continue;  // another key's longer name, or a part still in use
    }
    if (vault.Delete(target) == Vault::Status::kFailed) {
      removed_all = false;
    }
  }
  return removed_all;
}

// The order makes one credential write the commit point: the new value's
// parts go under a generation the committed manifest does not name, then
// the manifest naming them replaces the entry, then the old parts go. A
// crash or failure before the entry is replaced leaves the old value whole
// (its parts untouched), after it the new one; left-over parts are only
// garbage, removed by the next write or delete of the key.
bool WriteParts(Vault& vault, const std::string& key, const std::string& value,
                const std::wstring& entry) {
  if (!FitsCredentialLimits(MakePartTarget(key, 0, 0), 0)) {
    return false;  // parts' names are longer than the entry's
  }
  std::string secret;
  ScopedSecretWipe wipe_secret(&secret);  // an earlier plain value, maybe
  std::wstring comment;
  const Vault::Status status = vault.Read(entry, &secret, &comment);
  if (status == Vault::Status::kFailed) {
    return false;  // the generation in use is unknown
  }
  std::optional<Manifest> committed;
  if (status == Vault::Status::kOk) {
    committed = DecodeManifest(secret, comment);
  }
  std::optional<win::Sha256Digest> digest = win::Sha256(value);
  if (!digest) {
    return false;
  }
  Manifest manifest;
  manifest.generation = committed ? committed->generation + 1 : 0;
  manifest.part_count = static_cast<uint32_t>(PartCount(value.size()));
  manifest.value_bytes = static_cast<uint32_t>(value.size());
  manifest.digest = *digest;
  std::string part;
  ScopedSecretWipe wipe_part(&part);
  part.reserve(kMaxCredentialBlobBytes);  // one buffer for every part
  for (uint32_t i = 0; i < manifest.part_count; ++i) {
    part.assign(value, i * kMaxCredentialBlobBytes, PartBytes(value.size(), i));
    if (!WriteWithinLimits(vault, MakePartTarget(key, manifest.generation, i),
                           part, nullptr)) {
      return false;
    }
  }
  if (!WriteWithinLimits(vault, entry, EncodeManifest(manifest),
                         kManifestComment)) {
    return false;
  }
  return RemoveStaleParts(vault, key, manifest);
}

// The value a manifest names, or null when any part is missing, of the
// wrong size or the whole does not match the digest. Reads at most
// kMaxKeychainValueBytes, whatever the manifest claims.
flutter::EncodableValue ReadParts(Vault& vault, const std::string& key,
                                  const Manifest& manifest) {
  if (manifest.value_bytes <= kMaxCredentialBlobBytes ||
      manifest.value_bytes > kMaxKeychainValueBytes ||
      manifest.part_count != PartCount(manifest.value_bytes)) {
    return flutter::EncodableValue();
  }
  std::string value;
  ScopedSecretWipe wipe_value(&value);  // a copy of nothing once moved out
  value.reserve(manifest.value_bytes);
  std::string part;
  ScopedSecretWipe wipe_part(&part);
  std::wstring comment;
  for (uint32_t i = 0; i < manifest.part_count; ++i) {
    if (vault.Read(MakePartTarget(key, manifest.generation, i), &part,
                   &comment) != Vault::Status::kOk ||
        part.size() != PartBytes(manifest.value_bytes, i)) {
      return flutter::EncodableValue();
    }
    value += part;
  }
  std::optional<win::Sha256Digest> digest = win::Sha256(value);
  if (!digest || *digest != manifest.digest) {
    return flutter::EncodableValue();
  }
  return flutter::EncodableValue(std::move(value));
}

}  // namespace

void WipeSecret(std::string* secret) {
  // capacity() leaves out the terminator's unit, which holds zero anyway.
  SecureZeroMemory(secret->data(), secret->capacity());
  secret->clear();
}

void WipeCredentialBlob(CREDENTIALW* credential) {
  if (credential != nullptr && credential->CredentialBlob != nullptr) {
    SecureZeroMemory(credential->CredentialBlob,
                     credential->CredentialBlobSize);
  }
}

Vault& UserVault() {
  static SystemVault* const vault = new SystemVault();
  return *vault;
}

std::wstring MakeCredentialTarget(const std::string& key) {
  return kCredentialTargetPrefix + Utf8ToWide(key);
}

std::wstring MakePartTarget(const std::string& key, uint32_t generation,
                            uint32_t index) {
  std::wstring target = PartPrefix(key);
  AppendHex(generation, 8, &target);
  target += L'/';
  AppendHex(index, 2, &target);
  return target;
}

bool FitsCredentialLimits(const std::wstring& target, size_t blob_bytes) {
  return target.size() <= kMaxCredentialTargetLength &&
         blob_bytes <= kMaxCredentialBlobBytes;
}

flutter::EncodableValue ReadValue(Vault& vault, const std::string& key) {
  std::wstring target = MakeCredentialTarget(key);
  if (!FitsCredentialLimits(target, 0)) {
    return flutter::EncodableValue();
  }
  std::string secret;
  ScopedSecretWipe wipe_secret(&secret);  // what a move leaves behind
  std::wstring comment;
  if (vault.Read(target, &secret, &comment) != Vault::Status::kOk) {
    return flutter::EncodableValue();
  }
  std::optional<Manifest> manifest = DecodeManifest(secret, comment);
  if (manifest) {
    return ReadParts(vault, key, *manifest);
  }
  return flutter::EncodableValue(std::move(secret));
}

bool WriteValue(Vault& vault, const std::string& key,
                const std::string& value) {
  const std::wstring entry = MakeCredentialTarget(key);
  if (value.size() > kMaxKeychainValueBytes) {
    return false;
  }
  if (value.size() > kMaxCredentialBlobBytes) {
    return WriteParts(vault, key, value, entry);
  }
  // A plain value is its own commit point; every part is stale after it.
  return WriteWithinLimits(vault, entry, value, nullptr) &&
         RemoveStaleParts(vault, key, std::nullopt);
}

bool DeleteValue(Vault& vault, const std::string& key) {
  std::wstring entry = MakeCredentialTarget(key);
  if (!FitsCredentialLimits(entry, 0)) {
    return true;  // no such entry can exist
  }
  // Removing the entry is the commit point: from then on the key reads null
  // and its parts are garbage.
  return vault.Delete(entry) != Vault::Status::kFailed &&
         RemoveStaleParts(vault, key, std::nullopt);
}

flutter::EncodableValue ReadCredential(const std::string& key) {
  return ReadValue(UserVault(), key);
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
    result->Success(
        flutter::EncodableValue(WriteValue(UserVault(), *key, *value)));
  } else if (method == "delete") {
    const std::string* key = FindKey(arguments);
    if (key == nullptr) {
      AnswerError(result, kKeyRequired);
      return;
    }
    result->Success(flutter::EncodableValue(DeleteValue(UserVault(), *key)));
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
