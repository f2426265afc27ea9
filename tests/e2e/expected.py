"""The debug-log lines and netsh command lines the plugin writes for the
common roads, for the end-to-end suites to compare with, byte for byte."""

P = "WindowsVpnPlugin::"
# The default scenario's tunnel, as driver.SAMPLE_CONFIG and SAMPLE_NETWORK_ID form it.
SAMPLE_TUNNEL = "tarvex_office"
SAMPLE_SERVICE = "WireGuardTunnel$" + SAMPLE_TUNNEL
SAMPLE_ADDRESS, SAMPLE_PORT = "10.66.66.2", "51820"

RULES = [" In", " Out", " App In", " App Out", " UDP", " UDP In", " VPN In", " VPN Out", " ICMP"]


def is_connected_lines(connected_id=None):
    lines = [P + "HandleMethodCall called: isConnected", P + "IsConnected called",
             P + "CheckWindowsVPNConnection called"]
    if connected_id is None:
        return lines + [P + "CheckWindowsVPNConnection - No WireGuard connections found",
                        P + "IsConnected - Connection status: false"]
    return lines + [
        P + "IsVPNConnected - Service WireGuardTunnel$tarvex_" + connected_id + " status: RUNNING",
        P + "CheckWindowsVPNConnection - WireGuard VPN connected: " + connected_id,
        P + "IsConnected - Connection status: true"]


def connected_by_service_lines(service):
    """"isConnected" with no registered id running, found by the enumeration."""
    return [P + "HandleMethodCall called: isConnected", P + "IsConnected called",
            P + "CheckWindowsVPNConnection called",
            P + "CheckWireGuardServices - Found running WireGuard service: " + service,
            P + "CheckWindowsVPNConnection - WireGuard service found",
            P + "IsConnected - Connection status: true"]


def firewall_add_lines(tunnel, port, address):
    return [
        P + "AddFirewallRules - Adding rules for: " + tunnel,
        P + "RemoveFirewallRules - Removing rules for: " + tunnel,
        P + "RemoveFirewallRules - Firewall rules removed for: " + tunnel,
        P + "ExtractEndpointPort - Found port: " + port,
        P + "AddFirewallRules - Inbound WireGuard rule added",
        P + "AddFirewallRules - Outbound WireGuard rule added",
        P + "AddFirewallRules - App inbound rule added",
        P + "AddFirewallRules - App outbound rule added",
        P + "AddFirewallRules - UDP outbound port " + port + " rule added",
        P + "AddFirewallRules - UDP inbound port " + port + " rule added",
        P + "AddFirewallRules - VPN inbound rule added for IP: " + address,
        P + "AddFirewallRules - VPN outbound rule added for IP: " + address,
        P + "AddFirewallRules - ICMP ping rule added for IP: " + address,
        P + "AddFirewallRules - All firewall rules added for: " + tunnel]


