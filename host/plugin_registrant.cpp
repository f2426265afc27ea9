#include "host/plugin_registrant.h"

#include "host/external_plugins.h"

namespace {

struct ExternalPlugin {
  const char* registrar_name;
  void (*register_with_registrar)(FlutterDesktopPluginRegistrar* registrar);
};

// The registration order. Each registrar name is its function's name without
// "RegisterWithRegistrar".
const ExternalPlugin kExternalPlugins[] = {
    {"AppLinksPluginCApi", AppLinksPluginCApiRegisterWithRegistrar},
    {"DesktopDropPlugin", DesktopDropPluginRegisterWithRegistrar},
    {"FileSelectorWindows", FileSelectorWindowsRegisterWithRegistrar},
    {"FlutterSecureStorageWindowsPlugin", FlutterSecureStorageWindowsPluginRegisterWithRegistrar},
    {"LocalNotifierPlugin", LocalNotifierPluginRegisterWithRegistrar},
    {"RivePlugin", RivePluginRegisterWithRegistrar},
    {"ScreenRetrieverPlugin", ScreenRetrieverPluginRegisterWithRegistrar},
    {"SharePlusWindowsPluginCApi", SharePlusWindowsPluginCApiRegisterWithRegistrar},
    {"SystemTrayPlugin", SystemTrayPluginRegisterWithRegistrar},
    {"UrlLauncherWindows", UrlLauncherWindowsRegisterWithRegistrar},
    {"VideoPlayerWinPluginCApi", VideoPlayerWinPluginCApiRegisterWithRegistrar},
    {"WindowManagerPlugin", WindowManagerPluginRegisterWithRegistrar},
    {"WireguardFlutterPluginCApi", WireguardFlutterPluginCApiRegisterWithRegistrar},
};

}  // namespace

void RegisterPlugins(flutter::PluginRegistry* registry) {
  for (const ExternalPlugin& plugin : kExternalPlugins) {
    // Passed on as returned, null included: the plugin decides what to do
    // without an engine.
    plugin.register_with_registrar(registry->GetPluginRegistrar(plugin.registrar_name));
  }
}
