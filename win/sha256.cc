#include "win/sha256.h"

#include "win/system_library.h"
#include "win/unique_handle.h"
#include "win/windows.h"
// clang-format off: needs <windows.h> before it.
#include <bcrypt.h>
// clang-format on

namespace orvalin::win {
namespace {

// CNG from System32, looked up once; null members when it cannot be had.
struct Cng {
  decltype(&BCryptOpenAlgorithmProvider) open_algorithm =
      SystemFunction<decltype(BCryptOpenAlgorithmProvider)>(
          L"bcrypt.dll", "BCryptOpenAlgorithmProvider");
  decltype(&BCryptCloseAlgorithmProvider) close_algorithm =
      SystemFunction<decltype(BCryptCloseAlgorithmProvider)>(
          L"bcrypt.dll", "BCryptCloseAlgorithmProvider");
  decltype(&BCryptCreateHash) create_hash =
      SystemFunction<decltype(BCryptCreateHash)>(L"bcrypt.dll",
                                                 "BCryptCreateHash");
  decltype(&BCryptHashData) hash_data =
      SystemFunction<decltype(BCryptHashData)>(L"bcrypt.dll", "BCryptHashData");
  decltype(&BCryptFinishHash) finish_hash =
      SystemFunction<decltype(BCryptFinishHash)>(L"bcrypt.dll",
                                                 "BCryptFinishHash");
  decltype(&BCryptDestroyHash) destroy_hash =
      SystemFunction<decltype(BCryptDestroyHash)>(L"bcrypt.dll",
                                                  "BCryptDestroyHash");

  bool complete() const {
    return open_algorithm && close_algorithm && create_hash && hash_data &&
           finish_hash && destroy_hash;
  }
};

const Cng& LoadedCng() {
  static const Cng cng;
  return cng;
}

struct AlgorithmTraits {
  using Handle = BCRYPT_ALG_HANDLE;
  static void Close(Handle handle) { LoadedCng().close_algorithm(handle, 0); }
};
struct HashTraits {
  using Handle = BCRYPT_HASH_HANDLE;
  static void Close(Handle handle) { LoadedCng().destroy_hash(handle); }
};

bool Succeeded(NTSTATUS status) { return status >= 0; }

}  // namespace

std::optional<Sha256Digest> Sha256(std::string_view data) {
  const Cng& cng = LoadedCng();
  if (!cng.complete()) {
    return std::nullopt;
  }
  BCRYPT_ALG_HANDLE raw_algorithm = nullptr;
  if (!Succeeded(cng.open_algorithm(&raw_algorithm, BCRYPT_SHA256_ALGORITHM,
                                    nullptr, 0))) {
    return std::nullopt;
  }
  UniqueHandle<AlgorithmTraits> algorithm(raw_algorithm);
  BCRYPT_HASH_HANDLE raw_hash = nullptr;
  if (!Succeeded(cng.create_hash(algorithm.Get(), &raw_hash, nullptr, 0,
                                 nullptr, 0, 0))) {
    return std::nullopt;
  }
  UniqueHandle<HashTraits> hash(raw_hash);
  // CNG takes at most a ULONG per call.
  constexpr size_t kMaxChunk = 1u << 30;
  while (!data.empty()) {
    const size_t chunk = data.size() < kMaxChunk ? data.size() : kMaxChunk;
    if (!Succeeded(cng.hash_data(
            hash.Get(),
            reinterpret_cast<PUCHAR>(const_cast<char*>(data.data())),
            static_cast<ULONG>(chunk), 0))) {
      return std::nullopt;
    }
    data.remove_prefix(chunk);
  }
  Sha256Digest digest{};
  if (!Succeeded(cng.finish_hash(hash.Get(), digest.data(),
                                 static_cast<ULONG>(digest.size()), 0))) {
    return std::nullopt;
  }
  return digest;
}

}  // namespace orvalin::win
