// The audio channel: the exact MCI strings through the command seam, then
// real playback of a generated tone through Wine's MCI.
// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <gtest/gtest.h>
#include <mmsystem.h>

#include <chrono>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "services/audio_player_internal.h"
#include "services/audio_player_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/audio_player";
constexpr char kInvalidUrl[] = "재생할 녹음 주소를 확인하지 못했습니다.";

// The fake MCI: records every command and answers as told.
std::vector<std::wstring> g_sent;
std::set<std::wstring> g_refused;
std::map<std::wstring, std::wstring> g_status_replies;

DWORD FakeMci(const wchar_t* command, wchar_t* buffer, UINT buffer_size) {
  g_sent.push_back(command);
  if (g_refused.count(command) != 0) {
    return MCIERR_INVALID_DEVICE_NAME;
  }
  auto reply = g_status_replies.find(command);
  if (reply != g_status_replies.end()) {
    if (buffer == nullptr || buffer_size != 128) {
      return MCIERR_PARAM_OVERFLOW;
    }
    for (UINT i = 0; i < buffer_size; ++i) {
      if (buffer[i] != L'\0') {
        return MCIERR_PARAM_OVERFLOW;  // the buffer must come zero-filled
      }
    }
    wcsncpy(buffer, reply->second.c_str(), buffer_size - 1);
  }
  return 0;
}

EncodableValue State(int64_t position, int64_t duration, bool playing) {
  return Map({{"positionMs", EncodableValue(position)},
              {"durationMs", EncodableValue(duration)},
              {"isPlaying", EncodableValue(playing)}});
}

class AudioPlayerBase : public ::testing::Test {
 protected:
  AudioPlayerBase() { RegisterAudioPlayerChannel(harness_.messenger()); }

  Answer Load(const std::string& url) {
    return harness_.Call(kChannel, "load", Map({{"url", EncodableValue(url)}}));
  }
  Answer Call(const char* method) { return harness_.Call(kChannel, method); }
  Answer Seek(EncodableValue position) {
    return harness_.Call(kChannel, "seek", Map({{"positionMs", position}}));
  }

  ChannelHarness harness_;
};

class AudioCommandTest : public AudioPlayerBase {
 protected:
  AudioCommandTest() {
    previous_ = SetMciCommandSender(&FakeMci);
    g_sent.clear();
    g_refused.clear();
    g_status_replies = {
        {L"status orvalin_audio position", L"250"},
        {L"status orvalin_audio length", L"2000"},
        {L"status orvalin_audio mode", L"stopped"},
    };
  }
  ~AudioCommandTest() override {
    Call("dispose");
    SetMciCommandSender(previous_);
  }

  MciCommandSender previous_ = nullptr;
};

TEST_F(AudioCommandTest, NothingIsSentBeforeLoad) {
  ExpectSuccess(Call("play"));
  ExpectSuccess(Call("pause"));
  ExpectSuccess(Seek(EncodableValue(int64_t{1500})));
  ExpectSuccess(Call("dispose"));
  Answer state = Call("state");
  EXPECT_EQ(state.kind, Answer::Kind::kSuccess);
  EXPECT_EQ(state.value, State(0, 0, false));
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(AudioCommandTest, LoadOpensSetsMillisecondsAndReportsTheState) {
  Answer answer = Load("C:\\rec\\녹음 1.m4a");
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
  // Both numbers travel as 64-bit integers.
  EXPECT_EQ(answer.value, State(250, 2000, false));
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{
                        L"open \"C:\\rec\\녹음 1.m4a\" type mpegvideo alias "
                        L"orvalin_audio",
                        L"set orvalin_audio time format milliseconds",
                        L"status orvalin_audio position",
                        L"status orvalin_audio length",
                        L"status orvalin_audio mode",
                    }));
}

TEST_F(AudioCommandTest, RefusedMpegvideoOpenIsRetriedWithoutDeviceType) {
  g_refused.insert(L"open \"C:\\a.wav\" type mpegvideo alias orvalin_audio");
  g_status_replies.clear();
  EXPECT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  ASSERT_GE(g_sent.size(), 3u);
  EXPECT_EQ(g_sent[1], L"open \"C:\\a.wav\" alias orvalin_audio");
  EXPECT_EQ(g_sent[2], L"set orvalin_audio time format milliseconds");
}

