// The keychain's storage layout and its one replaceable piece: the vault.
#ifndef SERVICES_KEYCHAIN_INTERNAL_H_
#define SERVICES_KEYCHAIN_INTERNAL_H_

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "client/encodable_value.h"
#include "win/windows.h"

namespace orvalin {

// Where a value larger than one secret keeps its parts: the target names of
// part credentials begin with this (see MakePartTarget).
inline constexpr wchar_t kCredentialPartPrefix[] =
    L"com.orvalin.ai.desktop.windows.parts/";
// The comment that marks a key's entry as the manifest of a value in parts.
inline constexpr wchar_t kManifestComment[] = L"orvalin.ai/keychain parts";
// The manifest, the secret of such an entry (little-endian fields):
//   [0, 4)   kManifestMagic
//   [4, 8)   generation: names this value's part set
//   [8, 12)  part count
//   [12, 16) value size in bytes
//   [16, 48) SHA-256 of the value
inline constexpr char kManifestMagic[4] = {'\xFF', 'O', 'K', 'P'};
inline constexpr size_t kManifestBytes = 48;

// The vault operations the store makes, on generic credentials only.
class Vault {
 public:
  enum class Status { kOk, kNotFound, kFailed };

  virtual ~Vault() = default;
  // The secret and comment (empty for none) of |target|.
  virtual Status Read(const std::wstring& target, std::string* secret,
                      std::wstring* comment) = 0;
  // Creates or replaces |target| whole; |comment| may be null.
  virtual bool Write(const std::wstring& target, const std::string& secret,
                     const wchar_t* comment) = 0;
  virtual Status Delete(const std::wstring& target) = 0;
  // Every target name that begins with |prefix|, case ignored.
  virtual bool List(const std::wstring& prefix,
                    std::vector<std::wstring>* targets) = 0;
};

// The signed-in user's credential vault.
Vault& UserVault();

// "read", "write" and "delete" of a key over |vault|.
flutter::EncodableValue ReadValue(Vault& vault, const std::string& key);
bool WriteValue(Vault& vault, const std::string& key, const std::string& value);
bool DeleteValue(Vault& vault, const std::string& key);

// Zeroes |secret|'s whole buffer, its capacity included, in a way the
// compiler cannot drop, then empties it (the buffer stays allocated, wiped).
// A freed page or a crash dump then holds no token.
void WipeSecret(std::string* secret);

// Zeroes a credential's secret where the vault put it, before CredFree.
void WipeCredentialBlob(CREDENTIALW* credential);

// Wipes the string it watches when it leaves scope, whatever path leaves.
class ScopedSecretWipe {
 public:
  explicit ScopedSecretWipe(std::string* secret) : secret_(secret) {}
  ~ScopedSecretWipe() { WipeSecret(secret_); }
  ScopedSecretWipe(const ScopedSecretWipe&) = delete;
  ScopedSecretWipe& operator=(const ScopedSecretWipe&) = delete;

 private:
  std::string* secret_;
};

// The target name of part |index| of |key|'s value set |generation|.
std::wstring MakePartTarget(const std::string& key, uint32_t generation,
                            uint32_t index);

}  // namespace orvalin

#endif  // SERVICES_KEYCHAIN_INTERNAL_H_
