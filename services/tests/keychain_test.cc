// The keychain channel against the prefix's real credential vault.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <string>
#include <vector>

#include "services/keychain_service.h"
#include "services/tests/channel_harness.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/keychain";
constexpr wchar_t kPrefix[] = L"com.orvalin.ai.desktop.windows/";

// The raw blob stored under |target|, or nullopt without an entry.
std::optional<std::string> StoredBlob(const std::wstring& target) {
  CREDENTIALW* raw = nullptr;
  if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
    return std::nullopt;
  }
  EXPECT_EQ(raw->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  std::string blob(reinterpret_cast<const char*>(raw->CredentialBlob),
                   raw->CredentialBlobSize);
  CredFree(raw);
  return blob;
}

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() { RegisterKeychainChannel(harness_.messenger()); }
  ~KeychainTest() override {
    for (const std::string& key : written_) Delete(key);
  }

  Answer Read(const std::string& key) {
    return harness_.Call(kChannel, "read", Map({{"key", EncodableValue(key)}}));
  }
  Answer Write(const std::string& key, const std::string& value) {
    written_.insert(key);
    return harness_.Call(
        kChannel, "write",
        Map({{"key", EncodableValue(key)}, {"value", EncodableValue(value)}}));
  }
  Answer Delete(const std::string& key) {
    return harness_.Call(kChannel, "delete",
                         Map({{"key", EncodableValue(key)}}));
  }

  ChannelHarness harness_;
  std::set<std::string> written_;
};

// Each key's entry is the credential named by the prefix and the key's
// characters (the empty key: the prefix alone); values are its raw bytes,
// and both stay within what Windows accepts.
TEST_F(KeychainTest, ValuesRoundTripAsRawBytesWithinWindowsLimits) {
  const std::vector<std::pair<std::string, std::wstring>> keys = {
      {"services-test/token", L"services-test/token"},
      {"", L""},
      {"services-test/프로필-é-\xF0\x9F\x94\x91",
       L"services-test/프로필-é-\U0001F511"}};
  for (const auto& [key, wide] : keys) {
    const std::wstring target = kPrefix + wide;
    ExpectSuccess(Read(key), EncodableValue());
    ExpectSuccess(Delete(key), EncodableValue(true));
    for (const std::string& value :
         {std::string("abc"), std::string(),  // "" is stored, not null
          std::string("비밀 값 \xF0\x9F\x94\x91"),
          std::string("\xFF\0\x80z", 4),  // no UTF-8: stored unchecked
          std::string(kMaxCredentialBlobBytes, 'b'), std::string("x")}) {
      ExpectSuccess(Write(key, value), EncodableValue(true));
      EXPECT_EQ(StoredBlob(target), value);
      ExpectSuccess(Read(key), EncodableValue(value));
    }
    // One byte over Windows' limit is refused and replaces nothing.
    ExpectSuccess(Write(key, std::string(kMaxCredentialBlobBytes + 1, 'b')),
                  EncodableValue(false));
    EXPECT_EQ(StoredBlob(target), "x");
    ExpectSuccess(Delete(key), EncodableValue(true));
    ExpectSuccess(Read(key), EncodableValue());
    EXPECT_EQ(StoredBlob(target), std::nullopt);
  }
  EXPECT_TRUE(FitsCredentialLimits(std::wstring(32767, L't'), 2560));
  EXPECT_FALSE(FitsCredentialLimits(std::wstring(32768, L't'), 0));
  EXPECT_FALSE(FitsCredentialLimits(L"t", 2561));
  // The prefix counts: its 31 units and this key make 32768.
  const std::string long_key(32737, 'k');
  ExpectSuccess(Write(long_key, "v"), EncodableValue(false));
  ExpectSuccess(Read(long_key), EncodableValue());
  ExpectSuccess(Delete(long_key), EncodableValue(true));
}

TEST_F(KeychainTest, RefusesEveryBadArgumentShapeAndKeysWithANul) {
  ExpectSuccess(Write("services-test/victim", "kept"), EncodableValue(true));
  // The vault would read this key's target name only up to the NUL.
  const EncodableValue nul_key(std::string("services-test/victim\0other", 26));
  const std::vector<std::optional<EncodableValue>> no_key = {
      std::nullopt,
      EncodableValue(),
      EncodableList{EncodableValue("k")},
      EncodableValue("k"),
      Map({{"key", EncodableValue(int32_t{5})}}),
      Map({{"key", EncodableValue()}}),
      Map({{"key", nul_key}}),
      EncodableMap{{EncodableValue(int32_t{1}), EncodableValue("k")}}};
  ExpectErrorForEach(&harness_, kChannel, "read", no_key, kKeyRequired);
  ExpectErrorForEach(&harness_, kChannel, "delete", no_key, kKeyRequired);
  const EncodableValue v("v");
  ExpectErrorForEach(
      &harness_, kChannel, "write",
      {std::nullopt, EncodableList{EncodableValue("k"), v},
       Map({{"key", EncodableValue("k")}}), Map({{"value", v}}),
       Map({{"key", EncodableValue("k")}, {"value", EncodableValue(42)}}),
       Map({{"key", EncodableValue(int32_t{1})}, {"value", v}}),
       Map({{"key", nul_key}, {"value", v}})},
      kKeyValueRequired);
  ExpectSuccess(Read("k"), EncodableValue());  // nothing was written
  ExpectSuccess(Read("services-test/victim"), EncodableValue("kept"));
}

TEST_F(KeychainTest, RandomEntriesRoundTrip) {
  const char* const kPieces[] = {"a", "Z", " ", "é", "홍", "\xF0\x9F\x94\x91"};
  std::mt19937 random(20261207);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 40; ++i) {
    // The index keeps keys apart: the vault ignores case in target names.
    std::string key = "services-test/random/" + std::to_string(i) + "/";
    for (int n = random() % 12; n > 0; --n) key += kPieces[random() % 6];
    std::string value(random() % (kMaxCredentialBlobBytes + 1), '\0');
    for (char& byte : value) byte = static_cast<char>(random());
    ASSERT_EQ(Write(key, value).value, EncodableValue(true));
    entries.emplace_back(key, value);
  }
  for (const auto& [key, value] : entries) {
    EXPECT_EQ(Read(key).value, EncodableValue(value)) << key;
    EXPECT_EQ(Delete(key).value, EncodableValue(true));
  }
}

}  // namespace
}  // namespace orvalin::testing
