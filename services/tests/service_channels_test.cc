// All seven channels registered together: each answers, each refuses every
// name but its own (other case and a trailing space too), and every method
// answers every argument shape exactly once.
#include "services/service_channels.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "services/audio_player_internal.h"
#include "services/auth_callback_relay.h"
#include "services/pdf_export_service.h"
#include "services/profile_image_internal.h"
#include "services/tests/channel_harness.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

const std::map<std::string, std::vector<std::string>> kChannelTable = {
    {"orvalin.ai/keychain", {"read", "write", "delete"}},
    {"orvalin.ai/app_storage", {"applicationSupportDirectory"}},
    {"orvalin.ai/profile_image", {"pickProfileImage"}},
    {"orvalin.ai/auth_callback", {"takePendingAuthCallbackUrls"}},
    {"orvalin.ai/auth_session", {"startAuthSession"}},
    {"orvalin.ai/audio_player",
     {"load", "play", "pause", "seek", "state", "dispose"}},
    {"orvalin.ai/pdf_export", {"savePdf"}},
};

int g_dialogs = 0;  // dialogs the handlers opened

class ServiceChannelsTest : public ::testing::Test {
 protected:
  ServiceChannelsTest() {
    AuthCallbackRelay::Instance().TakePending();
    g_dialogs = 0;
    previous_dialog_ = SetImageDialogRunner([](HWND) -> std::wstring {
      ++g_dialogs;
      return L"";
    });
    // Every MCI command fails: no recording opens.
    previous_mci_ = SetMciCommandSender(
        [](const wchar_t*, wchar_t*, UINT) { return DWORD{263}; });
  }
  ~ServiceChannelsTest() override {
    AuthCallbackRelay::Instance().DetachChannel();
    AuthCallbackRelay::Instance().TakePending();
    SetImageDialogRunner(previous_dialog_);
    SetMciCommandSender(previous_mci_);
  }

  ChannelHarness harness_;
  ImageDialogRunner previous_dialog_ = nullptr;
  MciCommandSender previous_mci_ = nullptr;
};

TEST_F(ServiceChannelsTest, EveryChannelRefusesEveryNameButItsOwn) {
  RegisterServiceChannels(harness_.messenger(), nullptr);
  std::set<std::string> every_name = {"authCallback", "unknownMethod", ""};
  for (const auto& [channel, methods] : kChannelTable) {
    for (const std::string& method : methods) {
      const char other_case = static_cast<char>(method[0] ^ 0x20);
      every_name.insert({method, other_case + method.substr(1), method + " "});
    }
  }
  for (const auto& [channel, methods] : kChannelTable) {
    for (const std::string& name : every_name) {
      if (std::find(methods.begin(), methods.end(), name) == methods.end()) {
        EXPECT_EQ(harness_.Call(channel, name, Map({})).kind,
                  Answer::Kind::kNotImplemented)
            << channel << " " << name;
      }
    }
  }
  EXPECT_EQ(g_dialogs, 0);
}

TEST_F(ServiceChannelsTest, EveryMethodAnswersEveryShapeExactlyOnce) {
  RegisterServiceChannels(harness_.messenger(), nullptr);
  const std::string huge(1 << 20, 'h');
  const std::string key = "services-test/abuse";
  const std::vector<EncodableValue> scalars = {
      EncodableValue(),
      EncodableValue(true),
      EncodableValue(int32_t{-7}),
      EncodableValue(int64_t{1} << 40),
      EncodableValue(1500.0),
      EncodableValue(key),
      EncodableValue(huge),
      EncodableValue(std::vector<uint8_t>{0, 255}),
      EncodableValue(std::vector<double>{2.5}),
      EncodableValue(EncodableList{EncodableValue(key)})};
  std::vector<std::optional<EncodableValue>> shapes = {std::nullopt,
                                                       EncodableMap{}};
  for (const EncodableValue& value : scalars) {
    shapes.push_back(value);
    for (const char* name : {"key", "value", "url", "positionMs"}) {
      shapes.push_back(Map({{name, value}}));
    }
  }
  shapes.push_back(
      Map({{"key", EncodableValue(key)}, {"value", EncodableValue(huge)}}));
  shapes.push_back(Map({{"url", EncodableValue("Z:\\no\\such.wav")},
                        {"positionMs", EncodableValue(int64_t{-500})}}));
  for (const auto& [channel, methods] : kChannelTable) {
    for (const std::string& method : methods) {
      for (size_t i = 0; i < shapes.size(); ++i) {
        SCOPED_TRACE(channel + " " + method + " shape " + std::to_string(i));
        const uint64_t token = harness_.Send(channel, method, shapes[i]);
        const Answer answer = harness_.AnswerFor(token);
        EXPECT_EQ(harness_.fake().ResponseCount(token), 1);
        EXPECT_FALSE(answer.has_details);
        if (method == "savePdf") ExpectError(answer, kPdfUnsupported);
      }
    }
  }
  // One dialog per pick; nothing reached the relay.
  EXPECT_EQ(g_dialogs, static_cast<int>(shapes.size()));
  EXPECT_TRUE(harness_.PushedAuthCallbacks().empty());
  EXPECT_TRUE(AuthCallbackRelay::Instance().TakePending().empty());
  harness_.Call("orvalin.ai/keychain", "delete",
                Map({{"key", EncodableValue(key)}}));
}

}  // namespace
}  // namespace orvalin::testing
