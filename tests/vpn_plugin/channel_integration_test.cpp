#include <cstdint>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/standard_method_codec.h"
#include "plugin_fixture.h"
#include "standins/engine/standin_engine.h"

namespace tarvex {

using ChannelIntegrationTest = PluginTest;

TEST_F(ChannelIntegrationTest, IsConnectedTravelsAsBytesThroughTheEngineAndAnswersFromTheServices) {
  standin::RefuseEngines(false);
  flutter::FlutterViewController controller(800, 600, flutter::ProjectBundle(L"data"));
  flutter::PluginRegistrarWindows registrar(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"));
  flutter::MethodChannel<> channel(registrar.messenger(), "tarvex/windows_vpn",
                                   &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler(
      [this](const auto& call, auto result) { plugin.HandleMethodCall(call, std::move(result)); });
  // "isConnected" with no arguments, as the Flutter side encodes it.
  const std::vector<uint8_t> call = {0x07, 0x0B, 'i', 's', 'C', 'o', 'n', 'n', 'e', 'c', 't', 'e', 'd', 0x00};

  EXPECT_EQ(standin::DeliverMessage(standin::LastEngine(), "tarvex/windows_vpn", call).reply.bytes,
            (std::vector<uint8_t>{0x00, 0x02}));
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  EXPECT_EQ(standin::DeliverMessage(standin::LastEngine(), "tarvex/windows_vpn", call).reply.bytes,
            (std::vector<uint8_t>{0x00, 0x01}));

  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::HandleMethodCall called: isConnected",
                          "WindowsVpnPlugin::IsConnected called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found",
                          "WindowsVpnPlugin::IsConnected - Connection status: false",
                          "WindowsVpnPlugin::HandleMethodCall called: isConnected",
                          "WindowsVpnPlugin::IsConnected called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection called",
                          "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
                          "WireGuardTunnel$tarvex_office",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard service found",
                          "WindowsVpnPlugin::IsConnected - Connection status: true"));
}

}  // namespace tarvex
