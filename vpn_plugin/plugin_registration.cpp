#include <memory>
#include <utility>

#include "embedding/method_channel.h"
#include "embedding/standard_method_codec.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

void WindowsVpnPlugin::RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar,
                                             std::unique_ptr<WindowsApi> windows) {
  auto channel = std::make_unique<flutter::MethodChannel<flutter::EncodableValue>>(
      registrar->messenger(), "tarvex/windows_vpn", &flutter::StandardMethodCodec::GetInstance());

  auto plugin = std::make_unique<WindowsVpnPlugin>(std::move(windows));

  // The handler points back at the plugin without owning it: the registrar
  // owns the plugin, the plugin owns the channel, and the registrar destroys
  // its plugins before the messenger that delivers the calls.
  WindowsVpnPlugin* plugin_pointer = plugin.get();
  channel->SetMethodCallHandler(
      [plugin_pointer](const MethodCall& call, std::unique_ptr<MethodResult> result) {
        plugin_pointer->HandleMethodCall(call, std::move(result));
      });

  plugin->channel_ = std::move(channel);
  registrar->AddPlugin(std::move(plugin));
}

}  // namespace tarvex
