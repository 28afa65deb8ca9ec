// The keychain channel against the prefix's real credential vault.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "services/keychain_internal.h"
#include "services/keychain_service.h"
#include "services/tests/channel_harness.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/keychain";
constexpr wchar_t kPrefix[] = L"com.orvalin.ai.desktop.windows/";

// The raw blob stored under |target|, or nullopt without an entry.
std::optional<std::string> StoredBlob(const std::wstring& target,
                                      std::wstring* comment = nullptr) {
  CREDENTIALW* raw = nullptr;
  if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
    return std::nullopt;
  }
  EXPECT_EQ(raw->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  std::string blob(reinterpret_cast<const char*>(raw->CredentialBlob),
                   raw->CredentialBlobSize);
  if (comment) *comment = raw->Comment ? raw->Comment : L"";
  CredFree(raw);
  return blob;
}

// Writes a credential directly, as another build or program would.
void StoreBlob(const std::wstring& target, const std::string& blob,
               const wchar_t* comment = nullptr) {
  CREDENTIALW credential{};
  credential.Type = CRED_TYPE_GENERIC;
  credential.TargetName = const_cast<wchar_t*>(target.c_str());
  credential.Comment = const_cast<wchar_t*>(comment);
  credential.CredentialBlobSize = static_cast<DWORD>(blob.size());
  credential.CredentialBlob =
      reinterpret_cast<BYTE*>(const_cast<char*>(blob.data()));
  credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
  ASSERT_TRUE(CredWriteW(&credential, 0));
}

// Every credential under either of the store's prefixes, with its secret's
// size; each is checked against Windows' limits on the way.
std::map<std::wstring, size_t> ListStore() {
  std::map<std::wstring, size_t> found;
  DWORD count = 0;
  CREDENTIALW** list = nullptr;
  if (!CredEnumerateW(L"com.orvalin.ai.desktop.windows*", 0, &count, &list)) {
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_NOT_FOUND));
    return found;
  }
  for (DWORD i = 0; i < count; ++i) {
    const std::wstring name = list[i]->TargetName;
    EXPECT_LE(list[i]->CredentialBlobSize, kMaxCredentialBlobBytes);
    EXPECT_LE(name.size(), kMaxCredentialTargetLength);
    found[name] = list[i]->CredentialBlobSize;
  }
  CredFree(list);
  return found;
}

// How many credentials a value of |bytes| takes: its entry and its parts.
size_t CredentialsFor(size_t bytes) {
  return bytes <= kMaxCredentialBlobBytes
             ? 1
             : 1 + (bytes + kMaxCredentialBlobBytes - 1) /
                       kMaxCredentialBlobBytes;
}

// A value of |bytes| unlike any other of the same size, by |seed|.
std::string Filled(size_t bytes, unsigned seed) {
  std::mt19937 random(seed);
  std::string value(bytes, '\0');
  for (char& byte : value) byte = static_cast<char>(random());
  return value;
}

// What a hosted auth service's session looks like after a Google sign-in,
// about 6 KB, with non-ASCII text in the user record.
std::string SessionJson() {
  const std::string base64url =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::mt19937 random(6144);
  auto token = [&](size_t n) {
    std::string text;
    for (size_t i = 0; i < n; ++i) text += base64url[random() % 64];
    return text;
  };
  const std::string jwt =
      "eyJhbGciOiJIUzI1NiIsInR5cCI6IkpXVCJ9." + token(1100) + "." + token(43);
  const std::string user =
      "{\"id\":\"3f1c2e4a-9b7d-4c1e-8a2f-6d5e4c3b2a19\",\"aud\":"
      "\"authenticated\",\"email\":\"hong.gildong@example.com\","
      "\"user_metadata\":{\"full_name\":\"홍길동 (Zoë Ærøskøbing)\","
      "\"avatar_url\":\"https://lh3.googleusercontent.com/a/" +
      token(90) +
      "\",\"locale\":\"ko\"},\"identities\":[{\"provider\":\"google\","
      "\"identity_data\":{\"name\":\"홍길동\",\"sub\":\"1043\"}}]}";
  std::string json = "{\"access_token\":\"" + jwt +
                     "\",\"token_type\":\"bearer\",\"expires_in\":3600,"
                     "\"refresh_token\":\"" +
                     token(40) + "\",\"user\":" + user +
                     ",\"provider_token\":\"ya29." + token(3000) +
                     "\",\"provider_refresh_token\":\"1//" + token(1200) +
                     "\",\"note\":\"세션 \xF0\x9F\x94\x91\"}";
  return json;
}

