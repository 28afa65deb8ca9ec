#include "services/audio_player_service.h"

// clang-format off
#include <windows.h>  // first: the headers below need it
// clang-format on

#include <mmsystem.h>

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

#include "services/audio_player_internal.h"

namespace orvalin {
namespace {

constexpr UINT kStatusBufferUnits = 128;
constexpr char kInvalidUrlMessage[] = "재생할 녹음 주소를 확인하지 못했습니다.";

MciCommandSender g_mci_sender = &SendMciString;

// Guards g_audio_opened and serialises every MCI command of the player.
std::mutex g_player_lock;
bool g_audio_opened = false;

struct AudioState {
  int32_t position_ms = 0;
  int32_t duration_ms = 0;
  bool playing = false;
};

std::wstring AliasCommand(const wchar_t* verb, const wchar_t* rest = L"") {
  return std::wstring(verb) + L" " + kAudioAlias + rest;
}

bool SendMciCommand(const std::wstring& command) {
  return g_mci_sender(command.c_str(), nullptr, 0) == 0;
}

// Called with the player lock held.
void CloseCurrentAudio() {
  if (g_audio_opened) {
    SendMciCommand(AliasCommand(L"close"));
    g_audio_opened = false;
  }
}

bool QueryStatusText(const wchar_t* item, std::wstring* text) {
  wchar_t buffer[kStatusBufferUnits] = {};
  const std::wstring command =
      AliasCommand(L"status", (std::wstring(L" ") + item).c_str());
  if (g_mci_sender(command.c_str(), buffer, kStatusBufferUnits) != 0) {
    return false;
  }
  buffer[kStatusBufferUnits - 1] = L'\0';
  *text = buffer;
  return true;
}

int32_t QueryStatusNumber(const wchar_t* item) {
  std::wstring text;
  if (!QueryStatusText(item, &text)) {
    return 0;
  }
  return static_cast<int32_t>(_wtoi(text.c_str()));
}

AudioState QueryAudioState() {
  std::lock_guard<std::mutex> guard(g_player_lock);
  AudioState state;
  if (!g_audio_opened) {
    return state;
  }
  state.position_ms = QueryStatusNumber(L"position");
  state.duration_ms = QueryStatusNumber(L"length");
  std::wstring mode;
  state.playing = QueryStatusText(L"mode", &mode) && mode == L"playing";
  return state;
}

// Takes the player lock itself: never call it with the lock held.
flutter::EncodableValue BuildAudioState() {
  const AudioState state = QueryAudioState();
  return flutter::EncodableValue(flutter::EncodableMap{
      {flutter::EncodableValue("positionMs"),
       flutter::EncodableValue(static_cast<int64_t>(state.position_ms))},
      {flutter::EncodableValue("durationMs"),
       flutter::EncodableValue(static_cast<int64_t>(state.duration_ms))},
      {flutter::EncodableValue("isPlaying"),
       flutter::EncodableValue(state.playing)},
  });
}

// The error for a "load" whose url is unusable, or nullptr when it is fine.
const char* CheckLoadUrl(const flutter::EncodableValue* arguments,
                         const std::string** url) {
  const flutter::EncodableMap* map = ArgumentMap(arguments);
  if (map == nullptr) {
    return kInvalidUrlMessage;
  }
  auto it = map->find(flutter::EncodableValue("url"));
  if (it == map->end()) {
    return "url required";
  }
  *url = std::get_if<std::string>(&it->second);
  if (*url == nullptr || (*url)->empty()) {
    return "url empty";
  }
  // A quote would end the quoted element and let the rest of the address be
  // read as MCI command words.
  if ((*url)->find('"') != std::string::npos) {
    return kInvalidUrlMessage;
  }
  return nullptr;
}

void Load(const Call& call, Result result) {
  const std::string* url = nullptr;
  if (const char* message = CheckLoadUrl(call.Arguments(), &url)) {
    result->Error("invalid_audio_url", message);
    return;
  }
  const std::wstring element = L"\"" + Utf8ToWide(*url) + L"\"";
  {
    std::lock_guard<std::mutex> guard(g_player_lock);
    CloseCurrentAudio();
    if (!SendMciCommand(L"open " + element + L" type mpegvideo alias " +
                        kAudioAlias) &&
        !SendMciCommand(L"open " + element + L" alias " + kAudioAlias)) {
      result->Error("audio_load_failed", "오디오를 불러오지 못했습니다.");
      return;
    }
    SendMciCommand(AliasCommand(L"set", L" time format milliseconds"));
    g_audio_opened = true;
  }
  result->Success(BuildAudioState());
}

// Sends |command| when a recording is open, then answers without a value.
void CommandIfOpen(const std::wstring& command, Result result) {
  std::lock_guard<std::mutex> guard(g_player_lock);
  if (g_audio_opened) {
    SendMciCommand(command);
  }
  result->Success();
}

int64_t SeekPosition(const flutter::EncodableValue* arguments) {
  int64_t position = 0;
  if (const flutter::EncodableMap* map = ArgumentMap(arguments)) {
    auto it = map->find(flutter::EncodableValue("positionMs"));
    if (it != map->end()) {
      if (const int32_t* narrow = std::get_if<int32_t>(&it->second)) {
        position = *narrow;
      } else if (const int64_t* wide = std::get_if<int64_t>(&it->second)) {
        position = *wide;
      }
    }
  }
  return position < 0 ? 0 : position;
}

void Dispose(Result result) {
  std::lock_guard<std::mutex> guard(g_player_lock);
  CloseCurrentAudio();
  result->Success();
}

}  // namespace

DWORD SendMciString(const wchar_t* command, wchar_t* buffer, UINT buffer_size) {
  return mciSendStringW(command, buffer, buffer_size, nullptr);
}

MciCommandSender SetMciCommandSender(MciCommandSender sender) {
  MciCommandSender previous = g_mci_sender;
  g_mci_sender = sender != nullptr ? sender : &SendMciString;
  return previous;
}

void HandleAudioPlayerCall(const Call& call, Result result) {
  const std::string& method = call.MethodName();
  if (method == "load") {
    Load(call, std::move(result));
  } else if (method == "play") {
    CommandIfOpen(AliasCommand(L"play"), std::move(result));
  } else if (method == "pause") {
    CommandIfOpen(AliasCommand(L"pause"), std::move(result));
  } else if (method == "seek") {
    const std::wstring to =
        L" to " + std::to_wstring(SeekPosition(call.Arguments()));
    CommandIfOpen(AliasCommand(L"seek", to.c_str()), std::move(result));
  } else if (method == "state") {
    result->Success(BuildAudioState());
  } else if (method == "dispose") {
    Dispose(std::move(result));
  } else {
    result->NotImplemented();
  }
}

void RegisterAudioPlayerChannel(flutter::BinaryMessenger* messenger) {
  RegisterStatelessChannel(messenger, "orvalin.ai/audio_player",
                           &HandleAudioPlayerCall);
}

}  // namespace orvalin
