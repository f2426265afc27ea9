#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "embedding/flutter_engine.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "simulated_windows.h"
#include "standins/engine/standin_engine.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {
namespace {

// "isConnected" with no arguments, as the Flutter side encodes it.
const std::vector<uint8_t> kIsConnected = {0x07, 0x0B, 'i', 's', 'C', 'o', 'n',
                                           'n',  'e',  'c', 't', 'e', 'd', 0x00};

TEST(ChannelIntegrationTest, IsConnectedTravelsAsBytesThroughTheEngineAndAnswersFromTheServices) {
  standin::RefuseEngines(false);
  flutter::FlutterViewController controller(800, 600, flutter::ProjectBundle(L"data"));
  FlutterDesktopEngine* engine = standin::LastEngine();
  flutter::PluginRegistrarWindows registrar(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"));

  auto owned_windows = std::make_unique<SimulatedWindows>();
  SimulatedWindows& windows = *owned_windows;
  auto plugin = std::make_unique<WindowsVpnPlugin>(std::move(owned_windows));
  WindowsVpnPlugin* handler = plugin.get();
  registrar.AddPlugin(std::move(plugin));
  flutter::MethodChannel<> channel(registrar.messenger(), "tarvex/windows_vpn",
                                   &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler(
      [handler](const flutter::MethodCall<>& call, std::unique_ptr<flutter::MethodResult<>> result) {
        handler->HandleMethodCall(call, std::move(result));
      });

  EXPECT_EQ(standin::DeliverMessage(engine, "tarvex/windows_vpn", kIsConnected).reply.bytes,
            (std::vector<uint8_t>{0x00, 0x02}));
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  EXPECT_EQ(standin::DeliverMessage(engine, "tarvex/windows_vpn", kIsConnected).reply.bytes,
            (std::vector<uint8_t>{0x00, 0x01}));

  EXPECT_EQ(
      windows.FileContents("C:\\Users\\ana\\AppData\\Roaming\\Tarvex\\windows_vpn_debug.log"),
      "[2026-12-06 03:05:17] WindowsVpnPlugin::HandleMethodCall called: isConnected\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::IsConnected called\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::CheckWindowsVPNConnection called\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::IsConnected - Connection status: false\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::HandleMethodCall called: isConnected\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::IsConnected called\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::CheckWindowsVPNConnection called\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
      "WireGuardTunnel$tarvex_office\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard service found\r\n"
      "[2026-12-06 03:05:17] WindowsVpnPlugin::IsConnected - Connection status: true\r\n");
  EXPECT_EQ(windows.OpenHandles(), 0u);
}

}  // namespace
}  // namespace tarvex
