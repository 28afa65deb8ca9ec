// The audio channel: the exact MCI strings through the command seam, then
// real playback of a generated tone through Wine's MCI.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "client/engine_method_result.h"
#include "client/standard_method_codec.h"
#include "services/audio_player_internal.h"
#include "services/audio_player_service.h"
#include "services/tests/channel_harness.h"
#include "win/windows.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/audio_player";
constexpr wchar_t kClose[] = L"close orvalin_audio";
constexpr wchar_t kSetMs[] = L"set orvalin_audio time format milliseconds";
constexpr wchar_t kPosition[] = L"status orvalin_audio position";
constexpr wchar_t kLength[] = L"status orvalin_audio length";
constexpr wchar_t kMode[] = L"status orvalin_audio mode";

// The fake MCI: records every command, refuses each command in |g_refused|
// once, answers status queries from |g_replies|, and like MCI refuses to
// open the alias while it is open.
std::vector<std::wstring> g_sent;
std::multiset<std::wstring> g_refused;
std::map<std::wstring, std::wstring> g_replies;
bool g_alias_open = false;

DWORD FakeMci(const wchar_t* command, wchar_t* buffer, UINT buffer_size) {
  const std::wstring text = command;
  g_sent.push_back(text);
  if (auto refused = g_refused.find(text); refused != g_refused.end()) {
    g_refused.erase(refused);
    return MCIERR_INVALID_DEVICE_NAME;
  }
  if (text.rfind(L"open ", 0) == 0) {
    if (g_alias_open) return MCIERR_DUPLICATE_ALIAS;
    g_alias_open = true;
  }
  if (text == kClose) g_alias_open = false;
  if (auto reply = g_replies.find(text); reply != g_replies.end()) {
    // The status buffer is exactly 128 units and comes zero-filled.
    if (buffer == nullptr || buffer_size != 128) return MCIERR_PARAM_OVERFLOW;
    for (UINT i = 0; i < buffer_size; ++i) {
      if (buffer[i] != L'\0') return MCIERR_PARAM_OVERFLOW;
    }
    reply->second.copy(buffer, buffer_size - 1);
  }
  return 0;
}

EncodableValue State(int64_t position, int64_t duration, bool playing) {
  return Map({{"positionMs", EncodableValue(position)},
              {"durationMs", EncodableValue(duration)},
              {"isPlaying", EncodableValue(playing)}});
}

std::wstring Open(const std::wstring& path, bool mpegvideo = true) {
  return L"open \"" + path + L"\"" + (mpegvideo ? L" type mpegvideo" : L"") +
         L" alias orvalin_audio";
}

class AudioPlayerTest : public ::testing::Test {
 protected:
  AudioPlayerTest() { RegisterAudioPlayerChannel(harness_.messenger()); }
  ~AudioPlayerTest() override { Call("dispose"); }

  Answer Load(const std::string& url) {
    return harness_.Call(kChannel, "load", Map({{"url", EncodableValue(url)}}));
  }
  Answer Call(const char* method,
              const std::optional<EncodableValue>& arguments = {}) {
    return harness_.Call(kChannel, method, arguments);
  }

  ChannelHarness harness_;
};

class AudioCommandTest : public AudioPlayerTest {
 protected:
  AudioCommandTest() {
    previous_ = SetMciCommandSender(&FakeMci);
    g_sent.clear();
    g_refused.clear();
    g_alias_open = false;
    g_replies = {{kPosition, L"250"}, {kLength, L"2000"}, {kMode, L"stopped"}};
  }
  ~AudioCommandTest() override {
    Call("dispose");
    SetMciCommandSender(previous_);
  }

  MciCommandSender previous_ = nullptr;
};

TEST_F(AudioCommandTest, LoadClosesWhatIsOpenOpensAndReportsTheState) {
  for (const char* method : {"play", "pause", "seek", "dispose"}) {
    ExpectSuccess(Call(method, Map({{"positionMs", EncodableValue(9)}})));
  }
  ExpectSuccess(Call("state"), State(0, 0, false));
  EXPECT_TRUE(g_sent.empty()) << "nothing is sent before a load";
  ExpectSuccess(Load("C:\\rec\\녹음 1.m4a"), State(250, 2000, false));
  ExpectSuccess(Load("C:\\two.wav"), State(250, 2000, false));
  ExpectSuccess(Call("dispose"));
  ExpectSuccess(Call("dispose"));
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{
                        Open(L"C:\\rec\\녹음 1.m4a"), kSetMs, kPosition,
                        kLength, kMode, kClose, Open(L"C:\\two.wav"), kSetMs,
                        kPosition, kLength, kMode, kClose}));
}

