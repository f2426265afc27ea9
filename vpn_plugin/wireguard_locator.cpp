#include <optional>
#include <string>

#include "vpn_plugin/executable_path.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// A copy shipped with the application wins over a system installation; the
// search runs afresh on every call, so a copy added or removed meanwhile counts.
// Without a trustworthy path of our own there is no application folder to
// look in, and the search goes straight to the system installation.
std::string WindowsVpnPlugin::FindWireGuardExecutable() {
  const std::optional<std::string> executable = ReadExecutablePath(*windows_);

  const auto exists = [this](const std::string& path) {
    return windows_->GetFileAttributesA(path.c_str()) != kInvalidFileAttributes;
  };

  if (executable) {
    const std::string folder = FolderOf(*executable);
    std::string bundled = folder + "\\bin\\wireguard.exe";
    if (exists(bundled)) {
      Log("WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: " + bundled);
      return bundled;
    }
    std::string in_assets = folder + "\\data\\flutter_assets\\assets\\bin\\wireguard.exe";
    if (exists(in_assets)) {
      Log("WindowsVpnPlugin::FindWireGuardExecutable - Found in assets at: " + in_assets);
      return in_assets;
    }
  }
  for (const char* system_path :
       {"C:\\Program Files\\WireGuard\\wireguard.exe", "C:\\Program Files (x86)\\WireGuard\\wireguard.exe"}) {
    if (exists(system_path)) {
      Log(std::string("WindowsVpnPlugin::FindWireGuardExecutable - Found system-installed at: ") +
          system_path);
      return system_path;
    }
  }
  Log("WindowsVpnPlugin::FindWireGuardExecutable - WireGuard executable not found in bundle or system");
  return std::string();
}

}  // namespace tarvex
