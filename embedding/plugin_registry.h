#pragma once

#include <string>

#include "embedding/flutter_windows.h"

namespace flutter {

// Hands out the engine library's registrar for a plugin name.
class PluginRegistry {
 public:
  PluginRegistry() = default;
  virtual ~PluginRegistry() = default;

  PluginRegistry(const PluginRegistry&) = delete;
  PluginRegistry& operator=(const PluginRegistry&) = delete;

  // The registrar handle for `plugin_name`, possibly null.
  virtual FlutterDesktopPluginRegistrar* GetPluginRegistrar(const std::string& plugin_name) = 0;
};

}  // namespace flutter