// The user's vault, except that call number |fault_at| of an operation
// fails (kFail) or is the last to happen (kStop: the process dies after
// it, so every later call fails and changes nothing).
class FaultyVault : public Vault {
 public:
  enum class Mode { kFail, kStop };
  FaultyVault(Mode mode, int fault_at) : mode_(mode), fault_at_(fault_at) {}

  bool reached() const { return calls_ >= fault_at_; }
  int calls() const { return calls_; }

  Status Read(const std::wstring& target, std::string* secret,
              std::wstring* comment) override {
    return Next() ? UserVault().Read(target, secret, comment) : Status::kFailed;
  }
  bool Write(const std::wstring& target, const std::string& secret,
             const wchar_t* comment) override {
    return Next() && UserVault().Write(target, secret, comment);
  }
  Status Delete(const std::wstring& target) override {
    return Next() ? UserVault().Delete(target) : Status::kFailed;
  }
  bool List(const std::wstring& prefix,
            std::vector<std::wstring>* targets) override {
    return Next() && UserVault().List(prefix, targets);
  }

 private:
  // Whether the call goes ahead.
  bool Next() {
    ++calls_;
    return mode_ == Mode::kFail ? calls_ != fault_at_ : calls_ <= fault_at_;
  }

  Mode mode_;
  int fault_at_;
  int calls_ = 0;
};

// Removes what an interrupted earlier run left of this suite's keys (all
// under "services-test/", and the empty key), so counts start clean; the
// prefix may hold a developer's own entries, which stay.
void RemoveLeftovers() {
  for (const wchar_t* filter :
       {L"com.orvalin.ai.desktop.windows/services-test/*",
        L"com.orvalin.ai.desktop.windows.parts/services-test/*"}) {
    DWORD count = 0;
    CREDENTIALW** list = nullptr;
    if (!CredEnumerateW(filter, 0, &count, &list)) continue;
    for (DWORD i = 0; i < count; ++i) {
      CredDeleteW(list[i]->TargetName, CRED_TYPE_GENERIC, 0);
    }
    CredFree(list);
  }
  DeleteValue(UserVault(), "");
}

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() : before_((RemoveLeftovers(), ListStore())) {
    RegisterKeychainChannel(harness_.messenger());
  }
  ~KeychainTest() override {
    for (const std::string& key : written_) Delete(key);
    // Nothing of this test, parts included, is left behind.
    EXPECT_EQ(ListStore(), before_);
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
  // How many credentials the store holds beyond those before the test.
  size_t Added() { return ListStore().size() - before_.size(); }

  ChannelHarness harness_;
  std::set<std::string> written_;
  const std::map<std::wstring, size_t> before_;
};

// Each key's entry is the credential named by the prefix and the key's
// characters (the empty key: the prefix alone); values that fit one secret
// are its raw bytes and nothing else.
TEST_F(KeychainTest, SmallValuesAreOneCredentialOfRawBytes) {
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
      std::wstring comment = L"?";
      EXPECT_EQ(StoredBlob(target, &comment), value);
      EXPECT_EQ(comment, L"");
      EXPECT_EQ(Added(), 1u);
      ExpectSuccess(Read(key), EncodableValue(value));
    }
    ExpectSuccess(Delete(key), EncodableValue(true));
    ExpectSuccess(Read(key), EncodableValue());
    EXPECT_EQ(StoredBlob(target), std::nullopt);
  }
  EXPECT_TRUE(FitsCredentialLimits(std::wstring(32767, L't'), 2560));
  EXPECT_FALSE(FitsCredentialLimits(std::wstring(32768, L't'), 0));
  EXPECT_FALSE(FitsCredentialLimits(L"t", 2561));
  // Names up to Windows' limit go to the vault (Wine's own limit is far
  // lower), longer ones never: the prefix's 31 units and 32737 make 32768;
  // parts' names are 49 units longer than their key.
  const std::pair<size_t, size_t> too_long[] = {{32737, 1}, {32767 - 48, 2561}};
  for (const auto& [key_length, value_bytes] : too_long) {
    const std::string key(key_length, 'k');
    FaultyVault refused(FaultyVault::Mode::kFail, 0);
    EXPECT_FALSE(WriteValue(refused, key, std::string(value_bytes, 'v')));
    EXPECT_EQ(refused.calls(), 0) << key_length;
    FaultyVault tried(FaultyVault::Mode::kFail, 0);
    WriteValue(tried, key.substr(1), std::string(value_bytes - 1, 'v'));
    EXPECT_GT(tried.calls(), 0) << key_length;
    ExpectSuccess(Read(key), EncodableValue());
    ExpectSuccess(Delete(key), EncodableValue(true));
  }
}

