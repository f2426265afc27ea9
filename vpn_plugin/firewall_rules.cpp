#include <exception>
#include <optional>
#include <string>

#include "vpn_plugin/child_process.h"
#include "vpn_plugin/config_fields.h"
#include "vpn_plugin/executable_path.h"
#include "vpn_plugin/tunnel_naming.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

namespace {

constexpr Dword kNetshWaitMilliseconds = 5000;

// netsh runs from the system folder by its full path: by its bare name
// CreateProcessA would look in the application folder and the current
// directory first, and run, elevated, whatever netsh.exe was put there.
// Without the system folder nothing runs. The command line stays as it is.
bool RunNetsh(WindowsApi& windows, const std::string& command_line) {
  char system_folder[kMaxPath] = {};
  const Dword length = windows.GetSystemDirectoryA(system_folder, kMaxPath);
  if (length == 0 || length >= kMaxPath) {
    return false;
  }
  const std::string netsh = std::string(system_folder, length) + "\\netsh.exe";
  return RunHiddenCommand(windows, command_line, kNetshWaitMilliseconds, netsh).started;
}

// The port and the address go into netsh command lines unquoted: a quote, a
// "name=value" word or a keyword such as "any" there would add other rules
// than the tunnel's (a rule for "localip=any" allows all inbound traffic).
// Only a port number and IP address literals are let in.
bool IsPortNumber(const std::string& text) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  const int port = std::stoi(text);
  return port >= 1 && port <= 65535;
}

// One address, or a list of them as the configuration writes it when it
// gives no prefix lengths ("10.0.0.2, fd00::2"). Hexadecimal digits, '.', ':',
// commas and blanks can form neither a netsh parameter nor a keyword, so such
// a list goes to netsh exactly as it stands in the configuration.
bool IsAddressList(const std::string& text) {
  return !text.empty() && text.find_first_not_of("0123456789abcdefABCDEF.:, \t") == std::string::npos;
}

}  // namespace

// A rule's "added" line says only that netsh was started: what netsh made of
// the command is not looked at.
bool WindowsVpnPlugin::AddFirewallRules(const std::string& rule_set_name, const std::string& config) {
  Log("WindowsVpnPlugin::AddFirewallRules - Adding rules for: " + rule_set_name);
  try {
    RemoveFirewallRules(rule_set_name);

    const std::string base_name = "Tarvex VPN - " + rule_set_name;
    const std::optional<std::string> executable = ReadExecutablePath(*windows_);
    const std::string port = ExtractEndpointPort(config);

    const auto add_rule = [&](const char* middle, const std::string& value, const char* closing,
                              const std::string& added_line) {
      if (RunNetsh(*windows_,
                   "netsh advfirewall firewall add rule name=\"" + base_name + middle + value + closing)) {
        Log(added_line);
      }
    };

    // Without a trustworthy path of our own the program rules would open the
    // firewall for some other folder's programs, so they are left out.
    if (executable) {
      const std::string wireguard = FolderOf(*executable) + "\\bin\\wireguard.exe";
      add_rule(" In\" dir=in action=allow protocol=any program=\"", wireguard, "\" enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - Inbound WireGuard rule added");
      add_rule(" Out\" dir=out action=allow protocol=any program=\"", wireguard, "\" enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - Outbound WireGuard rule added");
      add_rule(" App In\" dir=in action=allow protocol=any program=\"", *executable,
               "\" enable=yes profile=any", "WindowsVpnPlugin::AddFirewallRules - App inbound rule added");
      add_rule(" App Out\" dir=out action=allow protocol=any program=\"", *executable,
               "\" enable=yes profile=any", "WindowsVpnPlugin::AddFirewallRules - App outbound rule added");
    }

    if (!port.empty() && !IsPortNumber(port)) {
      Log("WindowsVpnPlugin::AddFirewallRules - Endpoint port is not a port number, UDP rules skipped: " +
          EscapedForLog(port));
    } else if (!port.empty()) {
      add_rule(" UDP\" dir=out action=allow protocol=udp remoteport=", port, " enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - UDP outbound port " + port + " rule added");
      add_rule(" UDP In\" dir=in action=allow protocol=udp localport=", port, " enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - UDP inbound port " + port + " rule added");
    }

    // The first address of the list, without its prefix length.
    const std::string address_line = ExtractConfigValue(config, "Address");
    const std::string address = address_line.substr(0, address_line.find('/'));
    if (!address.empty() && !IsAddressList(address)) {
      Log("WindowsVpnPlugin::AddFirewallRules - Address is not an IP address, VPN rules skipped: " +
          EscapedForLog(address));
    } else if (!address.empty()) {
      add_rule(" VPN In\" dir=in action=allow protocol=any localip=", address, " enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - VPN inbound rule added for IP: " + address);
      add_rule(" VPN Out\" dir=out action=allow protocol=any localip=", address, " enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - VPN outbound rule added for IP: " + address);
      add_rule(" ICMP\" dir=in action=allow protocol=icmpv4 localip=", address, " enable=yes profile=any",
               "WindowsVpnPlugin::AddFirewallRules - ICMP ping rule added for IP: " + address);
    }

    Log("WindowsVpnPlugin::AddFirewallRules - All firewall rules added for: " + rule_set_name);
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::AddFirewallRules - Exception: ") + e.what());
    return false;
  }
}

// Every rule name is deleted whether or not it exists; netsh's answer is not
// looked at.
bool WindowsVpnPlugin::RemoveFirewallRules(const std::string& rule_set_name) {
  Log("WindowsVpnPlugin::RemoveFirewallRules - Removing rules for: " + rule_set_name);
  try {
    const std::string base_name = "Tarvex VPN - " + rule_set_name;
    for (const char* suffix :
         {" In", " Out", " App In", " App Out", " UDP", " UDP In", " VPN In", " VPN Out", " ICMP"}) {
      RunNetsh(*windows_, "netsh advfirewall firewall delete rule name=\"" + base_name + suffix + "\"");
    }
    Log("WindowsVpnPlugin::RemoveFirewallRules - Firewall rules removed for: " + rule_set_name);
    return true;
  } catch (const std::exception& e) {
    Log(std::string("WindowsVpnPlugin::RemoveFirewallRules - Exception: ") + e.what());
    return false;
  }
}

}  // namespace tarvex
