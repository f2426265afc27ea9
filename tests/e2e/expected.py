"""The plugin's lines on its common roads (debug log, child processes) and the check of a run against its
table: a row per call (step, reply bytes, log lines, child processes), a Listing or Snap per listing or snapshot."""

import driver
import wire
from driver import Call

P = "WindowsVpnPlugin::"
PORT, ADDRESS = "51820", "10.66.66.2"   # driver.SAMPLE_CONFIG's
RULES = [" In", " Out", " App In", " App Out", " UDP", " UDP In", " VPN In", " VPN Out", " ICMP"]


lines = lambda *texts: [P + text for text in texts]
stored = lambda config: config.replace("\n", "\r\n").encode("ascii")  # as the plugin writes it (text mode)
with_directive = lambda directive, config=driver.SAMPLE_CONFIG: config + "#tarvex-standin " + directive + "\n"
start = lambda network_id, config=driver.SAMPLE_CONFIG: Call("startTunnel", {"networkId": network_id, "config": config})
stop = lambda network_id: Call("stopTunnel", {"networkId": network_id})
service = lambda network_id: "WireGuardTunnel$tarvex_" + network_id
cut_after = lambda log, last: log[:log.index(last) + 1]
NOT_CREATED = lines("CreateWindowsVPNTunnel - Failed to create WireGuard tunnel", "StartTunnel - Failed to create tunnel")


def asked(running=None, found=None, gone=None):
    """An "isConnected" row. `running`: the registered id whose service runs; `found`: a service the
    enumeration found; `gone`: a registered id whose service is not there."""
    head = lines("HandleMethodCall called: isConnected", "IsConnected called", "CheckWindowsVPNConnection called")
    if running or found:
        return Call("isConnected"), wire.TRUE, head + lines(*[
            "IsVPNConnected - Service %s status: RUNNING" % service(running),
            "CheckWindowsVPNConnection - WireGuard VPN connected: " + running] if running else [
            "CheckWireGuardServices - Found running WireGuard service: " + found,
            "CheckWindowsVPNConnection - WireGuard service found"], "IsConnected - Connection status: true"), []
    return Call("isConnected"), wire.FALSE, head + lines(
        *(["IsVPNConnected - Service %s not found" % service(gone)] if gone else []),
        "CheckWindowsVPNConnection - No WireGuard connections found", "IsConnected - Connection status: false"), []