// Larger values take their entry and one credential per 2,560 bytes, up to
// the bound; every write of a size replaces the last without leftovers.
TEST_F(KeychainTest, LargeValuesRoundTripInPartsUpToTheBound) {
  const std::string key = "services-test/session";
  const std::string session = SessionJson();
  ASSERT_GT(session.size(), 5800u);
  ASSERT_LT(session.size(), 6400u);
  for (const std::string& value :
       {session, Filled(kMaxKeychainValueBytes, 1), Filled(6000, 2),
        Filled(kMaxCredentialBlobBytes + 1, 3), std::string("small"),
        Filled(7681, 4), Filled(kMaxCredentialBlobBytes, 5), std::string(),
        Filled(kMaxKeychainValueBytes, 6), session}) {
    ExpectSuccess(Write(key, value), EncodableValue(true));
    ExpectSuccess(Read(key), EncodableValue(value));
    EXPECT_EQ(Added(), CredentialsFor(value.size())) << value.size();
    std::wstring comment;
    const std::optional<std::string> entry =
        StoredBlob(kPrefix + std::wstring(L"services-test/session"), &comment);
    ASSERT_TRUE(entry.has_value());
    if (value.size() > kMaxCredentialBlobBytes) {
      EXPECT_EQ(entry->size(), kManifestBytes);
      EXPECT_EQ(comment, kManifestComment);
    } else if (comment.empty()) {  // Wine keeps a replaced comment
      EXPECT_EQ(*entry, value);
    }
  }
  // One byte over the bound is refused and changes nothing.
  const std::map<std::wstring, size_t> stored = ListStore();
  ExpectSuccess(Write(key, Filled(kMaxKeychainValueBytes + 1, 7)),
                EncodableValue(false));
  EXPECT_EQ(ListStore(), stored);
  ExpectSuccess(Read(key), EncodableValue(session));
  ExpectSuccess(Delete(key), EncodableValue(true));
  ExpectSuccess(Read(key), EncodableValue());
  EXPECT_EQ(Added(), 0u);
}

// Entries written directly, without the store's comment, read as they are,
// even when their bytes look like a manifest.
TEST_F(KeychainTest, LegacyAndForeignEntriesReadBackUnchanged) {
  std::string lookalike(kManifestMagic, sizeof(kManifestMagic));
  lookalike += Filled(kManifestBytes - sizeof(kManifestMagic), 8);
  const std::pair<std::string, const wchar_t*> entries[] = {
      {"legacy token", nullptr},
      {Filled(kMaxCredentialBlobBytes, 9), nullptr},
      {lookalike, nullptr},
      {lookalike, L"written by someone else"},
      {"short, under the store's comment", kManifestComment}};
  const std::string key = "services-test/legacy";
  written_.insert(key);
  for (const auto& [blob, comment] : entries) {
    StoreBlob(kPrefix + std::wstring(L"services-test/legacy"), blob, comment);
    ExpectSuccess(Read(key), EncodableValue(blob));
  }
  // A large value replaces a legacy one like any other.
  const std::string large = Filled(9000, 10);
  ExpectSuccess(Write(key, large), EncodableValue(true));
  ExpectSuccess(Read(key), EncodableValue(large));
}

