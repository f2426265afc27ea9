#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "plugin_fixture.h"
#include "tunnel_machine.h"

namespace tarvex {

constexpr const char* kOfficeConf = "C:\\Users\\ana\\AppData\\Local\\Temp\\wg\\tarvex_office.conf";
constexpr const char* kOfficeService = "WireGuardTunnel$tarvex_office";
constexpr const char* kConfig =
    "[Interface]\nPrivateKey = cGxhY2Vob2xkZXI=\nAddress = 10.66.66.2/32, fd42::2/128\n\n"
    "[Peer]\nEndpoint = 203.0.113.5:51820\n";

inline std::vector<std::string> Join(std::initializer_list<std::vector<std::string>> parts) {
  std::vector<std::string> joined;
  for (const auto& part : parts) {
    joined.insert(joined.end(), part.begin(), part.end());
  }
  return joined;
}

// The lines of RemoveFirewallRules, and of AddFirewallRules for kConfig, with the rule-set name `tunnel`.
inline std::vector<std::string> RemoveRulesLines(const std::string& tunnel) {
  return {"WindowsVpnPlugin::RemoveFirewallRules - Removing rules for: " + tunnel,
          "WindowsVpnPlugin::RemoveFirewallRules - Firewall rules removed for: " + tunnel};
}
inline std::vector<std::string> AddRulesLines(const std::string& tunnel) {
  return Join({{"WindowsVpnPlugin::AddFirewallRules - Adding rules for: " + tunnel},
               RemoveRulesLines(tunnel),
               {"WindowsVpnPlugin::ExtractEndpointPort - Found port: 51820",
                "WindowsVpnPlugin::AddFirewallRules - Inbound WireGuard rule added",
                "WindowsVpnPlugin::AddFirewallRules - Outbound WireGuard rule added",
                "WindowsVpnPlugin::AddFirewallRules - App inbound rule added",
                "WindowsVpnPlugin::AddFirewallRules - App outbound rule added",
                "WindowsVpnPlugin::AddFirewallRules - UDP outbound port 51820 rule added",
                "WindowsVpnPlugin::AddFirewallRules - UDP inbound port 51820 rule added",
                "WindowsVpnPlugin::AddFirewallRules - VPN inbound rule added for IP: 10.66.66.2",
                "WindowsVpnPlugin::AddFirewallRules - VPN outbound rule added for IP: 10.66.66.2",
                "WindowsVpnPlugin::AddFirewallRules - ICMP ping rule added for IP: 10.66.66.2",
                "WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: " + tunnel}});
}

// A machine with a bundled wireguard.exe that installs and removes tunnel
// services as the real one does, netsh in the system folder, and "TEMP".
class TunnelTest : public PluginTest {
 protected:
  void SetUp() override { EquipForTunnels(windows); }

  bool HasService(const std::string& name) const { return HasServiceNamed(windows, name); }

  // The command lines given to netsh, and those given to anything else.
  std::vector<std::string> NetshLines() const { return LaunchesOf(true); }
  std::vector<std::string> OtherLaunches() const { return LaunchesOf(false); }

 private:
  std::vector<std::string> LaunchesOf(bool netsh) const {
    std::vector<std::string> lines;
    for (std::size_t i = 0; i < windows.launches.size(); ++i) {
      if ((windows.applications[i] == kNetshExe) == netsh) {
        lines.push_back(windows.launches[i]);
      }
    }
    return lines;
  }
};

}  // namespace tarvex
