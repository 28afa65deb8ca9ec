// The keychain channel against the prefix's real credential vault.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>
#include <wincred.h>

#include <optional>
#include <random>
#include <string>
#include <vector>

#include "services/keychain_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/keychain";

struct CredentialDeleter {
  void operator()(CREDENTIALW* credential) const { CredFree(credential); }
};
using UniqueCredential = std::unique_ptr<CREDENTIALW, CredentialDeleter>;

UniqueCredential ReadRaw(const std::wstring& target) {
  CREDENTIALW* raw = nullptr;
  if (!CredReadW(target.c_str(), CRED_TYPE_GENERIC, 0, &raw)) {
    return nullptr;
  }
  return UniqueCredential(raw);
}

// Puts an entry that stood under |target| before the test back afterwards,
// and removes one that did not.
class CredentialRestorer {
 public:
  explicit CredentialRestorer(std::wstring target)
      : target_(std::move(target)) {
    if (UniqueCredential old = ReadRaw(target_)) {
      blob_ = std::string(reinterpret_cast<const char*>(old->CredentialBlob),
                          old->CredentialBlobSize);
    }
  }
  ~CredentialRestorer() {
    if (!blob_) {
      CredDeleteW(target_.c_str(), CRED_TYPE_GENERIC, 0);
      return;
    }
    CREDENTIALW credential{};
    credential.Type = CRED_TYPE_GENERIC;
    credential.TargetName = target_.data();
    credential.CredentialBlobSize = static_cast<DWORD>(blob_->size());
    credential.CredentialBlob = reinterpret_cast<BYTE*>(blob_->data());
    credential.Persist = CRED_PERSIST_LOCAL_MACHINE;
    CredWriteW(&credential, 0);
  }

 private:
  std::wstring target_;
  std::optional<std::string> blob_;
};

class KeychainTest : public ::testing::Test {
 protected:
  KeychainTest() { RegisterKeychainChannel(harness_.messenger()); }

  // A key no other run uses, cleaned up with the test.
  std::string TestKey(const std::string& name) {
    std::string key =
        "services-test/" + std::to_string(GetCurrentProcessId()) + "/" + name;
    restorers_.push_back(std::make_unique<CredentialRestorer>(
        std::wstring(kCredentialTargetPrefix) + Utf8ToWide(key)));
    return key;
  }

  Answer Read(const std::string& key) {
    return harness_.Call(kChannel, "read", Map({{"key", EncodableValue(key)}}));
  }
  Answer Write(const std::string& key, const std::string& value) {
    return harness_.Call(
        kChannel, "write",
        Map({{"key", EncodableValue(key)}, {"value", EncodableValue(value)}}));
  }
  Answer Delete(const std::string& key) {
    return harness_.Call(kChannel, "delete",
                         Map({{"key", EncodableValue(key)}}));
  }

  ChannelHarness harness_;
  std::vector<std::unique_ptr<CredentialRestorer>> restorers_;
};

// Writing, replacing by shorter and longer values, reading and deleting:
// the thousand-entry round trip below.
TEST_F(KeychainTest, AbsentKeyReadsNullAndDeletesAsDone) {
  const std::string key = TestKey("token");
  ExpectSuccess(Read(key), EncodableValue());
  ExpectSuccess(Delete(key), EncodableValue(true));
  ExpectSuccess(Read(key), EncodableValue());
}

TEST_F(KeychainTest,
       StoresTheValuesRawBytesInOneGenericLocalMachineCredential) {
  const std::string key = TestKey("layout");
  ExpectSuccess(Write(key, "abc"), EncodableValue(true));
  UniqueCredential stored =
      ReadRaw(std::wstring(kCredentialTargetPrefix) + Utf8ToWide(key));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->Type, static_cast<DWORD>(CRED_TYPE_GENERIC));
  EXPECT_EQ(stored->Persist, static_cast<DWORD>(CRED_PERSIST_LOCAL_MACHINE));
  ASSERT_EQ(stored->CredentialBlobSize, 3u);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(stored->CredentialBlob), 3),
            "abc");

  // An empty value is a zero-length secret: it reads back as "", not null.
  ExpectSuccess(Write(key, ""), EncodableValue(true));
  stored = ReadRaw(std::wstring(kCredentialTargetPrefix) + Utf8ToWide(key));
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(stored->CredentialBlobSize, 0u);
  ExpectSuccess(Read(key), EncodableValue(std::string()));
}

