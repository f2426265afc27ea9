#include <algorithm>
#include <exception>
#include <map>
#include <string>

#include "embedding/encodable_value.h"
#include "vpn_plugin/owned.h"
#include "vpn_plugin/protected_file.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/tunnel_naming.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;

// The call's arguments when they are a map; null for none, null or any other value.
const EncodableMap* ArgumentMap(const WindowsVpnPlugin::MethodCall& call) {
  return call.arguments() != nullptr ? call.arguments()->TryGet<EncodableMap>() : nullptr;
}

// "networkId", or "tarvex_default" when the map has no such key. A value
// that is not a string throws std::bad_variant_access ("bad variant access").
std::string ReadNetworkId(const EncodableMap& arguments) {
  const auto found = arguments.find(EncodableValue("networkId"));
  return found != arguments.end() ? found->second.Get<std::string>() : std::string("tarvex_default");
}

// Windows compares service and file names without regard to case, so an id
// that differs from a registered one only in letter case would name that
// id's service and file. Accepted ids are ASCII, so ASCII folding suffices.
const std::string* RegisteredIdOfTheSameTunnel(const std::map<std::string, bool>& tunnels,
                                               const std::string& network_id) {
  const auto folded = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
  for (const auto& tunnel : tunnels) {
    const std::string& id = tunnel.first;
    if (id.size() == network_id.size() &&
        std::equal(id.begin(), id.end(), network_id.begin(),
                   [&](char a, char b) { return folded(a) == folded(b); })) {
      return &id;
    }
  }
  return nullptr;
}

// Whether the service runs, asked with the rights of the connection check
// and without a log line; a service that cannot be asked about counts as not
// running.
bool ServiceRuns(WindowsApi& windows, const std::string& service_name) {
  OwnedServiceHandle manager(windows, windows.OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService));
  if (!manager) {
    return false;
  }
  OwnedServiceHandle service(
      windows, windows.OpenServiceW(manager.get(), WidenName(service_name).c_str(), kServiceQueryStatus));
  if (!service) {
    return false;
  }
  ServiceStatus status{};
  const bool queried = windows.QueryServiceStatus(service.get(), &status);
  service.Close();
  manager.Close();
  return queried && status.current_state == kServiceRunning;
}

}  // namespace

void WindowsVpnPlugin::StartTunnel(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  Log("WindowsVpnPlugin::StartTunnel called");
  const EncodableMap* arguments = ArgumentMap(call);
  if (arguments == nullptr) {
    Log("WindowsVpnPlugin::StartTunnel - Invalid arguments");
    result->Error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel");
    return;
  }
  try {
    // The id is read, type included, before the configuration is looked for.
    const std::string network_id = ReadNetworkId(*arguments);
    const auto config = arguments->find(EncodableValue("config"));
    if (config == arguments->end()) {
      Log("WindowsVpnPlugin::StartTunnel - No config provided");
      result->Error("INVALID_CONFIG", "No config provided");
      return;
    }
    const std::string& config_text = config->second.Get<std::string>();
    Log("WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: " + EscapedForLog(network_id));
    const bool created = CreateWindowsVPNTunnel(config_text, network_id);
    Log(created ? "WindowsVpnPlugin::StartTunnel - Tunnel created successfully"
                : "WindowsVpnPlugin::StartTunnel - Failed to create tunnel");
    result->Success(EncodableValue(created));
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::StartTunnel - Exception: ") + e.what());
    result->Error("START_TUNNEL_ERROR", std::string("Failed to start tunnel: ") + e.what());
  }
}

