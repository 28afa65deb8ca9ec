#include "services/audio_player_service.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <utility>
#include <variant>

#include "services/audio_player_internal.h"
#include "win/windows.h"

namespace orvalin {
namespace {

constexpr UINT kStatusBufferUnits = 128;

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

// A close that failed leaves the alias taken while the player already counts
// it closed; without closing it here every later open would fail for good.
bool OpenAlias(const std::wstring& command) {
  DWORD error = g_mci_sender(command.c_str(), nullptr, 0);
  if (error == MCIERR_DUPLICATE_ALIAS) {
    SendMciCommand(AliasCommand(L"close"));
    error = g_mci_sender(command.c_str(), nullptr, 0);
  }
  return error == 0;
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
const ServiceError* CheckLoadUrl(const flutter::EncodableValue* arguments,
                                 const std::string** url) {
  const flutter::EncodableMap* map = ArgumentMap(arguments);
  if (map == nullptr) {
    return &kAudioUrlUnusable;
  }
  auto it = map->find(flutter::EncodableValue("url"));
  if (it == map->end()) {
    return &kAudioUrlRequired;
  }
  *url = std::get_if<std::string>(&it->second);
  if (*url == nullptr || (*url)->empty()) {
    return &kAudioUrlEmpty;
  }
  // A quote would end the quoted element and let the rest of the address be
  // read as MCI command words.
  if ((*url)->find('"') != std::string::npos) {
    return &kAudioUrlUnusable;
  }
  return nullptr;
}

void Load(const Call& call, Result result) {
  const std::string* url = nullptr;
  if (const ServiceError* error = CheckLoadUrl(call.Arguments(), &url)) {
    AnswerError(result, *error);
    return;
  }
  const std::wstring element = L"\"" + Utf8ToWide(*url) + L"\"";
  {
    std::lock_guard<std::mutex> guard(g_player_lock);
    CloseCurrentAudio();
    if (!OpenAlias(L"open " + element + L" type mpegvideo alias " +
                   kAudioAlias) &&
        !OpenAlias(L"open " + element + L" alias " + kAudioAlias)) {
      AnswerError(result, kAudioLoadFailed);
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
