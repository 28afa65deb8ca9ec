// All seven channels registered together: each answers, each refuses every
// name but its own (other case and a trailing space too), the relay starts
// pushing once its channel is registered, and every method answers every
// argument shape the Dart side could send at once, exactly once, as its
// contract says.
#include "services/service_channels.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>
#include <wincred.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "services/auth_callback_relay.h"
#include "services/keychain_service.h"
#include "services/profile_image_internal.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

const std::map<std::string, std::vector<std::string>>& ChannelTable() {
  static const auto* table =
      new std::map<std::string, std::vector<std::string>>{
          {"orvalin.ai/keychain", {"read", "write", "delete"}},
          {"orvalin.ai/app_storage", {"applicationSupportDirectory"}},
          {"orvalin.ai/profile_image", {"pickProfileImage"}},
          {"orvalin.ai/auth_callback", {"takePendingAuthCallbackUrls"}},
          {"orvalin.ai/auth_session", {"startAuthSession"}},
          {"orvalin.ai/audio_player",
           {"load", "play", "pause", "seek", "state", "dispose"}},
          {"orvalin.ai/pdf_export", {"savePdf"}},
      };
  return *table;
}

class ServiceChannelsTest : public ::testing::Test {
 protected:
  ServiceChannelsTest() { AuthCallbackRelay::Instance().TakePending(); }
  ~ServiceChannelsTest() override {
    AuthCallbackRelay::Instance().DetachChannel();
    AuthCallbackRelay::Instance().TakePending();
  }
  ChannelHarness harness_;
};

TEST_F(ServiceChannelsTest, EveryChannelRefusesEveryNameButItsOwn) {
  RegisterServiceChannels(harness_.messenger(), nullptr);
  std::set<std::string> every_name = {"authCallback", "unknownMethod", ""};
  for (const auto& [channel, methods] : ChannelTable()) {
    for (const std::string& method : methods) {
      // Names match exactly: no case folding, no trimming.
      std::string other_case = method;
      other_case[0] ^= 0x20;
      every_name.insert({method, other_case, method + " "});
    }
  }
  for (const auto& [channel, methods] : ChannelTable()) {
    ASSERT_TRUE(harness_.fake().HasCallback(channel)) << channel;
    for (const std::string& name : every_name) {
      if (std::find(methods.begin(), methods.end(), name) != methods.end()) {
        continue;
      }
      EXPECT_EQ(harness_.Call(channel, name, Map({})).kind,
                Answer::Kind::kNotImplemented)
          << channel << " " << name;
    }
  }
}

TEST_F(ServiceChannelsTest, RelayPushesOnlyAfterRegistration) {
  AuthCallbackRelay::Instance().Deliver(L"orvalinai://login-callback?early");
  RegisterServiceChannels(harness_.messenger(), nullptr);
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  AuthCallbackRelay::Instance().Deliver(L"orvalinai://login-callback?late");
  EXPECT_EQ(harness_.PushedAuthCallbacks(),
            std::vector<EncodableValue>{
                EncodableValue("orvalinai://login-callback?late")});
  EXPECT_EQ(
      harness_.Call("orvalin.ai/auth_callback", "takePendingAuthCallbackUrls")
          .value,
      EncodableValue(
          EncodableList{EncodableValue("orvalinai://login-callback?early"),
                        EncodableValue("orvalinai://login-callback?late")}));
}

using Kind = Answer::Kind;

const std::string kHuge(1 << 20, 'h');  // 1 MiB

// A value of every kind but a map; |text| stands in for the string kinds.
std::vector<EncodableValue> Scalars(const std::string& text) {
  return {EncodableValue(),
          EncodableValue(true),
          EncodableValue(int32_t{-7}),
          EncodableValue(int64_t{1} << 40),
          EncodableValue(1500.0),
          EncodableValue(text),
          EncodableValue(std::vector<uint8_t>{0, 255}),
          EncodableValue(std::vector<int32_t>{1, 2}),
          EncodableValue(std::vector<int64_t>{3}),
          EncodableValue(std::vector<float>{1.5f}),
          EncodableValue(std::vector<double>{2.5}),
          EncodableValue(EncodableList{EncodableValue(text)})};
}

