// The stand-in engine: the messenger, registrars, next-frame callback and
// the Dart-side connection of one engine. The types complete the opaque
// handles of the embedding's C interface, so they live in the global
// namespace.
#ifndef STANDIN_ENGINE_H_
#define STANDIN_ENGINE_H_

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "embedding/flutter_windows.h"
#include "standin/dart_side.h"

// Reference counted; the engine holds one reference. Outlives the engine
// while anyone else holds one.
struct FlutterDesktopMessenger {
  std::atomic<int> references{1};
  // Held by Lock/Unlock; teardown takes it to detach the engine.
  std::mutex lock;
  // Null once the engine is gone; written only under |lock|.
  FlutterDesktopEngine* engine = nullptr;
};

struct FlutterDesktopPluginRegistrar {
  FlutterDesktopEngine* engine;
  std::string name;
};

struct FlutterDesktopEngine {
 public:
  // Null when the assets folder or the ICU data file is missing.
  static std::unique_ptr<FlutterDesktopEngine> Create(
      const FlutterDesktopEngineProperties& properties);
  ~FlutterDesktopEngine();

  FlutterDesktopEngine(const FlutterDesktopEngine&) = delete;
  FlutterDesktopEngine& operator=(const FlutterDesktopEngine&) = delete;

  FlutterDesktopMessengerRef messenger() { return messenger_; }

  // Messenger operations; the C functions check availability first.
  bool Send(const char* channel, const uint8_t* data, size_t size,
            FlutterDesktopBinaryReply reply, void* user_data);
  void Respond(const FlutterDesktopMessageResponseHandle* handle,
               const uint8_t* data, size_t size);
  void SetCallback(const char* channel, FlutterDesktopMessageCallback callback,
                   void* user_data);

  FlutterDesktopPluginRegistrarRef Registrar(const char* name);
  void ReportPluginRegistered(const FlutterDesktopPluginRegistrar& registrar,
                              const char* plugin_name);

  void SetNextFrameCallback(FlutterDesktopOnNextFrameCallback callback,
                            void* user_data);
  // Called by the view after it drew; runs a pending next-frame callback.
  void OnFramePresented();
  void ReloadSystemFonts();
  // The top-level window's messages: true (result 0) for claimed ones.
  bool OfferWindowMessage(UINT message, LRESULT* result);
  void EmitEvent(const std::string& name, const std::string& json);

  // What the view shows, and how it learns that it changed.
  size_t channel_count() const { return callbacks_.size(); }
  uint64_t messages_handled() const { return messages_handled_; }
  bool connected() const { return connection_ != nullptr; }
  void set_status_listener(std::function<void()> listener) {
    status_listener_ = std::move(listener);
  }

  bool owned_by_controller() const { return owned_by_controller_; }
  void set_owned_by_controller() { owned_by_controller_ = true; }

 private:
  struct Callback {
    FlutterDesktopMessageCallback callback;
    void* user_data;
  };
  struct PendingReply {
    FlutterDesktopBinaryReply reply;
    void* user_data;
  };

  FlutterDesktopEngine();
  static LRESULT CALLBACK SinkProc(HWND window, UINT message, WPARAM wparam,
                                   LPARAM lparam);
  void Connect(const FlutterDesktopEngineProperties& properties);
  void HandleFrame(const std::vector<uint8_t>& body);
  void HandleMessageFrame(uint32_t id, const std::string& channel,
                          const uint8_t* payload, size_t size);
  void HandleHostReply(uint32_t id, const uint8_t* payload, size_t size);
  void HandleControl(const std::string& key, const std::string& value);
  void AnswerWithoutDartSide(uint32_t reply_id);
  void SendFrame(const std::vector<uint8_t>& frame);
  void DropQueuedFrames();
  void NotifyStatus();

  FlutterDesktopMessengerRef messenger_;
  HWND sink_ = nullptr;
  std::unique_ptr<standin::DartSideConnection> connection_;
  std::map<std::string, Callback> callbacks_;
  std::map<uint32_t, PendingReply> pending_replies_;
  uint32_t next_reply_id_ = 1;
  // Response handles are serial numbers, never reused, mapped to the Dart
  // side's message id; an answered handle is no longer in the map.
  std::map<uintptr_t, uint32_t> live_responses_;
  uintptr_t next_response_serial_ = 1;
  std::map<std::string, std::unique_ptr<FlutterDesktopPluginRegistrar>>
      registrars_;
  std::set<UINT> claimed_messages_;
  std::set<UINT> watched_messages_;
  FlutterDesktopOnNextFrameCallback next_frame_callback_ = nullptr;
  void* next_frame_user_data_ = nullptr;
  uint64_t messages_handled_ = 0;
  std::function<void()> status_listener_;
  bool owned_by_controller_ = false;
};

namespace standin {

// The module of the stand-in library, for its window classes.
HINSTANCE ModuleInstance();
// An environment variable as UTF-8, or false when it is not set.
bool ReadEnvironment(const wchar_t* name, std::string* value);
// Writes one "standin: " diagnostic line to standard error.
void Diagnostic(const std::string& text);

}  // namespace standin

#endif  // STANDIN_ENGINE_H_
