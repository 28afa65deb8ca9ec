#include "win/sha256.h"

#include "win/unique_handle.h"
#include "win/windows.h"
// clang-format off: needs <windows.h> before it.
#include <bcrypt.h>
// clang-format on

namespace orvalin::win {
namespace {

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static void Close(Handle handle) { BCryptCloseAlgorithmProvider(handle, 0); }
};
struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static void Close(Handle handle) { BCryptDestroyHash(handle); }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::optional<Sha256Digest> Sha256(std::string_view data) {
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (!Succeeded(BCryptOpenAlgorithmProvider(
          &raw_algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
    return std::nullopt;
  }
  UniqueHandle<AlgorithmTraits> algorithm(raw_algorithm);
  BCRYPT_HASH_HANDLE raw_hash = nullptr;
  if (!Succeeded(BCryptCreateHash(algorithm.Get(), &raw_hash, nullptr, 0,
                                  nullptr, 0, 0))) {
    return std::nullopt;
  }
  UniqueHandle<HashTraits> hash(raw_hash);
  // CNG takes at most a ULONG per call.
  constexpr size_t kMaxChunk = 1u << 30;
  while (!data.empty()) {
    const size_t chunk = data.size() < kMaxChunk ? data.size() : kMaxChunk;
    if (!Succeeded(BCryptHashData(
            hash.Get(),
            reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
            static_cast<ULONG>(chunk), 0))) {
      return std::nullopt;
    }
    data.remove_prefix(chunk);
  }
  Sha256Digest digest{};
  if (!Succeeded(BCryptFinishHash(hash.Get(), digest.data(),
                                  static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace orvalin::win