class Roads:
    def __init__(self, d):
        self.wireguard, self.program = driver.windows_path(d.wireguard_exe), driver.windows_path(d.program)
        self.wg = d.wg_directory_windows

    def config(self, network_id):
        return "%s\\tarvex_%s.conf" % (self.wg, network_id)

    def start(self, network_id, port=PORT, address=ADDRESS, service_exists=False):  # as administrator, no driver
        n, tunnel, wireguard = network_id, "tarvex_" + network_id, self.wireguard
        found = "FindWireGuardExecutable - Found bundled at: " + wireguard
        return lines(
            "HandleMethodCall called: startTunnel", "StartTunnel called",
            "StartTunnel - Creating tunnel with networkId: " + n, "CreateWindowsVPNTunnel - networkId: " + n,
            "CreateWireGuardTunnel - Creating WireGuard tunnel for: " + n, found,
            "CreateWireGuardTunnel - WireGuard found at: " + wireguard,
            "CreateWireGuardTunnel - Using bundled WireGuard executable",
            "IsWireGuardDriverInstalled - Checking driver status",
            "IsWireGuardDriverInstalled - WireGuard driver not found",
            "CreateWireGuardTunnel - Config saved to: " + self.config(n),
            "InstallWireGuardTunnel - Installing tunnel: " + n, found,
            "InstallWireGuardTunnel - Found wireguard.exe at: " + wireguard,
            "UninstallWireGuardTunnel - Removing tunnel: " + tunnel,
            *([found] + self.rules_removed(tunnel) + ["UninstallWireGuardTunnel - Tunnel service removed"]
              if service_exists else ["UninstallWireGuardTunnel - Service WireGuardTunnel$%s does not exist, "
                                      "skipping" % tunnel]),
            "TryInstallTunnel - Attempting installation without elevation",
            "TryInstallTunnel - Installation successful without elevation",
            "InstallWireGuardTunnel - Tunnel service installed successfully",
            "AddFirewallRules - Adding rules for: " + tunnel, *self.rules_removed(tunnel),
            "ExtractEndpointPort - Found port: " + port, "AddFirewallRules - Inbound WireGuard rule added",
            "AddFirewallRules - Outbound WireGuard rule added", "AddFirewallRules - App inbound rule added",
            "AddFirewallRules - App outbound rule added", "AddFirewallRules - UDP outbound port %s rule added" % port,
            "AddFirewallRules - UDP inbound port %s rule added" % port,
            "AddFirewallRules - VPN inbound rule added for IP: " + address,
            "AddFirewallRules - VPN outbound rule added for IP: " + address,
            "AddFirewallRules - ICMP ping rule added for IP: " + address,
            "AddFirewallRules - All firewall rules added for: " + tunnel,
            "StartWireGuardService - Starting service: " + service(n),
            "StartWireGuardService - Service started successfully",
            "InstallWireGuardTunnel - Service started and tunnel is active",
            "CreateWireGuardTunnel - WireGuard tunnel created successfully",
            "CreateWindowsVPNTunnel - WireGuard tunnel created successfully for: " + n,
            "StartTunnel - Tunnel created successfully")

    rules_removed = staticmethod(lambda tunnel: ["RemoveFirewallRules - Removing rules for: " + tunnel,
                                                 "RemoveFirewallRules - Firewall rules removed for: " + tunnel])

    def stop(self, network_id):  # of a tunnel whose service and configuration file exist
        n, tunnel = network_id, "tarvex_" + network_id
        return lines("HandleMethodCall called: stopTunnel", "StopTunnel called",
                     "StopTunnel - Removing tunnel with networkId: " + n, "RemoveWindowsVPNTunnel - networkId: " + n,
                     "UninstallWireGuardTunnel - Removing tunnel: " + tunnel,
                     "FindWireGuardExecutable - Found bundled at: " + self.wireguard, *self.rules_removed(tunnel),
                     "UninstallWireGuardTunnel - Tunnel service removed",
                     "RemoveWindowsVPNTunnel - Config file cleaned up: " + self.config(n),
                     "RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully for: " + n,
                     "StopTunnel - Tunnel removed successfully")

    deletes = staticmethod(lambda network_id: ['netsh advfirewall firewall delete rule name="Tarvex VPN - tarvex_%s%s"'
                                               % (network_id, suffix) for suffix in RULES])

    def adds(self, network_id, port=PORT, address=ADDRESS):
        program, wireguard = 'program="%s"' % self.program, 'program="%s"' % self.wireguard  # bin\wireguard.exe beside it
        rules = [("In", "in", "any", wireguard), ("Out", "out", "any", wireguard), ("App In", "in", "any", program),
                 ("App Out", "out", "any", program), ("UDP", "out", "udp", "remoteport=" + port),
                 ("UDP In", "in", "udp", "localport=" + port), ("VPN In", "in", "any", "localip=" + address),
                 ("VPN Out", "out", "any", "localip=" + address), ("ICMP", "in", "icmpv4", "localip=" + address)]
        return ['netsh advfirewall firewall add rule name="Tarvex VPN - tarvex_%s %s" dir=%s action=allow protocol=%s '
                '%s enable=yes profile=any' % ((network_id,) + rule) for rule in rules]

    def install(self, network_id, outcome="0"):
        return 'install /installtunnelservice "%s" -> %s' % (self.config(network_id), outcome)

    service_record = staticmethod(lambda network_id, action="service-start", outcome="running", how="runs 0":
                                  "%s /standin-service %s tarvex_%s -> %s" % (action, how, network_id, outcome))
    uninstall = staticmethod(lambda network_id: "uninstall /uninstalltunnelservice tarvex_%s -> 0" % network_id)

    def removal(self, network_id, running=None):  # of a service left behind; `running`: how it runs
        stopped = [self.service_record(network_id, "service-stop", "stopped", running)] if running else []
        return [self.uninstall(network_id)] + stopped + self.deletes(network_id)

    def up(self, network_id, port=PORT, address=ADDRESS, how="runs 0", first=()):
        return list(first) + [self.install(network_id)] + self.deletes(network_id) + self.adds(
            network_id, port, address) + [self.service_record(network_id, how=how)]

    def started(self, network_id, config=driver.SAMPLE_CONFIG, endpoint=(PORT, ADDRESS), how="runs 0", left=None):
        """A start that succeeds; `left`: a service left before it, "STOPPED" or how it runs, removed first."""
        first = () if left is None else self.removal(network_id, None if left == "STOPPED" else left)
        return (start(network_id, config), wire.TRUE, self.start(network_id, *endpoint, service_exists=bool(left)),
                self.up(network_id, *endpoint, how=how, first=first))

    def stopped(self, network_id, how="runs 0"):  # whose service runs with `how` (None: its process died)
        return stop(network_id), wire.TRUE, self.stop(network_id), self.removal(network_id, how)


Listing = driver.Services  # with the (name, state) pairs a table wants
Snap = lambda name, files: driver.Snapshot(name, files=files)  # with the files a table wants in the wg folder


steps = lambda table: [entry[0] if isinstance(entry, tuple) else entry for entry in table]


def check_run(test, outcome, table, calls=None, outside=()):
    """Each row's call (of `calls`, by default all the run's): its reply bytes and the child processes that
    started between its send and its reply; the listings and snapshots. Records started while no row's call
    ran must be `outside`; the debug log must be the rows' lines, whole, unless `calls` is given."""
    rows = [entry for entry in table if isinstance(entry, tuple)]
    calls = outcome.calls if calls is None else calls
    records = sorted(outcome.netsh + outcome.wireguard, key=lambda r: r.start_ms or 0)
    test.assertEqual(len(calls), len(rows))
    taken = set()
    for call, (_, reply, _, children) in zip(calls, rows):
        mine = [i for i, r in enumerate(records) if call.sent_ms is not None and r.start_ms is not None
                and call.sent_ms <= r.start_ms and (call.replied_ms is None or r.start_ms <= call.replied_ms)]
        taken.update(mine)
        with test.subTest(call=call.index, label=call.label):
            test.assertEqual((call.reply, [records[i].text for i in mine]), (reply, children))
    test.assertEqual([r.text for i, r in enumerate(records) if i not in taken], list(outside))
    test.assertEqual(outcome.services, [entry.listing for entry in table if hasattr(entry, "listing")])
    for snap in (entry for entry in table if hasattr(entry, "files")):
        with test.subTest(snapshot=snap.name):
            test.assertEqual((outcome.snapshots[snap.name].in_time, outcome.snapshots[snap.name].wg_files),
                             (True, snap.files))
    if calls is outcome.calls:
        test.assertEqual(outcome.log_messages, [line for row in rows for line in row[2]])