// Keys that are another key and the separator, a whole part suffix or a
// "*": each keeps its own value and parts.
TEST_F(KeychainTest, TrickyKeysKeepTheirOwnParts) {
  const std::string k = "services-test/k";
  const std::string keys[] = {k,
                              k + "/1",
                              k + "#1",
                              k + "/",
                              k + "/00000000/00",
                              k + "/00000001/00",
                              k + "*",
                              k + "*/00000000/00",
                              "",
                              "services-test/키/\xF0\x9F\x94\x91"};
  size_t expected = 0;
  unsigned seed = 100;
  std::vector<std::string> values;
  for (const std::string& key : keys) {
    // Sizes differ, so a part read under another key's name fails.
    values.push_back(Filled(2561 + 1000 * values.size(), ++seed));
    ExpectSuccess(Write(key, values.back()), EncodableValue(true));
    expected += CredentialsFor(values.back().size());
  }
  EXPECT_EQ(Added(), expected);
  for (size_t i = 0; i < values.size(); ++i) {
    ExpectSuccess(Read(keys[i]), EncodableValue(values[i]));
  }
  // Rewriting and deleting the first leaves every other key whole.
  ExpectSuccess(Write(k, "short"), EncodableValue(true));
  ExpectSuccess(Delete(k), EncodableValue(true));
  for (size_t i = 1; i < values.size(); ++i) {
    ExpectSuccess(Read(keys[i]), EncodableValue(values[i]));
  }
  EXPECT_EQ(Added(), expected - CredentialsFor(values[0].size()));
  for (size_t i = 1; i < values.size(); ++i) Delete(keys[i]);
  EXPECT_EQ(Added(), 0u);
  // The vault ignores case in names: ".../K" is the entry of ".../k", and
  // so are its parts.
  const std::string upper = "services-test/K";
  const std::string large = Filled(8000, 200);
  ExpectSuccess(Write(k, large), EncodableValue(true));
  ExpectSuccess(Read(upper), EncodableValue(large));
  ExpectSuccess(Write(upper, Filled(3000, 201)), EncodableValue(true));
  ExpectSuccess(Read(k), EncodableValue(Filled(3000, 201)));
  ExpectSuccess(Delete(upper), EncodableValue(true));
  ExpectSuccess(Read(k), EncodableValue());
}

// A manifest whose parts are missing, of another size, naming too many,
// or not matching its digest reads as null.
TEST_F(KeychainTest, DamagedValuesInPartsReadNull) {
  const std::string key = "services-test/damaged";
  const std::wstring entry = kPrefix + std::wstring(L"services-test/damaged");
  const std::string value = Filled(6000, 11);
  // Manifest fields: generation, part count, size, the digest's last bytes.
  const struct {
    const char* what;
    size_t offset;
    uint32_t number;
  } fields[] = {{"another generation", 4, 7},
                {"a million parts", 8, 1000000},
                {"4 GiB", 12, 0xFFFFFFFF},
                {"over the bound", 12, kMaxKeychainValueBytes + 1},
                {"fits one secret", 12, 2560},
                {"one byte more", 12, 6001},
                {"digest", 44, 0}};
  for (const auto& field : fields) {
    ExpectSuccess(Write(key, value), EncodableValue(true));
    std::string manifest = *StoredBlob(entry);
    for (int i = 0; i < 4; ++i) {
      manifest[field.offset + i] = static_cast<char>(field.number >> 8 * i);
    }
    StoreBlob(entry, manifest, kManifestComment);
    SCOPED_TRACE(field.what);
    ExpectSuccess(Read(key), EncodableValue());
  }
  // Parts: one missing, one short, one of the same size but changed.
  const std::pair<uint32_t, std::optional<std::string>> parts[] = {
      {1, std::nullopt}, {2, value.substr(5120, 879)}, {0, Filled(2560, 12)}};
  for (const auto& [index, blob] : parts) {
    ExpectSuccess(Write(key, value), EncodableValue(true));
    const std::string manifest = *StoredBlob(entry);
    uint32_t generation = 0;
    for (int i = 3; i >= 0; --i) {
      generation =
          generation << 8 | static_cast<unsigned char>(manifest[4 + i]);
    }
    const std::wstring part = MakePartTarget(key, generation, index);
    ASSERT_TRUE(StoredBlob(part).has_value());
    if (blob) {
      StoreBlob(part, *blob);
    } else {
      ASSERT_TRUE(CredDeleteW(part.c_str(), CRED_TYPE_GENERIC, 0));
    }
    SCOPED_TRACE(index);
    ExpectSuccess(Read(key), EncodableValue());
  }
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
  const char* const kPieces[] = {"a", "Z", " ", "é", "홍", "\xF0\x9F\x94\x91",
                                 "/", "*"};
  std::mt19937 random(20261207);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 40; ++i) {
    // The index keeps keys apart: the vault ignores case in target names.
    std::string key = "services-test/random/" + std::to_string(i) + "/";
    for (int n = random() % 12; n > 0; --n) key += kPieces[random() % 8];
    std::string value = Filled(random() % (4 * kMaxCredentialBlobBytes), i);
    ASSERT_EQ(Write(key, value).value, EncodableValue(true));
    entries.emplace_back(key, value);
  }
  for (const auto& [key, value] : entries) {
    EXPECT_EQ(Read(key).value, EncodableValue(value)) << key;
    EXPECT_EQ(Delete(key).value, EncodableValue(true));
  }
}

