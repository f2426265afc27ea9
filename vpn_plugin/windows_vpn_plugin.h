#pragma once

#include <deque>
#include <map>
#include <memory>
#include <string>

#include "embedding/encodable_value.h"
#include "embedding/method_call.h"
#include "embedding/method_channel.h"
#include "embedding/method_result.h"
#include "embedding/plugin.h"
#include "embedding/plugin_registrar_windows.h"
#include "vpn_plugin/windows_api.h"

namespace tarvex {

class WindowsVpnPluginTestPeer;

// The plugin behind the channel "tarvex/windows_vpn": it answers the Flutter
// side's tunnel calls with WireGuard for Windows, the Service Control Manager
// and a debug log. Every operation runs on the platform thread and replies
// before it returns.
class WindowsVpnPlugin : public flutter::Plugin {
 public:
  using MethodCall = flutter::MethodCall<flutter::EncodableValue>;
  using MethodResult = flutter::MethodResult<flutter::EncodableValue>;

  // On Windows: the plugin talks to the real system.
  WindowsVpnPlugin();
  // Talks to Windows through `windows`, which it keeps.
  explicit WindowsVpnPlugin(std::unique_ptr<WindowsApi> windows);
  ~WindowsVpnPlugin() override;

  WindowsVpnPlugin(const WindowsVpnPlugin&) = delete;
  WindowsVpnPlugin& operator=(const WindowsVpnPlugin&) = delete;

  // On Windows: creates the plugin on the channel "tarvex/windows_vpn" of
  // `registrar`, which keeps it until the registrar goes.
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar);
  // The same, with the plugin talking to Windows through `windows`.
  static void RegisterWithRegistrar(flutter::PluginRegistrarWindows* registrar,
                                    std::unique_ptr<WindowsApi> windows);

  // Logs the call and routes it by its exact name; names without an
  // operation are answered "not implemented". A call that arrives while
  // another is being handled waits until that one has replied.
  void HandleMethodCall(const MethodCall& call, std::unique_ptr<MethodResult> result);

  // The operations below are public so each can be driven on its own.

  // "startTunnel": creates the tunnel of the call's "networkId" from its
  // "config" and replies whether it is up.
  void StartTunnel(const MethodCall& call, std::unique_ptr<MethodResult> result);
  // "stopTunnel": removes the tunnel of the call's "networkId" and replies
  // whether the removal ran to its end.
  void StopTunnel(const MethodCall& call, std::unique_ptr<MethodResult> result);
  // Creates the tunnel unless this process already did and its service still
  // runs; registers it once up.
  bool CreateWindowsVPNTunnel(const std::string& config, const std::string& network_id);
  // Uninstalls the tunnel, forgets it and deletes its configuration file.
  bool RemoveWindowsVPNTunnel(const std::string& network_id);
  // Writes the configuration file and installs it as a running tunnel.
  bool CreateWireGuardTunnel(const std::string& config, const std::string& network_id);

  // Installs the tunnel service unelevated; true only for exit code 0.
  bool TryInstallTunnel(const std::string& wireguard_path, const std::string& config_path);
  // Replaces any earlier service of the tunnel, installs it (elevated when
  // that is needed and possible), opens the firewall and starts the service.
  bool InstallWireGuardTunnel(const std::string& config_path, const std::string& network_id,
                              const std::string& config);
  // Removes the tunnel's service and its firewall rules, if the service exists.
  bool UninstallWireGuardTunnel(const std::string& tunnel_name);
  // The rule set's nine netsh rules, replacing any earlier ones of that name.
  bool AddFirewallRules(const std::string& rule_set_name, const std::string& config);
  // Deletes the rule set's nine rule names.
  bool RemoveFirewallRules(const std::string& rule_set_name);

  // "isConnected": replies with CheckWindowsVPNConnection's answer.
  void IsConnected(const MethodCall& call, std::unique_ptr<MethodResult> result);
  // A registered tunnel's service runs, or any WireGuard tunnel service does.
  bool CheckWindowsVPNConnection();
  // The service "WireGuardTunnel$tarvex_" + `network_id` exists and runs.
  bool IsVPNConnected(const std::string& network_id);
  // Some running Win32 service's name begins with "WireGuardTunnel$" or "tarvex_".
  bool CheckWireGuardServices();

  // Appends one timestamped line to the debug log; never fails outward.
  void Log(const std::string& message);

  // The calling thread's effective token is in the Administrators group.
  bool IsRunningAsAdmin();
  // Starts `program` through the elevation prompt, after telling the user why.
  bool RunElevatedCommand(const std::string& program, const std::string& parameters);
  // The system's text for a Win32 error code, line end kept; empty if none.
  std::string GetErrorMessage(Dword code);

  // Full path of the first wireguard.exe found, or empty.
  std::string FindWireGuardExecutable();
  // Starts the service and waits until it runs, stops, or 30 s pass.
  bool StartWireGuardService(const std::string& service_name);
  // One of WireGuard's driver services is registered.
  bool IsWireGuardDriverInstalled();
  // The port of the first usable "Endpoint" line, or empty.
  std::string ExtractEndpointPort(const std::string& config);

 private:
  friend class WindowsVpnPluginTestPeer;

  // A call held until the running one has replied: its own copy of the call
  // (the caller's goes when the caller returns) and its result.
  struct HeldCall {
    std::unique_ptr<MethodCall> call;
    std::unique_ptr<MethodResult> result;
  };

  // Logs the call and runs its operation, which replies.
  void Dispatch(const MethodCall& call, std::unique_ptr<MethodResult> result);

  // Declared first so that it goes last: the channel and every operation use it.
  std::unique_ptr<WindowsApi> windows_;
  std::unique_ptr<flutter::MethodChannel<flutter::EncodableValue>> channel_;
  // Network ids this process created a tunnel for and has not removed.
  std::map<std::string, bool> tunnels_;
  // A call is being handled; calls arriving meanwhile wait in `held_calls_`,
  // in arrival order. Held calls exist only while a call is being handled; a
  // result destroyed unanswered with the plugin is reported by the channel,
  // never sent.
  bool handling_ = false;
  std::deque<HeldCall> held_calls_;
};

}  // namespace tarvex