TEST_F(AudioCommandTest,
       RefusedOpenIsRetriedWithoutDeviceTypeOrAfterClosingTheAlias) {
  g_refused = {Open(L"C:\\a.wav")};
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  g_refused = {Open(L"C:\\bad.wav"), Open(L"C:\\bad.wav", false)};
  g_sent.clear();
  ExpectError(Load("C:\\bad.wav"), kAudioLoadFailed);
  // Nothing stays open: play and dispose send nothing.
  ExpectSuccess(Call("play"));
  ExpectSuccess(Call("dispose"));
  ExpectSuccess(Call("state"), State(0, 0, false));
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{kClose, Open(L"C:\\bad.wav"),
                                               Open(L"C:\\bad.wav", false)}));

  // A close that fails leaves the alias taken: the next open closes it first.
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  g_refused = {kClose};
  ExpectSuccess(Call("dispose"));
  g_sent.clear();
  ExpectSuccess(Load("C:\\b.wav"), State(250, 2000, false));
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{Open(L"C:\\b.wav"), kClose,
                                               Open(L"C:\\b.wav"), kSetMs,
                                               kPosition, kLength, kMode}));
}

TEST_F(AudioCommandTest, PlayPauseAndSeekSendTheirCommandsAndIgnoreFailures) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  g_refused = {L"play orvalin_audio", L"pause orvalin_audio"};
  g_sent.clear();
  ExpectSuccess(Call("play"));
  ExpectSuccess(Call("pause"));
  // Integers only, clamped at 0 (both sides of 0); other shapes seek to 0.
  const std::vector<std::pair<EncodableValue, std::wstring>> seeks = {
      {int32_t{1}, L"1"},
      {int32_t{0}, L"0"},
      {int32_t{-1}, L"0"},
      {int64_t{-500}, L"0"},
      {int64_t{1} << 32, L"4294967296"},
      {1500.0, L"0"},
      {"1500", L"0"}};
  std::vector<std::wstring> expected = {L"play orvalin_audio",
                                        L"pause orvalin_audio"};
  for (const auto& [position, sent] : seeks) {
    ExpectSuccess(Call("seek", Map({{"positionMs", position}})));
    expected.push_back(L"seek orvalin_audio to " + sent);
  }
  for (const auto& arguments :
       {std::optional<EncodableValue>(),
        std::optional<EncodableValue>(EncodableList{})}) {
    ExpectSuccess(Call("seek", arguments));
    expected.push_back(L"seek orvalin_audio to 0");
  }
  EXPECT_EQ(g_sent, expected);
}

TEST_F(AudioCommandTest, StateReadsLeadingIntegersAndOnlyTheExactWordPlaying) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  for (const wchar_t* reply : {L"Playing", L"paused", L"playing ", L"play"}) {
    g_replies[kMode] = reply;
    ExpectSuccess(Call("state"), State(250, 2000, false));
  }
  g_replies = {{kPosition, L"1234ms"}, {kLength, L"long"}, {kMode, L"playing"}};
  g_refused = {kMode};
  ExpectSuccess(Call("state"), State(1234, 0, false));
  g_replies[kPosition] = L"-20";
  g_refused = {kLength};
  ExpectSuccess(Call("state"), State(-20, 0, true));
}

TEST_F(AudioCommandTest, LoadRefusesBadUrlsBeforeSendingAnything) {
  const std::vector<std::pair<std::optional<EncodableValue>, ServiceError>>
      refusals = {
          {std::nullopt, kAudioUrlUnusable},
          {EncodableList{EncodableValue("C:\\a")}, kAudioUrlUnusable},
          // A quote would end the element and splice the rest in as MCI words.
          {Map({{"url", EncodableValue("C:\\a\" alias other wait \"")}}),
           kAudioUrlUnusable},
          {Map({{"path", EncodableValue("C:\\a.wav")}}), kAudioUrlRequired},
          {Map({{"url", EncodableValue(int32_t{3})}}), kAudioUrlEmpty},
          {Map({{"url", EncodableValue()}}), kAudioUrlEmpty},
          {Map({{"url", EncodableValue("")}}), kAudioUrlEmpty}};
  for (const auto& [arguments, error] : refusals) {
    ExpectError(Call("load", arguments), error);
  }
  EXPECT_TRUE(g_sent.empty());
}