TEST_F(AudioCommandTest, FailedLoadClosesTheOldRecordingAndLeavesNothingOpen) {
  ASSERT_EQ(Load("C:\\first.wav").kind, Answer::Kind::kSuccess);
  g_refused = {L"open \"C:\\bad.wav\" type mpegvideo alias orvalin_audio",
               L"open \"C:\\bad.wav\" alias orvalin_audio"};
  g_sent.clear();
  ExpectError(Load("C:\\bad.wav"), "audio_load_failed",
              "오디오를 불러오지 못했습니다.");
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{
                        L"close orvalin_audio",
                        L"open \"C:\\bad.wav\" type mpegvideo alias "
                        L"orvalin_audio",
                        L"open \"C:\\bad.wav\" alias orvalin_audio",
                    }));
  g_sent.clear();
  ExpectSuccess(Call("play"));
  EXPECT_EQ(Call("state").value, State(0, 0, false));
  ExpectSuccess(Call("dispose"));
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(AudioCommandTest, SecondLoadClosesTheFirstAndDisposeClosesOnce) {
  ASSERT_EQ(Load("C:\\one.wav").kind, Answer::Kind::kSuccess);
  g_sent.clear();
  ASSERT_EQ(Load("C:\\two.wav").kind, Answer::Kind::kSuccess);
  ASSERT_GE(g_sent.size(), 2u);
  EXPECT_EQ(g_sent[0], L"close orvalin_audio");
  EXPECT_EQ(g_sent[1],
            L"open \"C:\\two.wav\" type mpegvideo alias orvalin_audio");

  g_sent.clear();
  ExpectSuccess(Call("dispose"));
  ExpectSuccess(Call("dispose"));
  EXPECT_EQ(g_sent, std::vector<std::wstring>{L"close orvalin_audio"});
}

TEST_F(AudioCommandTest, PlayPauseSendTheirCommandsAndIgnoreFailures) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  g_refused = {L"play orvalin_audio", L"pause orvalin_audio"};
  g_sent.clear();
  ExpectSuccess(Call("play"));
  ExpectSuccess(Call("pause"));
  EXPECT_EQ(g_sent, (std::vector<std::wstring>{L"play orvalin_audio",
                                               L"pause orvalin_audio"}));
}

TEST_F(AudioCommandTest, SeekClampsAtZeroAndAcceptsOnlyIntegers) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  const std::vector<std::pair<EncodableValue, const wchar_t*>> cases = {
      {EncodableValue(int64_t{1500}), L"1500"},
      {EncodableValue(int32_t{1500}), L"1500"},
      {EncodableValue(int64_t{4294967296}), L"4294967296"},
      {EncodableValue(int32_t{0}), L"0"},
      {EncodableValue(int32_t{-500}), L"0"},
      {EncodableValue(int64_t{-1}), L"0"},
      {EncodableValue(1500.0), L"0"},
      {EncodableValue("1500"), L"0"},
  };
  for (const auto& [position, sent] : cases) {
    g_sent.clear();
    ExpectSuccess(Seek(position));
    EXPECT_EQ(g_sent, std::vector<std::wstring>{
                          std::wstring(L"seek orvalin_audio to ") + sent});
  }
  for (auto arguments :
       {EncodableValue(),
        EncodableValue(EncodableList{EncodableValue(int32_t{9})})}) {
    g_sent.clear();
    ExpectSuccess(harness_.Call(kChannel, "seek", arguments));
    EXPECT_EQ(g_sent, std::vector<std::wstring>{L"seek orvalin_audio to 0"});
  }
}

TEST_F(AudioCommandTest, OnlyTheExactWordPlayingCountsAsPlaying) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  const std::wstring mode = L"status orvalin_audio mode";
  g_status_replies[mode] = L"playing";
  EXPECT_EQ(Call("state").value, State(250, 2000, true));
  for (const wchar_t* reply :
       {L"Playing", L"paused", L"playing ", L"play", L"stopped", L""}) {
    g_status_replies[mode] = reply;
    EXPECT_EQ(Call("state").value, State(250, 2000, false));
  }
  g_status_replies[mode] = L"playing";
  g_refused.insert(mode);
  EXPECT_EQ(Call("state").value, State(250, 2000, false));
}

TEST_F(AudioCommandTest, StatusNumbersTakeTheLeadingIntegerOrZero) {
  ASSERT_EQ(Load("C:\\a.wav").kind, Answer::Kind::kSuccess);
  g_status_replies[L"status orvalin_audio position"] = L"1234ms";
  g_status_replies[L"status orvalin_audio length"] = L"long";
  EXPECT_EQ(Call("state").value, State(1234, 0, false));
  g_status_replies[L"status orvalin_audio position"] = L"-20";
  g_refused.insert(L"status orvalin_audio length");
  EXPECT_EQ(Call("state").value, State(-20, 0, false));
}

