#pragma once

#include <algorithm>
#include <initializer_list>
#include <string>
#include <vector>

#include "plugin_fixture.h"

namespace tarvex {

constexpr const char* kWireGuardExe = "C:\\Apps\\Tarvex\\bin\\wireguard.exe";
constexpr const char* kNetshExe = "C:\\Windows\\system32\\netsh.exe";
constexpr const char* kTemp = "C:\\Users\\ana\\AppData\\Local\\Temp";
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
  void SetUp() override {
    windows.files[kWireGuardExe] = "";
    windows.programs[kWireGuardExe] = {0, 800};
    windows.programs[kNetshExe] = {0, 50};
    windows.folders.insert(kTemp);
    windows.env["TEMP"] = kTemp;
    windows.on_launch = [this](const std::string& program, const std::string& line) {
      if (program == kWireGuardExe && windows.programs.at(kWireGuardExe).exit_code == 0) {
        ActAsWireGuard(line);
      }
    };
  }

  // "/installtunnelservice" creates the service named after the file's base
  // name; "/uninstalltunnelservice" deletes the tunnel's service.
  void ActAsWireGuard(const std::string& line) {
    const std::string install = "/installtunnelservice \"";
    const std::string uninstall = "/uninstalltunnelservice ";
    if (line.find(install) != std::string::npos) {
      const std::string conf = line.substr(line.find(install) + install.size());
      const std::string base = conf.substr(conf.rfind('\\') + 1, conf.rfind(".conf") - conf.rfind('\\') - 1);
      if (!HasService("WireGuardTunnel$" + base)) {
        windows.AddService(u"WireGuardTunnel$" + std::u16string(base.begin(), base.end()), kServiceStopped);
      }
    } else if (line.find(uninstall) != std::string::npos) {
      const std::string tunnel = line.substr(line.find(uninstall) + uninstall.size());
      const std::u16string name = u"WireGuardTunnel$" + std::u16string(tunnel.begin(), tunnel.end());
      windows.services.erase(std::remove_if(windows.services.begin(), windows.services.end(),
                                            [&](const SimulatedService& s) { return s.name == name; }),
                             windows.services.end());
    }
  }

  bool HasService(const std::string& name) const {
    return std::any_of(windows.services.begin(), windows.services.end(), [&](const SimulatedService& s) {
      return s.name == std::u16string(name.begin(), name.end());
    });
  }

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