// Every argument shape: absent (nullptr), each scalar kind, huge strings,
// maps holding each argument name with every kind of value, maps keyed by
// other kinds, and maps whose entries are all of the right kinds.
std::vector<std::unique_ptr<EncodableValue>> Shapes(const std::string& key) {
  std::vector<std::unique_ptr<EncodableValue>> shapes;
  shapes.push_back(nullptr);
  for (EncodableValue& value : Scalars("")) {
    shapes.push_back(std::make_unique<EncodableValue>(std::move(value)));
  }
  shapes.push_back(std::make_unique<EncodableValue>(kHuge));
  shapes.push_back(std::make_unique<EncodableValue>(EncodableMap{}));
  for (const char* name : {"key", "value", "url", "positionMs"}) {
    for (EncodableValue& value : Scalars(key)) {
      shapes.push_back(std::make_unique<EncodableValue>(Map({{name, value}})));
    }
    // The right name under keys of other kinds never matches.
    shapes.push_back(std::make_unique<EncodableValue>(
        EncodableMap{{EncodableValue(std::vector<uint8_t>(name, name + 3)),
                      EncodableValue(key)},
                     {EncodableValue(int32_t{1}), EncodableValue(key)}}));
  }
  const auto add = [&shapes](EncodableValue map) {
    shapes.push_back(std::make_unique<EncodableValue>(std::move(map)));
  };
  add(Map({{"key", EncodableValue(key)}, {"value", EncodableValue(kHuge)}}));
  add(Map({{"key", EncodableValue(key)}, {"value", EncodableValue(1)}}));
  add(Map({{"key", EncodableValue(key)}, {"value", EncodableValue("v")}}));
  add(Map({{"key", EncodableValue(kHuge)}, {"value", EncodableValue("v")}}));
  add(Map({{"url", EncodableValue(kHuge)}}));
  add(Map({{"url", EncodableValue("")}}));
  add(Map({{"url", EncodableValue("Z:\\no\\such\\recording.wav")},
           {"positionMs", EncodableValue(int64_t{-500})}}));
  add(Map({{"url", EncodableValue("https://orvalin-dev.supabase.co/auth/v2/")},
           {"positionMs", EncodableValue(int32_t{1500})}}));
  return shapes;
}

// The string under |name| in a map argument, as the services look it up.
const std::string* StringArg(const EncodableValue* args, const char* name) {
  const auto* map = args ? std::get_if<EncodableMap>(args) : nullptr;
  if (map == nullptr) return nullptr;
  auto it = map->find(EncodableValue(name));
  return it == map->end() ? nullptr : std::get_if<std::string>(&it->second);
}

bool HasKey(const EncodableValue* args, const char* name) {
  const auto* map = args ? std::get_if<EncodableMap>(args) : nullptr;
  return map != nullptr && map->count(EncodableValue(name)) != 0;
}

bool IsStateMap(const EncodableValue& value) {
  const auto* map = std::get_if<EncodableMap>(&value);
  return map != nullptr && map->size() == 3 &&
         std::holds_alternative<int64_t>(
             map->at(EncodableValue("positionMs"))) &&
         std::holds_alternative<int64_t>(
             map->at(EncodableValue("durationMs"))) &&
         std::holds_alternative<bool>(map->at(EncodableValue("isPlaying")));
}

using Contract = std::function<void(const EncodableValue*, const Answer&)>;

struct Method {
  const char* channel;
  const char* name;
  Contract contract;
};

const std::vector<Method>& Methods() {
  static const auto* methods = new std::vector<Method>{
      {"orvalin.ai/keychain", "read",
       [](const EncodableValue* args, const Answer& answer) {
         if (!StringArg(args, "key")) {
           return ExpectError(answer, "bad_args", "key required");
         }
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         EXPECT_TRUE(answer.value.IsNull() ||
                     std::holds_alternative<std::string>(answer.value));
       }},
      {"orvalin.ai/keychain", "write",
       [](const EncodableValue* args, const Answer& answer) {
         if (!StringArg(args, "key") || !StringArg(args, "value")) {
           return ExpectError(answer, "bad_args", "key+value required");
         }
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         EXPECT_TRUE(std::holds_alternative<bool>(answer.value));
       }},
      {"orvalin.ai/keychain", "delete",
       [](const EncodableValue* args, const Answer& answer) {
         if (!StringArg(args, "key")) {
           return ExpectError(answer, "bad_args", "key required");
         }
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         // Only a key too long for a target name may fail to delete.
         if (StringArg(args, "key")->size() <
             CRED_MAX_GENERIC_TARGET_NAME_LENGTH) {
           EXPECT_EQ(answer.value, EncodableValue(true));
         } else {
           EXPECT_TRUE(std::holds_alternative<bool>(answer.value));
         }
       }},
      {"orvalin.ai/app_storage", "applicationSupportDirectory",
       [](const EncodableValue*, const Answer& answer) {
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         const auto* path = std::get_if<std::string>(&answer.value);
         const std::string tail = "\\Orvalin AI";
         EXPECT_TRUE(path && path->size() > tail.size() &&
                     path->substr(path->size() - tail.size()) == tail);
       }},
      {"orvalin.ai/profile_image", "pickProfileImage",
       [](const EncodableValue*, const Answer& answer) {
         // The dialog stand-in chooses nothing: a cancelled pick.
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         EXPECT_TRUE(answer.value.IsNull());
       }},
      {"orvalin.ai/pdf_export", "savePdf",
       [](const EncodableValue*, const Answer& answer) {
         ExpectError(answer, "pdf_unsupported_windows",
                     "Windows 버전 PDF 출력은 다음 업데이트에서 "
                     "지원됩니다.");
       }},
      {"orvalin.ai/auth_callback", "takePendingAuthCallbackUrls",
       [](const EncodableValue*, const Answer& answer) {
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         EXPECT_EQ(answer.value, EncodableValue(EncodableList{}));
       }},
      {"orvalin.ai/auth_session", "startAuthSession",
       [](const EncodableValue* args, const Answer& answer) {
         if (!args || !std::holds_alternative<EncodableMap>(*args)) {
           return ExpectError(answer, "invalid_auth_session_args",
                              "missing arguments");
         }
         if (!StringArg(args, "url")) {
           return ExpectError(answer, "invalid_auth_session_args",
                              "url required");
         }
         // No shape carries an approved URL: the browser never opens.
         ExpectError(answer, "invalid_auth_session_url",
                     "unapproved authentication URL");
       }},
      {"orvalin.ai/audio_player", "load",
       [](const EncodableValue* args, const Answer& answer) {
         if (!args || !std::holds_alternative<EncodableMap>(*args)) {
           return ExpectError(answer, "invalid_audio_url",
                              "재생할 녹음 주소를 확인하지 못했습니다.");
         }
         if (!HasKey(args, "url")) {
           return ExpectError(answer, "invalid_audio_url", "url required");
         }
         const std::string* url = StringArg(args, "url");
         if (!url || url->empty()) {
           return ExpectError(answer, "invalid_audio_url", "url empty");
         }
         // No shape names a recording that exists.
         ExpectError(answer, "audio_load_failed",
                     "오디오를 불러오지 못했습니다.");
       }},
      {"orvalin.ai/audio_player", "state",
       [](const EncodableValue*, const Answer& answer) {
         EXPECT_EQ(answer.kind, Kind::kSuccess);
         EXPECT_TRUE(IsStateMap(answer.value));
       }},
  };
  return *methods;
}

