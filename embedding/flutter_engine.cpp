#include "embedding/flutter_engine.h"

#include <iostream>
#include <utility>
#include <vector>

namespace flutter {

FlutterEngine::FlutterEngine(const ProjectBundle& project) {
  std::vector<const char*> arguments;
  for (const std::string& argument : project.dart_entrypoint_arguments()) {
    arguments.push_back(argument.c_str());
  }
  FlutterDesktopEngineProperties properties = {};
  properties.assets_path = project.assets_path().c_str();
  properties.icu_data_path = project.icu_data_path().c_str();
  properties.aot_library_path = project.aot_library_path().c_str();
  properties.dart_entrypoint = project.dart_entrypoint().c_str();
  properties.dart_entrypoint_argc = static_cast<int>(arguments.size());
  properties.dart_entrypoint_argv = arguments.empty() ? nullptr : arguments.data();
  properties.engine_option_1 = project.engine_option_1();
  properties.engine_option_2 = project.engine_option_2();

  engine_ = FlutterDesktopEngineCreate(&properties);
  // A refused engine has no messenger to ask for: the messenger then works
  // without one and reaches nothing.
  messenger_ = std::make_unique<BinaryMessengerImpl>(
      engine_ != nullptr ? FlutterDesktopEngineGetMessenger(engine_) : nullptr);
}

FlutterEngine::~FlutterEngine() {
  if (engine_ != nullptr && owns_engine_) {
    FlutterDesktopEngineDestroy(engine_);
  }
  engine_ = nullptr;
}

FlutterDesktopEngine* FlutterEngine::HandOverEngine() {
  owns_engine_ = false;
  return engine_;
}

FlutterDesktopPluginRegistrar* FlutterEngine::GetPluginRegistrar(const std::string& plugin_name) {
  if (engine_ == nullptr) {
    std::cerr << "Cannot get plugin registrar on an engine that isn't running; call Run first." << std::endl;
    return nullptr;
  }
  return FlutterDesktopEngineGetPluginRegistrar(engine_, plugin_name.c_str());
}

void FlutterEngine::ReloadSystemFonts() {
  if (engine_ != nullptr) {
    FlutterDesktopEngineReloadSystemFonts(engine_);
  }
}

void FlutterEngine::SetNextFrameCallback(std::function<void()> callback) {
  next_frame_callback_ = std::move(callback);
  // Without an engine no frame comes, and the callback never runs.
  if (engine_ != nullptr) {
    FlutterDesktopEngineSetNextFrameCallback(engine_, OnNextFrame, this);
  }
}

void FlutterEngine::OnNextFrame(void* user_data) {
  auto* engine = static_cast<FlutterEngine*>(user_data);
  // Taken out of the field before the call, so a callback that sets the next
  // one keeps it instead of having it cleared afterwards.
  std::function<void()> callback = std::move(engine->next_frame_callback_);
  engine->next_frame_callback_ = nullptr;
  if (callback) {
    callback();
  }
}

}  // namespace flutter
