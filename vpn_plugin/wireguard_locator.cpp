#include <algorithm>
#include <string>

#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// A copy shipped with the application wins over a system installation; the
// search runs afresh on every call, so a copy added or removed meanwhile counts.
std::string WindowsVpnPlugin::FindWireGuardExecutable() {
  char module_path[kMaxPath] = {};
  windows_->GetModuleFileNameA(nullptr, module_path, kMaxPath);
  // Old systems leave a path that fills the buffer without its terminator.
  const std::string executable(module_path, std::find(module_path, module_path + kMaxPath, '\0'));

  const std::string::size_type last_backslash = executable.rfind('\\');
  const std::string folder =
      last_backslash == std::string::npos ? executable : executable.substr(0, last_backslash);

  const auto exists = [this](const std::string& path) {
    return windows_->GetFileAttributesA(path.c_str()) != kInvalidFileAttributes;
  };

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
