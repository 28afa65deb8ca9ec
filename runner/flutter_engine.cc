#include "runner/flutter_engine.h"

#include <iostream>
#include <vector>

namespace flutter {

FlutterEngine::FlutterEngine(const EngineProject& project) {
  // The record and the argument array only need to outlive the call.
  const std::vector<std::string>& arguments =
      project.dart_entrypoint_arguments();
  std::vector<const char*> argv;
  argv.reserve(arguments.size());
  for (const std::string& argument : arguments) {
    argv.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties{};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.dart_entrypoint = project.dart_entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int32_t>(argv.size());
  properties.dart_entrypoint_argv = argv.empty() ? nullptr : argv.data();
  for (int i = 0; i < 3; ++i) {
    properties.engine_options[i] = project.engine_options()[i];
  }
  engine_ = FlutterDesktopEngineCreate(&properties);
  // Without an engine there is no messenger to ask for; the view controller
  // reports the failure.
  if (engine_ == nullptr) {
    return;
  }
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      FlutterDesktopEngineGetMessenger(engine_));
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
  next_frame_callback_ = nullptr;
  messenger_.reset();
}

FlutterDesktopPluginRegistrarRef FlutterEngine::GetPluginRegistrar(
    const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't "
                 "running; call Run first."
              << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  FlutterDesktopEngineReloadSystemFonts(engine_);
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  FlutterDesktopEngineSetNextFrameCallback(engine_, &FlutterEngine::OnNextFrame,
                                           this);
}

FlutterDesktopEngineRef FlutterEngine::ReleaseHandle() {
  owns_engine_ = false;
  return engine_;
}

void FlutterEngine::OnNextFrame(void* user_data) noexcept {
  auto* engine = static_cast<FlutterEngine*>(user_data);
  // Moved out first, so the callback may set the next one.
  std::function<void()> callback = std::move(engine->next_frame_callback_);
  engine->next_frame_callback_ = nullptr;
  if (!callback) {
    return;
  }
  // The embedding's C frames are below; nothing may unwind through them.
  try {
    callback();
  } catch (...) {
    std::cerr << "Next-frame callback threw an exception; ignored."
              << std::endl;
  }
}

}  // namespace flutter
