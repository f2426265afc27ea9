#include "tunnel_fixture.h"
#include "vpn_plugin/tunnel_naming.h"

namespace tarvex {

using flutter::EncodableMap;
using flutter::EncodableValue;

TEST(NetworkIdTest, OnlyIdsThatMakeAWireGuardTunnelNameAreAccepted) {
  for (const std::string& id :
       std::vector<std::string>{"office", "a", "A-Z_0.9=+x", std::string(25, 'x'), "1.5"}) {
    EXPECT_TRUE(IsAcceptedNetworkId(id)) << id;
  }
  for (const std::string& id :
       std::vector<std::string>{"", std::string(26, 'x'), "office.", "a b", "a\"b", "a/b", "a\\b", "..",
                                "a:b", "a*b", "caf\xC3\xA9", std::string("a\0b", 3), "a\nb"}) {
    EXPECT_FALSE(IsAcceptedNetworkId(id)) << id;
  }
}

TEST(NetworkIdTest, LoggedIdsCarryNoControlBytesBackslashesOrHighBytes) {
  EXPECT_EQ(EscapedForLog("office-1.=+_"), "office-1.=+_");
  EXPECT_EQ(EscapedForLog(std::string("a\0b\r\n\\\x7F\xC3\xA9 \"/", 12)),
            "a\\x00b\\x0D\\x0A\\x5C\\x7F\\xC3\\xA9 \"/");
}

class HostileIdTest : public TunnelTest, public ::testing::WithParamInterface<std::string> {};

// Neither a start nor a stop with such an id writes, deletes or runs
// anything, and every line it logs is one line of the plugin's own.
TEST_P(HostileIdTest, IsRefusedWithoutTouchingTheMachineOrForgingLogLines) {
  const std::string id = GetParam();
  const std::string logged = EscapedForLog(id);
  const std::size_t files_before = windows.files.size();

  EXPECT_EQ(Call("startTunnel",
                 std::make_unique<EncodableValue>(EncodableMap{{"networkId", id}, {"config", kConfig}})),
            "false");
  EXPECT_EQ(Call("stopTunnel", std::make_unique<EncodableValue>(EncodableMap{{"networkId", id}})), "false");

  EXPECT_THAT(windows.launches, IsEmpty());
  EXPECT_THAT(windows.elevations, IsEmpty());
  EXPECT_EQ(windows.calls["CreateFileA"] + windows.calls["DeleteFileA"] + windows.calls["OpenServiceW"], 0);
  EXPECT_EQ(windows.files.size(), files_before + 1);  // the log
  EXPECT_THAT(
      LogLines(),
      ElementsAre(
          "WindowsVpnPlugin::HandleMethodCall called: startTunnel", "WindowsVpnPlugin::StartTunnel called",
          "WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: " + logged,
          "WindowsVpnPlugin::CreateWindowsVPNTunnel - networkId: " + logged,
          "WindowsVpnPlugin::CreateWireGuardTunnel - Creating WireGuard tunnel for: " + logged,
          "WindowsVpnPlugin::CreateWireGuardTunnel - Network ID refused, not a valid tunnel name: " + logged,
          "WindowsVpnPlugin::CreateWindowsVPNTunnel - Failed to create WireGuard tunnel",
          "WindowsVpnPlugin::StartTunnel - Failed to create tunnel",
          "WindowsVpnPlugin::HandleMethodCall called: stopTunnel", "WindowsVpnPlugin::StopTunnel called",
          "WindowsVpnPlugin::StopTunnel - Removing tunnel with networkId: " + logged,
          "WindowsVpnPlugin::RemoveWindowsVPNTunnel - networkId: " + logged,
          "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Network ID refused, not a valid tunnel name: " + logged,
          "WindowsVpnPlugin::StopTunnel - Failed to remove tunnel"));
  for (const std::string& line : LogLines()) {
    EXPECT_EQ(line.find_first_of(std::string("\r\n\0", 3)), std::string::npos) << line;
  }
}

INSTANTIATE_TEST_SUITE_P(Ids, HostileIdTest,
                         ::testing::Values("a\" /installtunnelservice \"C:\\evil", "office home",
                                           "..\\..\\Windows\\evil", "../../evil", "a/b", std::string(26, 'x'),
                                           "caf\xC3\xA9",
                                           "x\r\n[2026-12-06 03:05:17] WindowsVpnPlugin::forged",
                                           std::string("office\0other", 12), "office.", "\x1B[2J"));

}  // namespace tarvex