// A write or delete that fails or dies at any vault call leaves the old
// value or the new one, whole; a failure answers false; the next write or
// delete of the key removes whatever parts it left.
TEST_F(KeychainTest, InterruptedWritesAndDeletesLeaveOneWholeValue) {
  const std::string key = "services-test/interrupted";
  written_.insert(key);
  const std::optional<std::string> kNone;
  const std::pair<std::optional<std::string>, std::optional<std::string>>
      changes[] = {
          {kNone, Filled(6000, 20)},
          {std::string("old"), Filled(kMaxKeychainValueBytes, 21)},
          {Filled(9000, 22), Filled(6000, 23)},
          {Filled(6000, 24), Filled(6000, 25)},
          {Filled(kMaxKeychainValueBytes, 26), std::string("new")},
          {Filled(3000, 27), kNone},  // a delete
          {std::string("old"), kNone},
      };
  for (const auto& [old_value, new_value] : changes) {
    for (FaultyVault::Mode mode :
         {FaultyVault::Mode::kFail, FaultyVault::Mode::kStop}) {
      for (int fault_at = 1;; ++fault_at) {
        ASSERT_TRUE(DeleteValue(UserVault(), key));
        if (old_value) ASSERT_TRUE(WriteValue(UserVault(), key, *old_value));
        FaultyVault vault(mode, fault_at);
        const bool done = new_value ? WriteValue(vault, key, *new_value)
                                    : DeleteValue(vault, key);
        if (!vault.reached()) {
          EXPECT_TRUE(done);  // the operation made fewer calls
          break;
        }
        SCOPED_TRACE(
            ::testing::Message()
            << "size " << (new_value ? new_value->size() : 0)
            << (mode == FaultyVault::Mode::kFail ? " fail at " : " stop after ")
            << fault_at);
        if (mode == FaultyVault::Mode::kFail) EXPECT_FALSE(done);
        const EncodableValue read = ReadValue(UserVault(), key);
        const EncodableValue old_read =
            old_value ? EncodableValue(*old_value) : EncodableValue();
        const EncodableValue new_read =
            new_value ? EncodableValue(*new_value) : EncodableValue();
        EXPECT_TRUE(read == old_read || read == new_read);
        if (done) EXPECT_EQ(read, new_read);
        // Whatever was left, the next write or delete clears.
        if (fault_at % 2 == 0) {
          ASSERT_TRUE(DeleteValue(UserVault(), key));
          EXPECT_EQ(Added(), 0u);
        } else {
          ASSERT_TRUE(WriteValue(UserVault(), key, Filled(3000, 30)));
          EXPECT_EQ(Added(), CredentialsFor(3000));
        }
      }
    }
  }
}

}  // namespace
}  // namespace orvalin::testing

namespace orvalin {
namespace {

// Every byte the buffer held, its spare capacity too, reads zero after the
// wipe; the buffer itself stays (nothing freed unwiped).
TEST(WipeSecret, ZeroesTheWholeBufferAndTheCredentialsBlob) {
  std::string secret(100, 't');
  secret.resize(40);  // a token's tail is left in the spare capacity
  const char* buffer = secret.data();
  const size_t capacity = secret.capacity();
  ASSERT_GE(capacity, 100u);
  WipeSecret(&secret);
  EXPECT_TRUE(secret.empty());
  ASSERT_EQ(secret.data(), buffer);
  EXPECT_EQ(std::string(buffer, capacity), std::string(capacity, '\0'));

  std::string small = "abc";  // within the string object itself
  { ScopedSecretWipe wipe(&small); }
  EXPECT_EQ(std::string(small.data(), small.capacity()),
            std::string(small.capacity(), '\0'));

  BYTE blob[] = {1, 2, 3, 4, 5};
  CREDENTIALW credential{};
  credential.CredentialBlob = blob;
  credential.CredentialBlobSize = 4;
  WipeCredentialBlob(&credential);
  EXPECT_EQ(std::vector<BYTE>(blob, blob + 5),
            (std::vector<BYTE>{0, 0, 0, 0, 5}));
  WipeCredentialBlob(nullptr);
  credential.CredentialBlob = nullptr;
  WipeCredentialBlob(&credential);
}

}  // namespace
}  // namespace orvalin
