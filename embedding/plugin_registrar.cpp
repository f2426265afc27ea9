#include "embedding/plugin_registrar.h"

#include <utility>

namespace flutter {

PluginRegistrar::PluginRegistrar(FlutterDesktopPluginRegistrar* registrar)
    : registrar_(registrar),
      messenger_(std::make_unique<BinaryMessengerImpl>(FlutterDesktopPluginRegistrarGetMessenger(registrar))),
      texture_registrar_(
          std::make_unique<TextureRegistrarImpl>(FlutterDesktopRegistrarGetTextureRegistrar(registrar))) {}

PluginRegistrar::~PluginRegistrar() {
  // Plugins hold channels that point at the messenger: they go first.
  ClearPlugins();
  messenger_.reset();
  texture_registrar_.reset();
}

void PluginRegistrar::AddPlugin(std::unique_ptr<Plugin> plugin) { plugins_.insert(std::move(plugin)); }

void PluginRegistrar::ClearPlugins() { plugins_.clear(); }

}  // namespace flutter
