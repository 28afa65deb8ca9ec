#include "services/audio_player_service.h"

#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "services/audio_player_internal.h"
#include "win/system_library.h"
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

bool IsAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool IsSlash(char c) { return c == '\\' || c == '/'; }

// True when |text| begins with |prefix|, ASCII letters in any case.
bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) {
    return false;
  }
  for (size_t i = 0; i < prefix.size(); ++i) {
    char c = text[i];
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
    if (c != prefix[i]) {
      return false;
    }
  }
  return true;
}

// "C:\..." or "C:/...": a path on a drive of this machine, never relative
// to a working folder (a URL-scheme start inherits the browser's).
bool IsLocalDrivePath(std::string_view path) {
  return path.size() > 3 && IsAsciiLetter(path[0]) && path[1] == ':' &&
         IsSlash(path[2]);
}

// What "load" may open: a local drive path, "file:///C:/..." (no host), or
// an http or https URL with a host. Everything else could reach further
// than the user's recordings: a UNC or device path (\\server, //server,
// \\?\, \\.\) makes Windows sign in to that host with the user's
// credentials; a relative path resolves against whatever folder the process
// was started in. A quote would end the quoted MCI element and splice the
// rest in as command words; a NUL would cut the path short.
bool IsPlayableLocation(std::string_view url) {
  if (url.find('"') != std::string_view::npos ||
      url.find('\0') != std::string_view::npos) {
    return false;
  }
  if (IsLocalDrivePath(url)) {
    return true;
  }
  constexpr std::string_view kFile = "file:///";
  if (StartsWithNoCase(url, kFile)) {
    return IsLocalDrivePath(url.substr(kFile.size()));
  }
  for (std::string_view web : {"http://", "https://"}) {
    if (StartsWithNoCase(url, web)) {
      const std::string_view rest = url.substr(web.size());
      return !rest.empty() && !IsSlash(rest[0]);
    }
  }
  return false;
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
  if (!IsPlayableLocation(**url)) {
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
  // From System32 only (no import: see win/system_library.h).
  static const auto send = win::SystemFunction<decltype(mciSendStringW)>(
      L"winmm.dll", "mciSendStringW");
  if (send == nullptr) {
    return MCIERR_CANNOT_LOAD_DRIVER;
  }
  return send(command, buffer, buffer_size, nullptr);
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
