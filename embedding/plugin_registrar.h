#pragma once

#include <memory>
#include <set>

#include "embedding/binary_messenger.h"
#include "embedding/binary_messenger_impl.h"
#include "embedding/flutter_windows.h"
#include "embedding/plugin.h"
#include "embedding/texture_registrar.h"
#include "embedding/texture_registrar_impl.h"

namespace flutter {

// What a plugin is registered with: a messenger for its channels, a texture
// registrar, and a place that keeps the plugin object alive.
class PluginRegistrar {
 public:
  // `registrar` is the engine library's handle, not owned.
  explicit PluginRegistrar(FlutterDesktopPluginRegistrar* registrar);
  // Destroys the plugins first, while the messenger they use still exists.
  virtual ~PluginRegistrar();

  PluginRegistrar(const PluginRegistrar&) = delete;
  PluginRegistrar& operator=(const PluginRegistrar&) = delete;

  // Safe to use for the registrar's whole life: once the engine is gone it
  // sends nothing and only keeps its own handler table.
  BinaryMessenger* messenger() { return messenger_.get(); }
  // Must not be used once the engine is gone: the library's texture
  // registrar goes with the engine.
  TextureRegistrar* texture_registrar() { return texture_registrar_.get(); }

  // The registrar owns `plugin` from now on.
  void AddPlugin(std::unique_ptr<Plugin> plugin);

  // Destroys every plugin.
  void ClearPlugins();

 protected:
  FlutterDesktopPluginRegistrar* registrar() const { return registrar_; }

 private:
  FlutterDesktopPluginRegistrar* registrar_;
  std::unique_ptr<BinaryMessengerImpl> messenger_;
  std::unique_ptr<TextureRegistrarImpl> texture_registrar_;
  std::set<std::unique_ptr<Plugin>> plugins_;
};

}  // namespace flutter