TEST_F(KeychainTest, EmptyKeyIsThePrefixAlone) {
  CredentialRestorer restore_empty_key(kCredentialTargetPrefix);
  ExpectSuccess(Write("", "under the bare prefix"), EncodableValue(true));
  UniqueCredential stored = ReadRaw(kCredentialTargetPrefix);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(std::wstring(stored->TargetName), kCredentialTargetPrefix);
  ExpectSuccess(Read(""), EncodableValue("under the bare prefix"));
  ExpectSuccess(Delete(""), EncodableValue(true));
  ExpectSuccess(Read(""), EncodableValue());
}

TEST_F(KeychainTest, NonAsciiKeysAndValuesRoundTripByteForByte) {
  const std::string key = TestKey("프로필/토큰-é-\xF0\x9F\x94\x91");
  const std::string value = "비밀 값 ✓ \xF0\x9F\x94\x91 end";
  ExpectSuccess(Write(key, value), EncodableValue(true));
  // The target name holds the key's characters in UTF-16.
  const std::wstring target =
      std::wstring(kCredentialTargetPrefix) + L"services-test/" +
      std::to_wstring(GetCurrentProcessId()) + L"/프로필/토큰-é-\U0001F511";
  UniqueCredential stored = ReadRaw(target);
  ASSERT_NE(stored, nullptr);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(stored->CredentialBlob),
                        stored->CredentialBlobSize),
            value);
  ExpectSuccess(Read(key), EncodableValue(value));

  // Bytes that are no UTF-8 are stored and returned unchecked.
  const std::string raw("\xFF\xFE\x00\x80z", 5);
  ExpectSuccess(Write(key, raw), EncodableValue(true));
  ExpectSuccess(Read(key), EncodableValue(raw));
}