// Only this machine's drives and the web: a remote or ambiguous location
// would make Windows authenticate to another host, or resolve against the
// folder a URL-scheme start inherited.
TEST_F(AudioCommandTest, LoadOpensOnlyLocalDrivesAndTheWeb) {
  using namespace std::string_literals;
  for (const std::string& url : {"\\\\server\\share\\a.wav"s,
                                 "//server/share/a.wav"s,
                                 "\\/server/share/a.wav"s,
                                 "/\\server\\share\\a.wav"s,
                                 "\\\\?\\C:\\a.wav"s,
                                 "\\\\.\\C:\\a.wav"s,
                                 "//?/C:/a.wav"s,
                                 "//./pipe/x"s,
                                 "\\\\?\\UNC\\server\\share\\a.wav"s,
                                 "file://server/share/a.wav"s,
                                 "FILE://server/a.wav"s,
                                 "file:////server/share/a.wav"s,
                                 "file://localhost/C:/a.wav"s,
                                 "file:///a.wav"s,
                                 "a.wav"s,
                                 "rec\\a.wav"s,
                                 "..\\a.wav"s,
                                 "\\a.wav"s,
                                 "/a.wav"s,
                                 "C:a.wav"s,
                                 "C:"s,
                                 "C:\\"s,
                                 "1:\\a.wav"s,
                                 "ftp://host/a.wav"s,
                                 "smb://server/a.wav"s,
                                 "mms://host/a"s,
                                 "http:a.wav"s,
                                 "http://"s,
                                 "https:///a.wav"s,
                                 "https:\\\\host\\a"s,
                                 "C:\\a.wav\0.txt"s,
                                 "https://host/a.wav\0"s}) {
    ExpectError(Load(url), kAudioUrlUnusable);
  }
  EXPECT_TRUE(g_sent.empty()) << "nothing refused reaches MCI";
  for (const std::string& url :
       {"C:\\rec\\a.wav"s, "d:/rec/a.wav"s, "Z:\\\\double\\a.wav"s,
        "file:///C:/rec/a.wav"s, "FILE:///c:\\a.wav"s, "http://host/a.wav"s,
        "HTTPS://cdn.example.com:8443/a.m4a?x=1"s}) {
    EXPECT_EQ(Load(url).kind, Answer::Kind::kSuccess) << url;
  }
}

// Counts MCI commands that start while another is still in flight.
std::atomic<int> g_in_flight{0};
std::atomic<int> g_overlaps{0};
DWORD SlowMci(const wchar_t*, wchar_t*, UINT) {
  if (g_in_flight++ > 0) ++g_overlaps;
  Sleep(1);
  --g_in_flight;
  return 0;
}

// The platform thread alone calls the player, but its lock must still
// serialise every MCI command should a second thread ever call.
TEST(AudioLockTest, CommandsFromTwoThreadsNeverOverlap) {
  const MciCommandSender previous = SetMciCommandSender(&SlowMci);
  const auto run = [](const char* method, int times) {
    for (int i = 0; i < times; ++i) {
      HandleAudioPlayerCall(
          Call(method, std::make_unique<EncodableValue>(
                           Map({{"url", EncodableValue("C:\\a.wav")}}))),
          std::make_unique<flutter::EngineMethodResult<EncodableValue>>(
              [](const uint8_t*, size_t) {},
              &flutter::StandardMethodCodec::Instance()));
    }
  };
  run("load", 1);
  std::thread player([&run] { run("play", 40); });
  run("state", 40);
  player.join();
  run("dispose", 1);
  SetMciCommandSender(previous);
  EXPECT_EQ(g_overlaps, 0);
}

int64_t Number(const Answer& state, const char* key) {
  return std::get<int64_t>(
      std::get<EncodableMap>(state.value).at(EncodableValue(key)));
}

// Real MCI under Wine, with ALSA's default device a null sink.
TEST_F(AudioPlayerTest, PlaysAndReportsTheTonesLength) {
  Answer loaded = Load(std::filesystem::absolute("tone.wav").u8string());
  EXPECT_NEAR(Number(loaded, "durationMs"), 2000, 50);
  EXPECT_EQ(Number(loaded, "positionMs"), 0);

  ExpectSuccess(Call("play"));
  Answer state = Call("state");
  for (int i = 0; i < 30 && Number(state, "positionMs") <= 0; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    state = Call("state");
  }
  EXPECT_GT(Number(state, "positionMs"), 0);
  EXPECT_EQ(std::get<EncodableMap>(state.value)[EncodableValue("isPlaying")],
            EncodableValue(true));

  // A missing file fails and leaves nothing open, not even in MCI.
  ExpectError(Load("C:\\no such folder\\missing.wav"), kAudioLoadFailed);
  ExpectSuccess(Call("state"), State(0, 0, false));
  wchar_t reply[128] = {};
  EXPECT_NE(mciSendStringW(kMode, reply, 128, nullptr), 0u);
}

}  // namespace
}  // namespace orvalin::testing
