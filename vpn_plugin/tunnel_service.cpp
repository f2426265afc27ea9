#include <exception>
#include <string>

#include "vpn_plugin/child_process.h"
#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

constexpr Dword kInstallWaitMilliseconds = 10000;
constexpr Dword kRemovalWaitMilliseconds = 5000;

}  // namespace

// Only an exit code of 0 within the wait counts; an install still running
// after it reads as STILL_ACTIVE (259) and fails like any other code.
bool WindowsVpnPlugin::TryInstallTunnel(const std::string& wireguard_path, const std::string& config_path) {
  Log("WindowsVpnPlugin::TryInstallTunnel - Attempting installation without elevation");
  try {
    const ChildProcessOutcome install = RunHiddenCommand(
        *windows_, "\"" + wireguard_path + "\" /installtunnelservice \"" + config_path + "\"",
        kInstallWaitMilliseconds);
    if (!install.started) {
      Log("WindowsVpnPlugin::TryInstallTunnel - CreateProcess failed: " + GetErrorMessage(install.error));
      return false;
    }
    if (install.exit_code != 0) {
      Log("WindowsVpnPlugin::TryInstallTunnel - wireguard.exe failed with exit code: " +
          std::to_string(install.exit_code));
      return false;
    }
    Log("WindowsVpnPlugin::TryInstallTunnel - Installation successful without elevation");
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::TryInstallTunnel - Exception: ") + e.what());
    return false;
  }
}

// An earlier service of the same tunnel is removed first, so a leftover is
// replaced rather than duplicated. An administrator whose install failed gets
// no elevation prompt: elevation could not give it more rights.
bool WindowsVpnPlugin::InstallWireGuardTunnel(const std::string& config_path, const std::string& network_id,
                                              const std::string& config) {
  Log("WindowsVpnPlugin::InstallWireGuardTunnel - Installing tunnel: " + network_id);
  try {
    const std::string wireguard = FindWireGuardExecutable();
    if (wireguard.empty()) {
      Log("WindowsVpnPlugin::InstallWireGuardTunnel - wireguard.exe not found");
      return false;
    }
    Log("WindowsVpnPlugin::InstallWireGuardTunnel - Found wireguard.exe at: " + wireguard);

    const std::string tunnel_name = "tarvex_" + network_id;
    UninstallWireGuardTunnel(tunnel_name);

    if (!TryInstallTunnel(wireguard, config_path)) {
      Log("WindowsVpnPlugin::InstallWireGuardTunnel - Installation failed, trying with elevation");
      if (IsRunningAsAdmin()) {
        Log("WindowsVpnPlugin::InstallWireGuardTunnel - Already running as admin but installation failed");
        return false;
      }
      // The elevated program's exit code cannot be read: an accepted prompt
      // counts as an install, and the service start below tells the truth.
      if (!RunElevatedCommand(wireguard, "/installtunnelservice \"" + config_path + "\"")) {
        Log("WindowsVpnPlugin::InstallWireGuardTunnel - Elevated installation also failed");
        return false;
      }
    }
    Log("WindowsVpnPlugin::InstallWireGuardTunnel - Tunnel service installed successfully");

    AddFirewallRules(tunnel_name, config);

    if (StartWireGuardService("WireGuardTunnel$" + tunnel_name)) {
      Log("WindowsVpnPlugin::InstallWireGuardTunnel - Service started and tunnel is active");
      return true;
    }
    Log("WindowsVpnPlugin::InstallWireGuardTunnel - Failed to start service after installation");
    return false;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::InstallWireGuardTunnel - Exception: ") + e.what());
    return false;
  }
}

// A service the manager does not know needs no wireguard.exe; when the
// manager itself cannot be asked, the removal is run anyway.
bool WindowsVpnPlugin::UninstallWireGuardTunnel(const std::string& tunnel_name) {
  Log("WindowsVpnPlugin::UninstallWireGuardTunnel - Removing tunnel: " + tunnel_name);
  try {
    const std::string service_name = "WireGuardTunnel$" + tunnel_name;
    OwnedServiceHandle manager(*windows_, windows_->OpenSCManagerW(nullptr, nullptr, kScManagerConnect));
    if (manager) {
      OwnedServiceHandle service(
          *windows_,
          windows_->OpenServiceW(manager.get(), WidenName(service_name).c_str(), kServiceQueryStatus));
      if (!service) {
        manager.Close();
        Log("WindowsVpnPlugin::UninstallWireGuardTunnel - Service " + service_name +
            " does not exist, skipping");
        return true;
      }
      service.Close();
      manager.Close();
    }

    const std::string wireguard = FindWireGuardExecutable();
    if (wireguard.empty()) {
      Log("WindowsVpnPlugin::UninstallWireGuardTunnel - wireguard.exe not found");
      return false;
    }
    const ChildProcessOutcome removal = RunHiddenCommand(
        *windows_, "\"" + wireguard + "\" /uninstalltunnelservice " + tunnel_name, kRemovalWaitMilliseconds);
    if (!removal.started) {
      Log("WindowsVpnPlugin::UninstallWireGuardTunnel - CreateProcess failed: " +
          GetErrorMessage(removal.error));
      return false;
    }
    RemoveFirewallRules(tunnel_name);
    Log("WindowsVpnPlugin::UninstallWireGuardTunnel - Tunnel service removed");
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::UninstallWireGuardTunnel - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
