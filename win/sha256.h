// SHA-256 through the system's cryptography provider (CNG).
#ifndef WIN_SHA256_H_
#define WIN_SHA256_H_

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

namespace orvalin::win {

using Sha256Digest = std::array<unsigned char, 32>;

// The digest of |data|, or nothing when the provider fails.
std::optional<Sha256Digest> Sha256(std::string_view data);

}  // namespace orvalin::win

#endif  // WIN_SHA256_H_
