// Owning wrapper over the embedding's engine and its messenger.
#ifndef RUNNER_FLUTTER_ENGINE_H_
#define RUNNER_FLUTTER_ENGINE_H_

#include <functional>
#include <memory>
#include <string>

#include "client/binary_messenger.h"
#include "client/binary_messenger_impl.h"
#include "embedding/flutter_windows.h"
#include "runner/engine_project.h"
#include "win/windows.h"

namespace flutter {

class PluginRegistry {
 public:
  PluginRegistry() = default;
  virtual ~PluginRegistry() = default;
  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  virtual FlutterDesktopPluginRegistrarRef GetPluginRegistrar(
      const std::string& plugin_name) = 0;
};

class FlutterEngine : public PluginRegistry {
 public:
  explicit FlutterEngine(const EngineProject& project);
  ~FlutterEngine() override;

  FlutterDesktopPluginRegistrarRef GetPluginRegistrar(
      const std::string& plugin_name) override;

  // Null when the engine could not be created.
  BinaryMessenger* GetMessenger() { return messenger_.get(); }
  void ReloadSystemFonts();
  // Runs |callback| once after the next frame; replaces one not yet run.
  void SetNextFrameCallback(std::function<void()> callback);
  // Gives up ownership; the handle stays usable for registrars, fonts and
  // callbacks.
  FlutterDesktopEngineRef ReleaseHandle();

 private:
  static void OnNextFrame(void* user_data) noexcept;

  FlutterDesktopEngineRef engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter

#endif  // RUNNER_FLUTTER_ENGINE_H_