// |count| random code points as UTF-8: every plane, astral ones included,
// surrogates never; NUL only when |with_nul|.
std::string RandomText(std::mt19937* random, size_t count, bool with_nul) {
  std::string text;
  for (size_t i = 0; i < count; ++i) {
    uint32_t c = 0;
    switch ((*random)() % 4) {
      case 0:
        c = (*random)() % 0x80;
        break;
      case 1:
        c = 0x80 + (*random)() % (0xD800 - 0x80);
        break;
      case 2:
        c = 0xE000 + (*random)() % (0x10000 - 0xE000);
        break;
      default:
        c = 0x10000 + (*random)() % (0x110000 - 0x10000);
        break;
    }
    if (c == 0 && !with_nul) c = '0';
    if (c < 0x80) {
      text += static_cast<char>(c);
    } else if (c < 0x800) {
      text += {static_cast<char>(0xC0 | c >> 6),
               static_cast<char>(0x80 | (c & 0x3F))};
    } else if (c < 0x10000) {
      text += {static_cast<char>(0xE0 | c >> 12),
               static_cast<char>(0x80 | (c >> 6 & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    } else {
      text += {static_cast<char>(0xF0 | c >> 18),
               static_cast<char>(0x80 | (c >> 12 & 0x3F)),
               static_cast<char>(0x80 | (c >> 6 & 0x3F)),
               static_cast<char>(0x80 | (c & 0x3F))};
    }
  }
  return text;
}

// Our entries among everything the vault lists.
int CountEntriesUnder(const std::wstring& prefix) {
  DWORD count = 0;
  CREDENTIALW** list = nullptr;
  if (!CredEnumerateW(nullptr, 0, &count, &list)) return 0;
  int found = 0;
  for (DWORD i = 0; i < count; ++i) {
    if (std::wstring(list[i]->TargetName).rfind(prefix, 0) == 0) ++found;
  }
  CredFree(list);
  return found;
}

TEST_F(KeychainTest, ThousandRandomEntriesRoundTripAndLeaveNothing) {
  const std::string base =
      "services-test/" + std::to_string(GetCurrentProcessId()) + "/random/";
  const std::wstring prefix = kCredentialTargetPrefix + Utf8ToWide(base);
  std::mt19937 random(20261206);
  std::vector<std::pair<std::string, std::string>> entries;
  for (int i = 0; i < 1000; ++i) {
    // The index keeps keys apart: the vault compares target names without
    // regard to case.
    std::string key = base + std::to_string(i) + "/";
    key += RandomText(&random, random() % 40, false);
    std::string value =
        RandomText(&random, random() % (i % 50 == 0 ? 2000 : 40), true);
    entries.emplace_back(std::move(key), std::move(value));
  }
  entries[1].second = std::string("\0\0", 2);
  entries[2].second = std::string("a\0\xF0\x9F\x94\x91\0", 7);
  // Removes what a failure left behind.
  struct Cleanup {
    const std::vector<std::pair<std::string, std::string>>& entries;
    ~Cleanup() {
      for (const auto& entry : entries) {
        CredDeleteW(MakeCredentialTarget(entry.first).c_str(),
                    CRED_TYPE_GENERIC, 0);
      }
    }
  } cleanup{entries};

  for (const auto& [key, value] : entries) {
    ASSERT_EQ(Write(key, value).value, EncodableValue(true)) << key;
  }
  EXPECT_EQ(CountEntriesUnder(prefix), 1000);
  // Every third entry is replaced whole, by a shorter or longer value.
  for (size_t i = 0; i < entries.size(); i += 3) {
    entries[i].second = RandomText(&random, random() % 80, true);
    ASSERT_EQ(Write(entries[i].first, entries[i].second).value,
              EncodableValue(true));
  }
  EXPECT_EQ(CountEntriesUnder(prefix), 1000);
  for (const auto& [key, value] : entries) {
    const Answer answer = Read(key);
    const std::string* read = std::get_if<std::string>(&answer.value);
    ASSERT_NE(read, nullptr) << key;
    EXPECT_EQ(*read, value) << key;  // byte for byte, NULs included
  }
  for (const auto& [key, value] : entries) {
    ASSERT_EQ(Delete(key).value, EncodableValue(true)) << key;
  }
  for (size_t i = 0; i < entries.size(); i += 97) {
    ExpectSuccess(Read(entries[i].first), EncodableValue());
  }
  EXPECT_EQ(CountEntriesUnder(prefix), 0);
}

TEST_F(KeychainTest, ReadAndDeleteRefuseEveryBadArgumentShape) {
  const std::string key = TestKey("bad-shapes");
  ExpectSuccess(Write(key, "kept"), EncodableValue(true));
  for (const char* method : {"read", "delete"}) {
    ExpectErrorForEach(
        &harness_, kChannel, method,
        {std::nullopt, EncodableValue(), EncodableList{EncodableValue(key)},
         EncodableValue(key), Map({{"key", EncodableValue(int32_t{5})}}),
         Map({{"key", EncodableValue()}}),
         EncodableMap{{EncodableValue(int32_t{1}), EncodableValue(key)}}},
        "bad_args", "key required");
  }
  // None of the refused deletes touched the entry.
  ExpectSuccess(Read(key), EncodableValue("kept"));
}

TEST_F(KeychainTest, WriteRefusesEveryBadArgumentShapeAndStoresNothing) {
  const std::string key = TestKey("bad-write");
  ExpectErrorForEach(
      &harness_, kChannel, "write",
      {std::nullopt, EncodableList{EncodableValue(key), EncodableValue("v")},
       Map({{"key", EncodableValue(key)}}),
       Map({{"value", EncodableValue("v")}}),
       Map({{"key", EncodableValue(key)},
            {"value", EncodableValue(int64_t{42})}}),
       Map({{"key", EncodableValue(int32_t{1})},
            {"value", EncodableValue("v")}}),
       EncodableMap{{EncodableValue(int32_t{1}), EncodableValue(key)},
                    {EncodableValue("value"), EncodableValue("v")}}},
      "bad_args", "key+value required");
  ExpectSuccess(Read(key), EncodableValue());
}

}  // namespace
}  // namespace orvalin::testing
