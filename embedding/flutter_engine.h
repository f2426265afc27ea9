#pragma once

#include <functional>
#include <memory>
#include <string>

#include "embedding/binary_messenger.h"
#include "embedding/binary_messenger_impl.h"
#include "embedding/flutter_windows.h"
#include "embedding/plugin_registry.h"
#include "embedding/project_bundle.h"

namespace flutter {

// Owns an engine of the engine library, created from a project, until it is
// handed over to a view controller.
class FlutterEngine : public PluginRegistry {
 public:
  // Creates the engine; the handle is null when the library refused it, and
  // nothing below then reaches the library.
  explicit FlutterEngine(const ProjectBundle& project);
  // Destroys the engine unless it was handed over.
  ~FlutterEngine() override;

  // Gives up ownership: the library's view controller destroys the engine
  // from now on. The handle stays stored for the calls below.
  FlutterDesktopEngine* HandOverEngine();

  // Prints a line and returns null when there is no engine.
  FlutterDesktopPluginRegistrar* GetPluginRegistrar(const std::string& plugin_name) override;

  void ReloadSystemFonts();

  // Calls `callback` once, after the next frame. One-shot: a later frame
  // needs a new callback.
  void SetNextFrameCallback(std::function<void()> callback);

  BinaryMessenger* messenger() const { return messenger_.get(); }

 private:
  static void OnNextFrame(void* user_data);

  FlutterDesktopEngine* engine_ = nullptr;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  bool owns_engine_ = true;
  std::function<void()> next_frame_callback_;
};

}  // namespace flutter