void WindowsVpnPlugin::StopTunnel(const MethodCall& call, std::unique_ptr<MethodResult> result) {
  Log("WindowsVpnPlugin::StopTunnel called");
  const EncodableMap* arguments = ArgumentMap(call);
  if (arguments == nullptr) {
    result->Error("INVALID_ARGUMENTS", "Invalid arguments for stopTunnel");
    return;
  }
  try {
    const std::string network_id = ReadNetworkId(*arguments);
    Log("WindowsVpnPlugin::StopTunnel - Removing tunnel with networkId: " + EscapedForLog(network_id));
    const bool removed = RemoveWindowsVPNTunnel(network_id);
    Log(removed ? "WindowsVpnPlugin::StopTunnel - Tunnel removed successfully"
                : "WindowsVpnPlugin::StopTunnel - Failed to remove tunnel");
    result->Success(EncodableValue(removed));
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::StopTunnel - Exception: ") + e.what());
    result->Error("STOP_TUNNEL_ERROR", std::string("Failed to stop tunnel: ") + e.what());
  }
}

// An id is registered only once its tunnel is up, so a failed creation can
// simply be tried again. A registered id whose service runs is not created
// twice, whatever the configuration says now; one whose service has died or
// was removed from outside this program is forgotten and created again,
// rather than reported as up. No other id may take over a registered tunnel.
bool WindowsVpnPlugin::CreateWindowsVPNTunnel(const std::string& config, const std::string& network_id) {
  Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - networkId: " + EscapedForLog(network_id));
  const bool registered = tunnels_.count(network_id) != 0;
  try {
    if (registered) {
      if (ServiceRuns(*windows_, "WireGuardTunnel$tarvex_" + network_id)) {
        Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - VPN already exists for networkId: " + network_id);
        return true;
      }
      tunnels_.erase(network_id);
      Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - Registered tunnel is not running, creating it again: " +
          network_id);
    }
    if (const std::string* other = RegisteredIdOfTheSameTunnel(tunnels_, network_id)) {
      Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - Network ID refused, same tunnel name as: " + *other);
      return false;
    }
    if (!CreateWireGuardTunnel(config, network_id)) {
      Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - Failed to create WireGuard tunnel");
      return false;
    }
    tunnels_.emplace(network_id, true);
    Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - WireGuard tunnel created successfully for: " +
        network_id);
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::CreateWindowsVPNTunnel - error: ") + e.what());
    return false;
  } catch (...) {
    Log("WindowsVpnPlugin::CreateWindowsVPNTunnel - Unknown exception");
    return false;
  }
}

// Best effort: the service, the registry entry and the file go one after the
// other, and a step that fails does not stop the next. An id that can never
// have been a tunnel, or whose tunnel belongs to another registered id, is
// refused before anything is touched.
bool WindowsVpnPlugin::RemoveWindowsVPNTunnel(const std::string& network_id) {
  Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - networkId: " + EscapedForLog(network_id));
  try {
    if (!IsAcceptedNetworkId(network_id)) {
      Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - Network ID refused, not a valid tunnel name: " +
          EscapedForLog(network_id));
      return false;
    }
    if (tunnels_.count(network_id) == 0) {
      if (const std::string* other = RegisteredIdOfTheSameTunnel(tunnels_, network_id)) {
        Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - Network ID refused, same tunnel name as: " + *other);
        return false;
      }
    }
    const std::string tunnel_name = "tarvex_" + network_id;
    if (!UninstallWireGuardTunnel(tunnel_name)) {
      Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - Failed to uninstall WireGuard tunnel");
    }
    tunnels_.erase(network_id);

    // A file that is missing or in use is left as it is, without a line; so
    // is one in a wg folder that somebody else may have made or pointed
    // elsewhere.
    const std::string wg_directory = WgDirectory(*windows_);
    const std::string config_path = wg_directory + "\\" + tunnel_name + ".conf";
    OwnedHandle wg_folder(*windows_, OpenTrustedFolder(*windows_, wg_directory, MissingFolder::kRefuse));
    if (wg_folder && windows_->DeleteFileA(config_path.c_str())) {
      Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - Config file cleaned up: " + config_path);
    }
    wg_folder.Close();
    Log("WindowsVpnPlugin::RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully for: " +
        network_id);
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::RemoveWindowsVPNTunnel - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