class ChannelAbuseTest : public ::testing::Test {
 protected:
  ChannelAbuseTest() {
    previous_dialog_ = SetImageDialogRunner(
        [](HWND) -> std::wstring { return L""; });  // never a real dialog
    AuthCallbackRelay::Instance().TakePending();
    RegisterServiceChannels(harness_.messenger(), nullptr);
  }
  ~ChannelAbuseTest() override {
    for (const std::string& key : {key_, kHuge}) {
      CredDeleteW(MakeCredentialTarget(key).c_str(), CRED_TYPE_GENERIC, 0);
    }
    AuthCallbackRelay::Instance().DetachChannel();
    AuthCallbackRelay::Instance().TakePending();
    SetImageDialogRunner(previous_dialog_);
  }

  const std::string key_ =
      "services-test/" + std::to_string(GetCurrentProcessId()) + "/abuse";
  ImageDialogRunner previous_dialog_ = nullptr;
  ChannelHarness harness_;
};

TEST_F(ChannelAbuseTest, EveryMethodAnswersEveryShapeByItsContract) {
  const std::vector<std::unique_ptr<EncodableValue>> shapes = Shapes(key_);
  std::vector<Method> methods = Methods();
  // Methods that answer success without a value, whatever they are given.
  for (const char* name : {"play", "pause", "seek", "dispose"}) {
    methods.push_back({"orvalin.ai/audio_player", name,
                       [](const EncodableValue*, const Answer& answer) {
                         EXPECT_EQ(answer.kind, Kind::kSuccess);
                         EXPECT_TRUE(answer.value.IsNull());
                       }});
  }
  // Names no channel knows, the empty one and a huge one included.
  for (const auto& [channel, unused] : ChannelTable()) {
    for (const char* name : {"", "LOAD", "savepdf", kHuge.c_str()}) {
      methods.push_back({channel.c_str(), name,
                         [](const EncodableValue*, const Answer& answer) {
                           EXPECT_EQ(answer.kind, Kind::kNotImplemented);
                         }});
    }
  }
  for (const Method& method : methods) {
    for (size_t i = 0; i < shapes.size(); ++i) {
      SCOPED_TRACE(std::string(method.channel) + " " +
                   std::string(method.name).substr(0, 40) + " shape " +
                   std::to_string(i));
      const EncodableValue* args = shapes[i].get();
      const Answer answer = harness_.Call(
          method.channel, method.name,
          args ? std::make_unique<EncodableValue>(*args) : nullptr);
      ASSERT_NE(answer.kind, Kind::kNone) << "unanswered";
      EXPECT_FALSE(answer.has_details);
      method.contract(args, answer);
    }
  }
  // Nothing reached the relay: no push, nothing pending.
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  EXPECT_TRUE(AuthCallbackRelay::Instance().TakePending().empty());
}

}  // namespace
}  // namespace orvalin::testing