TEST_F(AudioCommandTest, LoadRefusesBadUrlsBeforeSendingAnything) {
  ExpectErrorForEach(
      &harness_, kChannel, "load",
      {std::nullopt, EncodableValue(),
       EncodableList{EncodableValue("C:\\a.wav")}, EncodableValue("C:\\a.wav"),
       // A quote would end the element and splice the rest in as MCI words.
       Map({{"url", EncodableValue("C:\\a.wav\" alias other wait \"")}}),
       Map({{"url", EncodableValue("\"")}})},
      "invalid_audio_url", kInvalidUrl);
  ExpectErrorForEach(&harness_, kChannel, "load",
                     {Map({{"path", EncodableValue("C:\\a.wav")}})},
                     "invalid_audio_url", "url required");
  ExpectErrorForEach(
      &harness_, kChannel, "load",
      {Map({{"url", EncodableValue(int32_t{3})}}),
       Map({{"url", EncodableValue()}}), Map({{"url", EncodableValue("")}})},
      "invalid_audio_url", "url empty");
  EXPECT_TRUE(g_sent.empty());
}

TEST_F(AudioCommandTest, OtherNamesAreNotImplementedAndSendNothing) {
  for (const char* name : {"Load", "stop", "resume", "getState", ""}) {
    EXPECT_EQ(Call(name).kind, Answer::Kind::kNotImplemented) << name;
  }
  EXPECT_TRUE(g_sent.empty());
}

// Real MCI under Wine, with ALSA's default device a null sink.
class AudioPlaybackTest : public AudioPlayerBase {
 protected:
  ~AudioPlaybackTest() override { Call("dispose"); }

  static std::string TonePath() {
    wchar_t full[MAX_PATH] = {};
    GetFullPathNameW(L"tone.wav", MAX_PATH, full, nullptr);
    return Utf8(full);
  }

  EncodableMap StateMap() {
    Answer answer = Call("state");
    EXPECT_EQ(answer.kind, Answer::Kind::kSuccess);
    const auto* map = std::get_if<EncodableMap>(&answer.value);
    return map != nullptr ? *map : EncodableMap();
  }
  static int64_t Number(const EncodableMap& state, const char* key) {
    auto it = state.find(EncodableValue(key));
    const int64_t* value =
        it == state.end() ? nullptr : std::get_if<int64_t>(&it->second);
    return value != nullptr ? *value : -1;
  }
  static bool Playing(const EncodableMap& state) {
    auto it = state.find(EncodableValue("isPlaying"));
    return it != state.end() && it->second == EncodableValue(true);
  }

  // Polls "state" until |done| holds or about three seconds pass.
  template <typename Predicate>
  EncodableMap WaitForState(Predicate done) {
    EncodableMap state = StateMap();
    for (int i = 0; i < 30 && !done(state); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      state = StateMap();
    }
    return state;
  }
};

TEST_F(AudioPlaybackTest, PlaysPausesAndReportsTheTonesLength) {
  Answer loaded = Load(TonePath());
  ASSERT_EQ(loaded.kind, Answer::Kind::kSuccess)
      << ::testing::PrintToString(loaded);
  const auto& state = std::get<EncodableMap>(loaded.value);
  EXPECT_NEAR(Number(state, "durationMs"), 2000, 50);
  EXPECT_EQ(Number(state, "positionMs"), 0);
  EXPECT_FALSE(Playing(state));

  ExpectSuccess(Call("play"));
  EncodableMap playing = WaitForState([](const EncodableMap& s) {
    return Playing(s) && Number(s, "positionMs") > 0;
  });
  EXPECT_TRUE(Playing(playing));
  EXPECT_GT(Number(playing, "positionMs"), 0);

  ExpectSuccess(Call("pause"));
  EncodableMap paused = StateMap();
  EXPECT_FALSE(Playing(paused));
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(Number(StateMap(), "positionMs"), Number(paused, "positionMs"))
      << "a paused recording must not advance";

  ExpectSuccess(Call("dispose"));
  EXPECT_EQ(Call("state").value, State(0, 0, false));
}

TEST_F(AudioPlaybackTest, MissingFileFailsAndLeavesNothingOpen) {
  ASSERT_EQ(Load(TonePath()).kind, Answer::Kind::kSuccess);
  ExpectError(Load("C:\\no such folder\\missing.wav"), "audio_load_failed",
              "오디오를 불러오지 못했습니다.");
  EXPECT_EQ(Call("state").value, State(0, 0, false));
  // MCI itself knows no device under the alias any more.
  wchar_t reply[128] = {};
  EXPECT_NE(mciSendStringW(L"status orvalin_audio mode", reply, 128, nullptr),
            0u);
}

}  // namespace
}  // namespace orvalin::testing
