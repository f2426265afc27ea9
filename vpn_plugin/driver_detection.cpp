#include <exception>
#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// A driver counts as installed when its service is registered and answers a
// status query, whatever its state. Every name is tried, so the log lists all
// that are present.
bool WindowsVpnPlugin::IsWireGuardDriverInstalled() {
  Log("WindowsVpnPlugin::IsWireGuardDriverInstalled - Checking driver status");
  try {
    OwnedServiceHandle manager(*windows_,
                               windows_->OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService));
    if (!manager) {
      Log("WindowsVpnPlugin::IsWireGuardDriverInstalled - Failed to open service manager");
      return false;
    }
    bool found = false;
    for (const char* name : {"WireGuard", "wintun", "wg-nt-driver"}) {
      OwnedServiceHandle service(
          *windows_, windows_->OpenServiceW(manager.get(), WidenName(name).c_str(), kServiceQueryStatus));
      if (!service) {
        continue;
      }
      ServiceStatus status{};
      if (windows_->QueryServiceStatus(service.get(), &status)) {
        Log(std::string("WindowsVpnPlugin::IsWireGuardDriverInstalled - Found driver service: ") + name);
        found = true;
      }
      service.Close();
    }
    manager.Close();
    if (found) {
      Log("WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver is already installed");
      return true;
    }
    Log("WindowsVpnPlugin::IsWireGuardDriverInstalled - WireGuard driver not found");
    return false;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::IsWireGuardDriverInstalled - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
