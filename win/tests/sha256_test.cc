#include "win/sha256.h"

#include <gtest/gtest.h>

#include <string>

namespace orvalin::win {
namespace {

std::string Hex(const Sha256Digest& digest) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (unsigned char byte : digest) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 15];
  }
  return hex;
}

TEST(Sha256, MatchesTheStandardVectors) {
  const std::pair<std::string, const char*> cases[] = {
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abc",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"}};
  for (const auto& [data, hex] : cases) {
    std::optional<Sha256Digest> digest = Sha256(data);
    ASSERT_TRUE(digest.has_value());
    EXPECT_EQ(Hex(*digest), hex) << data.size();
  }
}

}  // namespace
}  // namespace orvalin::win
