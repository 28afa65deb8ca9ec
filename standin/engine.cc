#include "standin/engine.h"

#include <cstdio>
#include <cstdlib>
#include <utility>

#include "standin/wire.h"

namespace standin {

HINSTANCE ModuleInstance() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ModuleInstance), &module);
  return module;
}

bool ReadEnvironment(const wchar_t* name, std::string* value) {
  const DWORD size = GetEnvironmentVariableW(name, nullptr, 0);
  if (size == 0) return false;
  std::wstring wide(size, L'\0');
  const DWORD written = GetEnvironmentVariableW(name, wide.data(), size);
  wide.resize(written);
  *value = ToUtf8(wide);
  return true;
}

void Diagnostic(const std::string& text) {
  std::fprintf(stderr, "standin: %s\n", text.c_str());
  std::fflush(stderr);
}

}  // namespace standin

namespace {

using standin::FrameReader;
using standin::FrameWriter;
using standin::JsonObject;

constexpr wchar_t kSinkClass[] = L"OrvalinStandinDartSide";
// Posted to the sink to answer a send with reply when no Dart side listens.
constexpr UINT kAnswerWithoutDartSide = WM_APP + 0x43;

void RegisterSinkClass(WNDPROC procedure) {
  static std::once_flag once;
  std::call_once(once, [procedure] {
    WNDCLASSW window_class{};
    window_class.lpfnWndProc = procedure;
    window_class.hInstance = standin::ModuleInstance();
    window_class.lpszClassName = kSinkClass;
    RegisterClassW(&window_class);
  });
}

// The engine resolves relative paths against the executable's folder, so
// the host finds "data" whatever its working directory.
std::wstring ResolvePath(const wchar_t* path) {
  std::wstring given = path == nullptr ? L"" : path;
  const bool absolute =
      given.size() >= 2 &&
      (given[1] == L':' || (given[0] == L'\\' && given[1] == L'\\'));
  if (absolute || given.empty()) return given;
  // Grows until the path fits: the host may live in a long-path folder.
  std::wstring folder(MAX_PATH, L'\0');
  for (;;) {
    const DWORD size = static_cast<DWORD>(folder.size());
    const DWORD length = GetModuleFileNameW(nullptr, folder.data(), size);
    if (length < size || size >= 32768) {
      folder.resize(length < size ? length : 0);
      break;
    }
    folder.resize(folder.size() * 2);
  }
  const size_t slash = folder.find_last_of(L"\\/");
  folder = slash == std::wstring::npos ? L"." : folder.substr(0, slash);
  return folder + L"\\" + given;
}

bool IsFolder(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool IsFile(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES &&
         (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

std::string Utf8OrEmpty(const wchar_t* text) {
  return text == nullptr ? std::string() : standin::ToUtf8(text);
}

bool ParseMessageNumber(const std::string& text, UINT* number) {
  if (text.empty() || text.size() > 10) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  const unsigned long long value = std::strtoull(text.c_str(), nullptr, 10);
  if (value > 0xFFFFFFFFull) return false;
  *number = static_cast<UINT>(value);
  return true;
}

const FlutterDesktopMessageResponseHandle* HandleFromSerial(uintptr_t serial) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(serial);
}

}  // namespace

FlutterDesktopEngine::FlutterDesktopEngine()
    : messenger_(new FlutterDesktopMessenger()) {
  messenger_->engine = this;
}

std::unique_ptr<FlutterDesktopEngine> FlutterDesktopEngine::Create(
    const FlutterDesktopEngineProperties& properties) {
  // A slow engine start: the host's thread pumps no messages meanwhile.
  std::string delay;
  UINT delay_ms = 0;
  if (standin::ReadEnvironment(L"ORVALIN_STANDIN_START_DELAY_MS", &delay) &&
      ParseMessageNumber(delay, &delay_ms)) {
    Sleep(delay_ms);
  }
  const std::wstring assets = ResolvePath(properties.assets_path);
  if (properties.assets_path == nullptr || !IsFolder(assets)) {
    standin::Diagnostic("assets folder not found: " + standin::ToUtf8(assets));
    return nullptr;
  }
  const std::wstring icu = ResolvePath(properties.icu_data_path);
  if (properties.icu_data_path == nullptr || !IsFile(icu)) {
    standin::Diagnostic("ICU data file not found: " + standin::ToUtf8(icu));
    return nullptr;
  }
  std::unique_ptr<FlutterDesktopEngine> engine(new FlutterDesktopEngine());
  RegisterSinkClass(&FlutterDesktopEngine::SinkProc);
  engine->sink_ =
      CreateWindowExW(0, kSinkClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                      standin::ModuleInstance(), nullptr);
  if (engine->sink_ == nullptr) {
    standin::Diagnostic("cannot create the engine's message window");
    return nullptr;
  }
  SetWindowLongPtrW(engine->sink_, GWLP_USERDATA,
                    reinterpret_cast<LONG_PTR>(engine.get()));
  std::string claim;
  UINT claimed = 0;
  if (standin::ReadEnvironment(L"ORVALIN_STANDIN_CLAIM_MESSAGE", &claim) &&
      ParseMessageNumber(claim, &claimed)) {
    engine->claimed_messages_.insert(claimed);
  }
  engine->Connect(properties);
  return engine;
}

void FlutterDesktopEngine::Connect(
    const FlutterDesktopEngineProperties& properties) {
  std::string address;
  if (!standin::ReadEnvironment(L"ORVALIN_STANDIN_DART_SIDE", &address)) {
    return;
  }
  connection_ = standin::DartSideConnection::Connect(address, sink_);
  std::vector<std::string> arguments;
  for (int32_t i = 0; i < properties.dart_entrypoint_argc; ++i) {
    const char* argument = properties.dart_entrypoint_argv[i];
    arguments.push_back(argument == nullptr ? "" : argument);
  }
  EmitEvent(
      "engine_created",
      JsonObject()
          .String("assets_path", Utf8OrEmpty(properties.assets_path))
          .String("icu_data_path", Utf8OrEmpty(properties.icu_data_path))
          .String("aot_library_path", Utf8OrEmpty(properties.aot_library_path))
          .String("entrypoint", properties.dart_entrypoint == nullptr
                                    ? ""
                                    : properties.dart_entrypoint)
          .StringArray("arguments", arguments)
          .Text());
}

FlutterDesktopEngine::~FlutterDesktopEngine() {
  if (sink_ != nullptr) {
    SetWindowLongPtrW(sink_, GWLP_USERDATA, 0);
  }
  EmitEvent("engine_shutdown", "{}");
  connection_.reset();
  DropQueuedFrames();
  {
    std::lock_guard<std::mutex> lock(messenger_->lock);
    messenger_->engine = nullptr;
  }
  status_listener_ = nullptr;
  callbacks_.clear();
  live_responses_.clear();
  // Every accepted send with reply is answered once; without the Dart side
  // the answer is empty, as for a channel nobody handles.
  std::map<uint32_t, PendingReply> pending = std::move(pending_replies_);
  pending_replies_.clear();
  for (const auto& [id, reply] : pending) {
    reply.reply(nullptr, 0, reply.user_data);
  }
  registrars_.clear();
  if (sink_ != nullptr) DestroyWindow(sink_);
  FlutterDesktopMessengerRelease(messenger_);
}

void FlutterDesktopEngine::DropQueuedFrames() {
  if (sink_ == nullptr) return;
  MSG message;
  while (PeekMessageW(&message, sink_, standin::kFrameReceived,
                      standin::kFrameReceived, PM_REMOVE)) {
    delete reinterpret_cast<std::vector<uint8_t>*>(message.lParam);
  }
}

LRESULT CALLBACK FlutterDesktopEngine::SinkProc(HWND window, UINT message,
                                                WPARAM wparam, LPARAM lparam) {
  auto* engine = reinterpret_cast<FlutterDesktopEngine*>(
      GetWindowLongPtrW(window, GWLP_USERDATA));
  switch (message) {
    case standin::kFrameReceived: {
      std::unique_ptr<std::vector<uint8_t>> body(
          reinterpret_cast<std::vector<uint8_t>*>(lparam));
      // The host's callback may destroy the engine: nothing touches it
      // after HandleFrame returns.
      if (engine != nullptr) engine->HandleFrame(*body);
      return 0;
    }
    case standin::kConnectionClosed:
      if (engine != nullptr && engine->connection_ != nullptr) {
        standin::Diagnostic("the Dart side closed the connection");
      }
      return 0;
    case kAnswerWithoutDartSide:
      if (engine != nullptr) {
        engine->AnswerWithoutDartSide(static_cast<uint32_t>(wparam));
      }
      return 0;
    default:
      return DefWindowProcW(window, message, wparam, lparam);
  }
}

void FlutterDesktopEngine::HandleFrame(const std::vector<uint8_t>& body) {
  FrameReader reader(body.data(), body.size());
  const uint8_t kind = reader.Kind();
  if (kind == standin::kMessage) {
    const uint32_t id = reader.U32();
    const std::string channel = reader.Str();
    size_t size = 0;
    const uint8_t* payload = reader.Bytes(&size);
    if (reader.ok()) return HandleMessageFrame(id, channel, payload, size);
  } else if (kind == standin::kHostReply) {
    const uint32_t id = reader.U32();
    size_t size = 0;
    const uint8_t* payload = reader.Bytes(&size);
    if (reader.ok()) return HandleHostReply(id, payload, size);
  } else if (kind == standin::kControl) {
    const std::string key = reader.Str();
    const std::string value = reader.Str();
    if (reader.ok()) return HandleControl(key, value);
  } else {
    standin::Diagnostic("unknown frame kind " + std::to_string(kind) +
                        " from the Dart side; ignored");
    return;
  }
  standin::Diagnostic("malformed frame of kind " + std::to_string(kind) +
                      " from the Dart side; ignored");
}

void FlutterDesktopEngine::HandleMessageFrame(uint32_t id,
                                              const std::string& channel,
                                              const uint8_t* payload,
                                              size_t size) {
  auto found = callbacks_.find(channel);
  if (found == callbacks_.end()) {
    SendFrame(FrameWriter(standin::kReply).U32(id).Bytes(nullptr, 0).Finish());
    return;
  }
  const Callback callback = found->second;
  const uintptr_t serial = next_response_serial_++;
  live_responses_[serial] = id;
  ++messages_handled_;
  NotifyStatus();
  FlutterDesktopMessage message{};
  message.struct_size = sizeof(message);
  message.channel = channel.c_str();
  message.message = payload;
  message.message_size = size;
  message.response_handle = HandleFromSerial(serial);
  callback.callback(messenger_, &message, callback.user_data);
}

void FlutterDesktopEngine::HandleHostReply(uint32_t id, const uint8_t* payload,
                                           size_t size) {
  auto found = pending_replies_.find(id);
  if (found == pending_replies_.end()) {
    standin::Diagnostic("HOST_REPLY for unknown id " + std::to_string(id) +
                        "; ignored");
    return;
  }
  const PendingReply reply = found->second;
  pending_replies_.erase(found);
  reply.reply(payload, size, reply.user_data);
}

void FlutterDesktopEngine::HandleControl(const std::string& key,
                                         const std::string& value) {
  UINT number = 0;
  if (!ParseMessageNumber(value, &number)) {
    standin::Diagnostic("bad CONTROL value for " + key + ": " + value);
    return;
  }
  if (key == "claim_message") {
    claimed_messages_.insert(number);
  } else if (key == "unclaim_message") {
    claimed_messages_.erase(number);
  } else if (key == "watch_message") {
    watched_messages_.insert(number);
  } else if (key == "unwatch_message") {
    watched_messages_.erase(number);
  } else if (key == "stall") {
    // A main-thread stall of the app: nothing is pumped meanwhile.
    Sleep(number);
  } else {
    standin::Diagnostic("unknown CONTROL key " + key + "; ignored");
  }
}

bool FlutterDesktopEngine::Send(const char* channel, const uint8_t* data,
                                size_t size, FlutterDesktopBinaryReply reply,
                                void* user_data) {
  uint32_t id = 0;
  if (reply != nullptr) {
    id = next_reply_id_++;
    if (next_reply_id_ == 0) next_reply_id_ = 1;  // 0 means "no reply".
    pending_replies_[id] = PendingReply{reply, user_data};
  }
  const bool delivered =
      connection_ != nullptr &&
      connection_->Send(FrameWriter(standin::kHostMessage)
                            .U32(id)
                            .Str(channel == nullptr ? "" : channel)
                            .Bytes(data, size)
                            .Finish());
  if (!delivered && reply != nullptr) {
    // Nobody will answer; the empty reply comes later, as the Dart side's
    // "no handler" answer would, never inside this call.
    PostMessageW(sink_, kAnswerWithoutDartSide, id, 0);
  }
  return true;
}

void FlutterDesktopEngine::AnswerWithoutDartSide(uint32_t reply_id) {
  HandleHostReply(reply_id, nullptr, 0);
}

void FlutterDesktopEngine::Respond(
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t size) {
  auto found = live_responses_.find(reinterpret_cast<uintptr_t>(handle));
  if (found == live_responses_.end()) {
    standin::Diagnostic("response handle already used or unknown; ignored");
    return;
  }
  const uint32_t id = found->second;
  live_responses_.erase(found);
  SendFrame(FrameWriter(standin::kReply).U32(id).Bytes(data, size).Finish());
}

void FlutterDesktopEngine::SetCallback(const char* channel,
                                       FlutterDesktopMessageCallback callback,
                                       void* user_data) {
  if (channel == nullptr) return;
  if (callback == nullptr) {
    callbacks_.erase(channel);
  } else {
    callbacks_[channel] = Callback{callback, user_data};
  }
  NotifyStatus();
}

FlutterDesktopPluginRegistrarRef FlutterDesktopEngine::Registrar(
    const char* name) {
  const std::string plugin = name == nullptr ? "" : name;
  EmitEvent("registrar_requested", JsonObject().String("name", plugin).Text());
  auto& registrar = registrars_[plugin];
  if (!registrar) {
    registrar.reset(new FlutterDesktopPluginRegistrar{this, plugin});
  }
  return registrar.get();
}

void FlutterDesktopEngine::ReportPluginRegistered(
    const FlutterDesktopPluginRegistrar& registrar, const char* plugin_name) {
  EmitEvent("plugin_registered",
            JsonObject()
                .String("name", plugin_name == nullptr ? "" : plugin_name)
                .String("registrar", registrar.name)
                .Text());
}

void FlutterDesktopEngine::SetNextFrameCallback(
    FlutterDesktopOnNextFrameCallback callback, void* user_data) {
  // A Dart side that throws or hangs before its first frame.
  std::string never;
  if (standin::ReadEnvironment(L"ORVALIN_STANDIN_NO_FIRST_FRAME", &never) &&
      never == "1") {
    return;
  }
  next_frame_callback_ = callback;
  next_frame_user_data_ = user_data;
}

void FlutterDesktopEngine::OnFramePresented() {
  if (next_frame_callback_ == nullptr) return;
  FlutterDesktopOnNextFrameCallback callback = next_frame_callback_;
  void* user_data = next_frame_user_data_;
  next_frame_callback_ = nullptr;
  next_frame_user_data_ = nullptr;
  EmitEvent("next_frame", "{}");
  callback(user_data);
}

void FlutterDesktopEngine::ReloadSystemFonts() {
  EmitEvent("fonts_reloaded", "{}");
}

bool FlutterDesktopEngine::OfferWindowMessage(UINT message, LRESULT* result) {
  const bool claimed = claimed_messages_.count(message) > 0;
  if (claimed || watched_messages_.count(message) > 0) {
    EmitEvent("window_message", JsonObject()
                                    .Number("message", message)
                                    .Bool("claimed", claimed)
                                    .Text());
  }
  if (claimed && result != nullptr) *result = 0;
  return claimed;
}

void FlutterDesktopEngine::EmitEvent(const std::string& name,
                                     const std::string& json) {
  SendFrame(FrameWriter(standin::kEvent).Str(name).Str(json).Finish());
}

void FlutterDesktopEngine::SendFrame(const std::vector<uint8_t>& frame) {
  if (connection_ != nullptr) connection_->Send(frame);
}

void FlutterDesktopEngine::NotifyStatus() {
  if (status_listener_) status_listener_();
}