def start_lines(network_id, wireguard, config_path, port, address, service_exists=False):
    """A start as administrator with no WireGuard driver service registered."""
    tunnel = "tarvex_" + network_id
    found = P + "FindWireGuardExecutable - Found bundled at: " + wireguard
    lines = [
        P + "HandleMethodCall called: startTunnel",
        P + "StartTunnel called",
        P + "StartTunnel - Creating tunnel with networkId: " + network_id,
        P + "CreateWindowsVPNTunnel - networkId: " + network_id,
        P + "CreateWireGuardTunnel - Creating WireGuard tunnel for: " + network_id,
        found,
        P + "CreateWireGuardTunnel - WireGuard found at: " + wireguard,
        P + "CreateWireGuardTunnel - Using bundled WireGuard executable",
        P + "IsWireGuardDriverInstalled - Checking driver status",
        P + "IsWireGuardDriverInstalled - WireGuard driver not found",
        P + "CreateWireGuardTunnel - Config saved to: " + config_path,
        P + "InstallWireGuardTunnel - Installing tunnel: " + network_id,
        found,
        P + "InstallWireGuardTunnel - Found wireguard.exe at: " + wireguard,
        P + "UninstallWireGuardTunnel - Removing tunnel: " + tunnel,
    ]
    if service_exists:
        lines += [found,
                  P + "RemoveFirewallRules - Removing rules for: " + tunnel,
                  P + "RemoveFirewallRules - Firewall rules removed for: " + tunnel,
                  P + "UninstallWireGuardTunnel - Tunnel service removed"]
    else:
        lines += [P + "UninstallWireGuardTunnel - Service WireGuardTunnel$" + tunnel + " does not exist, skipping"]
    return lines + [
        P + "TryInstallTunnel - Attempting installation without elevation",
        P + "TryInstallTunnel - Installation successful without elevation",
        P + "InstallWireGuardTunnel - Tunnel service installed successfully",
    ] + firewall_add_lines(tunnel, port, address) + [
        P + "StartWireGuardService - Starting service: WireGuardTunnel$" + tunnel,
        P + "StartWireGuardService - Service started successfully",
        P + "InstallWireGuardTunnel - Service started and tunnel is active",
        P + "CreateWireGuardTunnel - WireGuard tunnel created successfully",
        P + "CreateWindowsVPNTunnel - WireGuard tunnel created successfully for: " + network_id,
        P + "StartTunnel - Tunnel created successfully",
    ]


def stop_lines(network_id, wireguard, config_path):
    """A stop of a tunnel whose service and configuration file exist."""
    tunnel = "tarvex_" + network_id
    return [
        P + "HandleMethodCall called: stopTunnel",
        P + "StopTunnel called",
        P + "StopTunnel - Removing tunnel with networkId: " + network_id,
        P + "RemoveWindowsVPNTunnel - networkId: " + network_id,
        P + "UninstallWireGuardTunnel - Removing tunnel: " + tunnel,
        P + "FindWireGuardExecutable - Found bundled at: " + wireguard,
        P + "RemoveFirewallRules - Removing rules for: " + tunnel,
        P + "RemoveFirewallRules - Firewall rules removed for: " + tunnel,
        P + "UninstallWireGuardTunnel - Tunnel service removed",
        P + "RemoveWindowsVPNTunnel - Config file cleaned up: " + config_path,
        P + "RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully for: " + network_id,
        P + "StopTunnel - Tunnel removed successfully",
    ]


def netsh_deletes(tunnel):
    return ['netsh advfirewall firewall delete rule name="Tarvex VPN - %s%s"' % (tunnel, suffix)
            for suffix in RULES]


def netsh_adds(tunnel, program, port, address):
    wireguard = program.rpartition("\\")[0] + "\\bin\\wireguard.exe"
    head = 'netsh advfirewall firewall add rule name="Tarvex VPN - ' + tunnel
    return [
        head + ' In" dir=in action=allow protocol=any program="' + wireguard + '" enable=yes profile=any',
        head + ' Out" dir=out action=allow protocol=any program="' + wireguard + '" enable=yes profile=any',
        head + ' App In" dir=in action=allow protocol=any program="' + program + '" enable=yes profile=any',
        head + ' App Out" dir=out action=allow protocol=any program="' + program + '" enable=yes profile=any',
        head + ' UDP" dir=out action=allow protocol=udp remoteport=' + port + ' enable=yes profile=any',
        head + ' UDP In" dir=in action=allow protocol=udp localport=' + port + ' enable=yes profile=any',
        head + ' VPN In" dir=in action=allow protocol=any localip=' + address + ' enable=yes profile=any',
        head + ' VPN Out" dir=out action=allow protocol=any localip=' + address + ' enable=yes profile=any',
        head + ' ICMP" dir=in action=allow protocol=icmpv4 localip=' + address + ' enable=yes profile=any',
    ]


def within(call, times):
    """Every time lies inside the call (from its send to its reply)."""
    return all(call.sent_ms <= t <= call.replied_ms for t in times)
