#include <exception>
#include <string>

#include "vpn_plugin/owned.h"
#include "vpn_plugin/protected_file.h"
#include "vpn_plugin/tunnel_naming.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

// A written configuration file stays: it is removed with the tunnel. Only one
// that could not be written whole is deleted at once.
bool WindowsVpnPlugin::CreateWireGuardTunnel(const std::string& config, const std::string& network_id) {
  Log("WindowsVpnPlugin::CreateWireGuardTunnel - Creating WireGuard tunnel for: " +
      EscapedForLog(network_id));
  try {
    if (config.empty()) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Config is empty");
      return false;
    }
    if (network_id.empty()) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Network ID is empty");
      return false;
    }
    if (!IsAcceptedNetworkId(network_id)) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Network ID refused, not a valid tunnel name: " +
          EscapedForLog(network_id));
      return false;
    }

    const std::string wireguard = FindWireGuardExecutable();
    if (wireguard.empty()) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - WireGuard executable not found in bundle or system");
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Please ensure wireguard.exe is in the bin/ directory");
      return false;
    }
    Log("WindowsVpnPlugin::CreateWireGuardTunnel - WireGuard found at: " + wireguard);
    if (wireguard.find("\\bin\\wireguard.exe") != std::string::npos) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Using bundled WireGuard executable");
    } else {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Using system-installed WireGuard executable");
    }

    // For the log only: whether elevation is asked for is decided by the
    // outcome of the unelevated install.
    if (IsWireGuardDriverInstalled()) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - WireGuard driver already installed, no elevation "
          "needed");
    } else if (!IsRunningAsAdmin()) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Driver not installed, elevation will be requested");
    }

    const std::string tunnel_name = "tarvex_" + network_id;
    const std::string wg_directory = WgDirectory(*windows_);
    // Held until the installation has returned: whoever could rename or
    // replace the folder meanwhile could hand wireguard.exe a configuration
    // of their own.
    OwnedHandle wg_folder(*windows_, OpenTrustedFolder(*windows_, wg_directory, MissingFolder::kCreate));
    if (!wg_folder) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Failed to create wg directory: " + wg_directory);
      return false;
    }

    // The file holds the tunnel's private key: only SYSTEM, the
    // administrators and this user may open it.
    const std::string config_path = wg_directory + "\\" + tunnel_name + ".conf";
    OwnedFile file(*windows_, CreateProtectedTextFile(*windows_, config_path));
    if (!file) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Failed to create config file: " + config_path);
      return false;
    }
    // Text mode stores each line feed as CR LF; nothing is added. wireguard.exe
    // reads the file, so it is closed first. A configuration cut short (a full
    // disk) would install a tunnel that cannot work: it is deleted instead.
    const bool written = windows_->FileWrite(file.get(), config.data(), config.size()) == config.size();
    const bool closed = windows_->FileClose(file.Disown()) == 0;
    if (!written || !closed) {
      windows_->DeleteFileA(config_path.c_str());
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - Failed to create config file: " + config_path);
      return false;
    }
    Log("WindowsVpnPlugin::CreateWireGuardTunnel - Config saved to: " + config_path);

    const bool installed = InstallWireGuardTunnel(config_path, network_id, config);
    wg_folder.Close();
    if (installed) {
      Log("WindowsVpnPlugin::CreateWireGuardTunnel - WireGuard tunnel created successfully");
      return true;
    }
    Log("WindowsVpnPlugin::CreateWireGuardTunnel - Failed to install WireGuard tunnel");
    return false;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::CreateWireGuardTunnel - error: ") + e.what());
    return false;
  } catch (...) {
    Log("WindowsVpnPlugin::CreateWireGuardTunnel - Unknown exception");
    return false;
  }
}

}  // namespace tarvex
