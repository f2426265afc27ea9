#pragma once

#include <algorithm>
#include <string>

#include "simulated_windows.h"

namespace tarvex {

constexpr const char* kWireGuardExe = "C:\\Apps\\Tarvex\\bin\\wireguard.exe";
constexpr const char* kNetshExe = "C:\\Windows\\system32\\netsh.exe";
constexpr const char* kTemp = "C:\\Users\\ana\\AppData\\Local\\Temp";

// Service names compare without regard to case, as the Service Control Manager compares them.
inline bool HasServiceNamed(const SimulatedWindows& windows, const std::string& name) {
  return std::any_of(windows.services.begin(), windows.services.end(), [&](const SimulatedService& s) {
    return Fold(s.name) == Fold(std::u16string(name.begin(), name.end()));
  });
}

// What a successful wireguard.exe does: "/installtunnelservice" creates the
// service named after the file's base name, unless the file is missing;
// "/uninstalltunnelservice" deletes the tunnel's service.
inline void ActAsWireGuard(SimulatedWindows& windows, const std::string& line) {
  const std::string install = "/installtunnelservice \"";
  const std::string uninstall = "/uninstalltunnelservice ";
  if (line.find(install) != std::string::npos) {
    const std::string quoted = line.substr(line.find(install) + install.size());
    const std::string conf = quoted.substr(0, quoted.rfind('"'));
    const std::string base = conf.substr(conf.rfind('\\') + 1, conf.rfind(".conf") - conf.rfind('\\') - 1);
    if (windows.files.count(conf) != 0 && !HasServiceNamed(windows, "WireGuardTunnel$" + base)) {
      windows.AddService(u"WireGuardTunnel$" + std::u16string(base.begin(), base.end()), kServiceStopped);
    }
  } else if (line.find(uninstall) != std::string::npos) {
    const std::string tunnel = line.substr(line.find(uninstall) + uninstall.size());
    const std::u16string name = Fold(u"WireGuardTunnel$" + std::u16string(tunnel.begin(), tunnel.end()));
    windows.services.erase(std::remove_if(windows.services.begin(), windows.services.end(),
                                          [&](const SimulatedService& s) { return Fold(s.name) == name; }),
                           windows.services.end());
  }
}

// A machine ready for tunnels: a bundled wireguard.exe (0.8 s of simulated
// time) that acts as the real one while its exit code is 0, netsh in the
// system folder, and "TEMP".
inline void EquipForTunnels(SimulatedWindows& windows) {
  windows.files[kWireGuardExe] = "";
  windows.programs[kWireGuardExe] = {0, 800};
  windows.programs[kNetshExe] = {0, 50};
  windows.folders.insert(kTemp);
  windows.env["TEMP"] = kTemp;
  windows.on_launch = [&windows](const std::string& program, const std::string& line) {
    if (program == kWireGuardExe && windows.programs.at(kWireGuardExe).exit_code == 0) {
      ActAsWireGuard(windows, line);
    }
  };
}

}  // namespace tarvex
