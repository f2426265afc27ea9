#include "embedding/plugin_registrar_windows.h"

namespace flutter {

PluginRegistrarWindows::PluginRegistrarWindows(FlutterDesktopPluginRegistrar* registrar)
    : PluginRegistrar(registrar) {
  FlutterDesktopView* view = FlutterDesktopPluginRegistrarGetView(registrar);
  if (view != nullptr) {
    view_ = std::make_unique<FlutterView>(view);
  }
}

PluginRegistrarWindows::~PluginRegistrarWindows() {
  // A plugin may still use the view while it is destroyed.
  ClearPlugins();
  view_.reset();
}

}  // namespace flutter
