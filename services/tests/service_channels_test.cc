// All seven channels registered together: each answers, each refuses the
// names of the other rows, and the relay starts pushing once its channel is
// registered.
#include "services/service_channels.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "services/auth_callback_relay.h"
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

TEST_F(ServiceChannelsTest, EveryChannelRefusesTheNamesOfTheOtherRows) {
  RegisterServiceChannels(harness_.messenger(), nullptr);
  std::set<std::string> every_name = {"authCallback", "unknownMethod", ""};
  for (const auto& [channel, methods] : ChannelTable()) {
    every_name.insert(methods.begin(), methods.end());
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

}  // namespace
}  // namespace orvalin::testing
