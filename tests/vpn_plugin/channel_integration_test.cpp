#include <cstdint>
#include <memory>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/plugin_registrar_windows.h"
#include "plugin_fixture.h"
#include "standins/engine/standin_engine.h"

namespace tarvex {

// The plugin registered the way the host registers it, reached as bytes
// through the engine library's messenger.
class ChannelIntegrationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    standin::RefuseEngines(false);
    auto machine = std::make_unique<SimulatedWindows>();
    windows = machine.get();
    registrar = std::make_unique<flutter::PluginRegistrarWindows>(
        controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"));
    WindowsVpnPlugin::RegisterWithRegistrar(registrar.get(), std::move(machine));
  }

  standin::Delivery Deliver(const std::vector<uint8_t>& message) {
    return standin::DeliverMessage(standin::LastEngine(), "tarvex/windows_vpn", message);
  }

  // "isConnected" with no arguments, as the Flutter side encodes it.
  const std::vector<uint8_t> is_connected_ = {0x07, 0x0B, 'i', 's', 'C', 'o', 'n',
                                              'n',  'e',  'c', 't', 'e', 'd', 0x00};
  flutter::FlutterViewController controller{800, 600, flutter::ProjectBundle(L"data")};
  std::unique_ptr<flutter::PluginRegistrarWindows> registrar;
  SimulatedWindows* windows = nullptr;
};

TEST_F(ChannelIntegrationTest, IsConnectedTravelsAsBytesThroughTheEngineAndAnswersFromTheServices) {
  EXPECT_EQ(Deliver(is_connected_).reply.bytes, (std::vector<uint8_t>{0x00, 0x02}));
  windows->AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  EXPECT_EQ(Deliver(is_connected_).reply.bytes, (std::vector<uint8_t>{0x00, 0x01}));

  EXPECT_THAT(LogLinesOf(*windows),
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

TEST_F(ChannelIntegrationTest, BytesThatAreNotACallAreAnsweredByTheChannelAndNeverReachThePlugin) {
  const standin::Delivery delivery = Deliver({0x03, 0x01, 0x00, 0x00, 0x00});

  EXPECT_TRUE(delivery.reply.answered);
  EXPECT_TRUE(delivery.reply.null_data);
  EXPECT_THAT(LogLinesOf(*windows), IsEmpty());
}

TEST_F(ChannelIntegrationTest, TheRegistrarOwnsThePluginAndItsChannel) {
  EXPECT_THAT(standin::ChannelsWithCallback(standin::LastEngine()), ElementsAre("tarvex/windows_vpn"));
  EXPECT_EQ(windows->OpenHandles(), 0u);
  // Destroying the registrar destroys the plugin, and with it the machine it
  // talks to; ASan reports any use of either after this point.
  registrar.reset();
}

}  // namespace tarvex
