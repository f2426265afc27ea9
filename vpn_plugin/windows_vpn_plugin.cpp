#include "vpn_plugin/windows_vpn_plugin.h"

#include <string_view>
#include <utility>

#include "vpn_plugin/tunnel_naming.h"

namespace tarvex {

WindowsVpnPlugin::WindowsVpnPlugin(std::unique_ptr<WindowsApi> windows) : windows_(std::move(windows)) {}

WindowsVpnPlugin::~WindowsVpnPlugin() = default;

void WindowsVpnPlugin::HandleMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  // The name comes from the channel as it was sent: escaped, so a name with
  // line breaks cannot add lines of its own to the log. The channel's own
  // names are plain ASCII and are logged unchanged.
  Log("WindowsVpnPlugin::HandleMethodCall called: " + EscapedForLog(call.method_name()));

  using Operation = void (WindowsVpnPlugin::*)(const MethodCall&, std::unique_ptr<MethodResult>);
  struct Row {
    std::string_view name;
    Operation operation;
  };
  static constexpr Row kDispatch[] = {
      {"startTunnel", &WindowsVpnPlugin::StartTunnel},
      {"stopTunnel", &WindowsVpnPlugin::StopTunnel},
      {"isConnected", &WindowsVpnPlugin::IsConnected},
  };

  for (const Row& row : kDispatch) {
    if (call.method_name() == row.name) {
      (this->*row.operation)(call, std::move(result));
      return;
    }
  }
  result->NotImplemented();
}

}  // namespace tarvex
