#include <cstdint>
#include <memory>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/plugin_registrar_windows.h"
#include "plugin_fixture.h"
#include "standins/engine/standin_engine.h"

namespace tarvex {

// The plugin registered the way the host registers it, reached as bytes through the engine library's
// messenger: "isConnected" as the Flutter side encodes it gets false, then true. The registrar owns the
// plugin and the machine it talks to (ASan reports any use of either after it goes).
TEST(ChannelIntegrationTest, IsConnectedTravelsAsBytesThroughTheEngine) {
  standin::RefuseEngines(false);
  flutter::FlutterViewController controller{800, 600, flutter::ProjectBundle(L"data")};
  flutter::PluginRegistrarWindows registrar(controller.engine()->GetPluginRegistrar("tarvex/windows_vpn"));
  auto machine = std::make_unique<SimulatedWindows>();
  SimulatedWindows& windows = *machine;
  WindowsVpnPlugin::RegisterWithRegistrar(&registrar, std::move(machine));
  const std::vector<uint8_t> is_connected = {0x07, 0x0B, 'i', 's', 'C', 'o', 'n',
                                             'n',  'e',  'c', 't', 'e', 'd', 0x00};
  for (const uint8_t reply : {0x02, 0x01}) {
    EXPECT_EQ(standin::DeliverMessage(standin::LastEngine(), "tarvex/windows_vpn", is_connected).reply.bytes,
              (std::vector<uint8_t>{0x00, reply}));
    windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  }
  EXPECT_THAT(standin::ChannelsWithCallback(standin::LastEngine()), ElementsAre("tarvex/windows_vpn"));
}

}  // namespace tarvex
