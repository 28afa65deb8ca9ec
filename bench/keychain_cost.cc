// What a keychain write and read cost in the vault: a 6 KB session and a
// value at the bound, in parts, beside one credential of 2,560 bytes (the
// largest value that is still one secret). Medians of timed runs.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "services/keychain_internal.h"
#include "services/keychain_service.h"
#include "win/windows.h"

namespace {

constexpr int kRuns = 31;
constexpr char kKey[] = "bench/keychain-cost";

double NowMs() {
  static const double frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return static_cast<double>(f.QuadPart);
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return 1000.0 * static_cast<double>(now.QuadPart) / frequency;
}

double Median(std::vector<double> samples) {
  std::sort(samples.begin(), samples.end());
  return samples[samples.size() / 2];
}

// Each write replaces the last value of the same size, as a refreshed
// session does; each read reads it back whole.
bool Measure(size_t bytes, double* write_ms, double* read_ms) {
  orvalin::Vault& vault = orvalin::UserVault();
  std::vector<double> writes;
  std::vector<double> reads;
  for (int run = 0; run < kRuns; ++run) {
    const std::string value(bytes, static_cast<char>('a' + run % 26));
    const double start = NowMs();
    if (!orvalin::WriteValue(vault, kKey, value)) return false;
    const double written = NowMs();
    const flutter::EncodableValue read = orvalin::ReadValue(vault, kKey);
    const double done = NowMs();
    if (read != flutter::EncodableValue(value)) return false;
    writes.push_back(written - start);
    reads.push_back(done - written);
  }
  *write_ms = Median(writes);
  *read_ms = Median(reads);
  return orvalin::DeleteValue(vault, kKey);
}

}  // namespace

int wmain() {
  const size_t sizes[] = {orvalin::kMaxCredentialBlobBytes, 6 * 1024,
                          orvalin::kMaxKeychainValueBytes};
  std::printf("%-12s %8s %12s %12s\n", "value", "creds", "write_ms", "read_ms");
  for (size_t bytes : sizes) {
    double write_ms = 0;
    double read_ms = 0;
    if (!Measure(bytes, &write_ms, &read_ms)) {
      std::printf("%-12zu failed\n", bytes);
      return 1;
    }
    const size_t parts = bytes <= orvalin::kMaxCredentialBlobBytes
                             ? 0
                             : (bytes + orvalin::kMaxCredentialBlobBytes - 1) /
                                   orvalin::kMaxCredentialBlobBytes;
    std::printf("%-12zu %8zu %12.3f %12.3f\n", bytes, 1 + parts, write_ms,
                read_ms);
  }
  return 0;
}
