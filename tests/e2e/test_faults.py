"""Helpers that fail, crash or hang, and the program ended in the middle of a
start, one id per scenario, in three runs of tarvex.exe in one Wine held up
between them, as Windows stays up. The program runs from a private copy of
the installation with a netsh.exe planted beside it and in its current
directory, which is never run.

Run 1: wireguard.exe's faults (an install that exits 1, one that outlasts the
plugin's 10 s wait, a service that stops during start-up, an install that
crashes before or after creating its service): each start replies false and
registers nothing, and a second start cleans up what the failure left. Then
gone (the service removed from outside while its id is registered), dies (its
process crashes 2 s after running), netshhang and netshcrash (one netsh add
hangs past the plugin's 5 s wait, or crashes), killwait (the program ended
while its start waits for the service). Run 2: what killwait left is found
and replaced; killnetsh: the program ended while a netsh add hangs. Run 3:
what killnetsh left is found and replaced."""

import glob
import os
import shutil
import threading
import time
import unittest

import driver
import wire
from driver import Call, Close, Note, Sleep
from expected import P, Listing, Roads, Snap, check_run, cut_after, is_connected, lines, service, start, steps, \
    stop, stored, with_directive

F, T, CONFIG = wire.FALSE, wire.TRUE, driver.SAMPLE_CONFIG
ASKED = (Call("isConnected"), F, is_connected(), [])
# Past the plugin's 10 s wait by a second: it gives up and replies while the
# install runs on, and creates its service afterwards.
HANG_MS = 11000
# (id, directive, the install's record and its exit code as the plugin reads it, the service it leaves)
FAULTS = [("exit1", "install-exit 1", "1", "1", None), ("hang", "install-delay %d" % HANG_MS, "0", "259", "STOPPED"),
          ("stops", "service-stops-during-start", "0", None, "STOPPED"),
          ("crashbefore", "install-crashes-before-service", "crashing", "3221225477", None),
          ("crashafter", "install-crashes-after-service", "crashing", "3221225477", "STOPPED"),
          ("typo", "install-exit seven", "2", "2", None)]   # a malformed directive: refused, nothing created
DIES = "dies-when-running 0"
# The killed starts' configurations differ from the restarts', so a restart's file shows it was overwritten.
KILLWAIT_CONFIG, KILLNETSH_CONFIG = with_directive("service-start-delay 6000"), CONFIG + "# first run\n"
STARTING_KILLWAIT = P + "StartWireGuardService - Starting service: " + service("killwait")


def add_rule(network_id, suffix):
    return 'add rule name="Tarvex VPN - tarvex_%s%s"' % (network_id, suffix)


def failed_start(r, network_id, exit_code):
    """A fresh start's lines up to the step that fails, then the failure as each level reports it."""
    fresh = r.start(network_id)
    if exit_code:
        failed = lines("TryInstallTunnel - wireguard.exe failed with exit code: " + exit_code,
                       "InstallWireGuardTunnel - Installation failed, trying with elevation",
                       "InstallWireGuardTunnel - Already running as admin but installation failed")
        fresh = cut_after(fresh, P + "TryInstallTunnel - Attempting installation without elevation")
    else:
        failed = lines("StartWireGuardService - Service failed to start",
                       "InstallWireGuardTunnel - Failed to start service after installation")
        fresh = cut_after(fresh, P + "StartWireGuardService - Starting service: " + service(network_id))
    return fresh + failed + lines("CreateWireGuardTunnel - Failed to install WireGuard tunnel",
                                  "CreateWindowsVPNTunnel - Failed to create WireGuard tunnel",
                                  "StartTunnel - Failed to create tunnel")


def tables(r):
    first = []
    for n, directive, record, exit_code, left in FAULTS:
        failed = [r.install(n, record)] if n != "stops" else r.up(n, how="stops-during-start 1000")[:-1] + [
            r.service_record(n, outcome="stopped", how="stops-during-start 1000")]
        first += [(start(n, with_directive(directive)), F, failed_start(r, n, exit_code), failed)]
        # The install given up on ends and creates its service 1 s after the
        # reply; 3.5 s leave a loaded machine 2.5 s for that.
        first += [Sleep(3500)] if n == "hang" else []
        first += [ASKED, Listing(*[(service(n), left)] if left else []),
                  Snap(n, {"tarvex_%s.conf" % n: stored(with_directive(directive))}),
                  (start(n), T, r.start(n, service_exists=bool(left)), r.up(n, first=r.removal(n) if left else ())),
                  (stop(n), T, r.stop(n), r.down(n))]
    again = r.start("gone")
    again.insert(4, P + "CreateWindowsVPNTunnel - Registered tunnel is not running, creating it again: gone")
    already = lines("HandleMethodCall called: startTunnel", "StartTunnel called",
                    "StartTunnel - Creating tunnel with networkId: dies", "CreateWindowsVPNTunnel - networkId: dies",
                    "CreateWindowsVPNTunnel - VPN already exists for networkId: dies",
                    "StartTunnel - Tunnel created successfully")
    first += [
        # The registered id's service is removed from outside: nothing is
        # connected, and the start forgets the id and creates the tunnel again.
        (start("gone"), T, r.start("gone"), r.up("gone")), Note("remove gone"), Sleep(5000), Listing(),
        (Call("isConnected"), F, is_connected(gone="gone"), []), (start("gone"), T, again, r.up("gone")),
        Listing((service("gone"), "RUNNING")), (stop("gone"), T, r.stop("gone"), r.down("gone")),
        # Wine's service manager goes on reporting the dead service as
        # running: "isConnected" counts it, and the start finds it running.
        (start("dies", with_directive("service-dies-when-running")), T, r.start("dies"),
         r.up("dies", how=DIES) + [r.service_record("dies", "service-crash", "crashing", DIES)]),
        Sleep(3500), (Call("isConnected"), T, is_connected("dies"), []), Listing((service("dies"), "RUNNING")),
        Snap("dies", {"tarvex_dies.conf": stored(with_directive("service-dies-when-running"))}),
        (start("dies"), T, already, []), (stop("dies"), T, r.stop("dies"), r.removal("dies"))]
    for n in ("netshhang", "netshcrash"):
        first += [(start(n), T, r.start(n), r.up(n)), (Call("isConnected"), T, is_connected(n), []),
                  (stop(n), T, r.stop(n), r.down(n))]
    first += [(start("killwait", KILLWAIT_CONFIG), None, cut_after(r.start("killwait"), STARTING_KILLWAIT),
               r.up("killwait")[:-1]), Close()]
    second = [(Call("isConnected"), T, is_connected(found=service("killwait")), []),
              Listing((service("killwait"), "RUNNING")),
              (start("killwait"), T, r.start("killwait", service_exists=True),
               r.up("killwait", first=r.removal("killwait", "runs 6000"))),
              Snap("killwait up", {"tarvex_killwait.conf": stored(CONFIG)}),
              (Call("isConnected"), T, is_connected("killwait"), []),
              (stop("killwait"), T, r.stop("killwait"), r.down("killwait")), Listing(), Snap("killwait stopped", {}),
              (start("killnetsh", KILLNETSH_CONFIG), None, cut_after(
                  r.start("killnetsh"), P + "AddFirewallRules - UDP inbound port 51820 rule added"),
               r.up("killnetsh")[:16]), Close()]
    third = [ASKED, Listing((service("killnetsh"), "STOPPED")),
             (start("killnetsh"), T, r.start("killnetsh", service_exists=True),
              r.up("killnetsh", first=r.removal("killnetsh"))),
             Snap("killnetsh up", {"tarvex_killnetsh.conf": stored(CONFIG)}),
             (Call("isConnected"), T, is_connected("killnetsh"), []),
             (stop("killnetsh"), T, r.stop("killnetsh"), r.down("killnetsh")), Listing(), ASKED, Close()]
    return first, second, third


class Killer:
    """Ends tarvex.exe from outside as Windows ends a process (taskkill /f:
    TerminateProcess), 1 s after a file holds a text. Watches from the run's
    first transcript line on, when the run's files are fresh."""

    def __init__(self, tool, path, text):
        self.tool, self.path, self.text, self.killed_ms, self.thread = tool, path, text.encode(), None, None

    def on_line(self, *_):
        if self.thread is None:
            self.thread = threading.Thread(target=self.watch, daemon=True)
            self.thread.start()

    def watch(self):
        deadline = time.monotonic() + 300
        while self.text not in (driver.read_bytes(self.path) or b""):
            if time.monotonic() > deadline:
                return
            time.sleep(0.05)
        time.sleep(1)
        self.killed_ms = int(time.time() * 1000)
        self.tool.wine("taskkill", "/f", "/im", "tarvex.exe")


def private_installation(build_bin, folder):
    """What an installation holds, as the build lays it out: the program, the
    engine and plugin libraries, the bundle and the bundled wireguard.exe."""
    shutil.rmtree(folder, ignore_errors=True)
    os.makedirs(os.path.join(folder, "bin"))
    for path in ["tarvex.exe", "flutter_windows.dll"] + glob.glob(os.path.join(build_bin, "*_plugin.dll")):
        shutil.copy2(os.path.join(build_bin, path), folder)
    shutil.copy2(os.path.join(build_bin, "bin", "wireguard.exe"), os.path.join(folder, "bin"))
    shutil.copytree(os.path.join(build_bin, "data"), os.path.join(folder, "data"))
    return os.path.join(folder, "tarvex.exe")


class FaultsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tool = cls.driver = driver.Driver(name="faults", timeout_s=300)
        install, current = os.path.join(tool.work, "install"), os.path.join(tool.work, "current")
        tool.program = private_installation(os.path.dirname(tool.program), install)
        tool.wireguard_exe = os.path.join(install, "bin", "wireguard.exe")
        os.makedirs(current, exist_ok=True)
        cls.planted = [os.path.join(install, "netsh.exe"), os.path.join(current, "netsh.exe")]
        records = [os.path.join(os.path.dirname(p), "netsh-standin.log") for p in cls.planted]
        cls.tables = tables(Roads(tool))
        wait_killer = Killer(tool, tool.debug_log, STARTING_KILLWAIT)
        netsh_killer = Killer(tool, tool.netsh_record, add_rule("killnetsh", " UDP In"))
        override = {"WINEDLLOVERRIDES": "netsh.exe=n"}

        def take_records():
            found = [driver.read_bytes(r) for r in records]
            for r in records:
                if os.path.exists(r):
                    os.remove(r)
            return found

        def first_run_line(time_ms, text):
            if text == "note remove gone":  # as the user would, in WireGuard's own program
                tool.wine(tool.wireguard_exe, "/uninstalltunnelservice", "tarvex_gone")
            wait_killer.on_line(time_ms, text)

        previous = os.getcwd()
        try:
            for path in cls.planted:
                shutil.copy2(os.path.join(tool.wine_root, "standins", "netsh", "netsh.exe"), path)
            take_records()
            # Wine gives a program the Unix working directory as its current one.
            os.chdir(current)
            # A planted copy that runs writes its record: run each by hand, and
            # the one in the current directory also by its bare name.
            cls.by_hand = []
            for path in cls.planted:
                tool.wine(path, "check", env=override)
                cls.by_hand.append(take_records())
            tool.wine("cmd", "/c", "netsh", "by-name", env=override)
            cls.by_name = take_records()
            first, second, third = (steps(table) for table in cls.tables)
            with tool.wine_held():
                try:
                    cls.first = tool.run(first, keep_wine=True, on_line=first_run_line, netsh_faults=[
                        "hang " + add_rule("netshhang", " VPN In"), "crash " + add_rule("netshcrash", " App In")])
                    wait_killer.thread.join(30)
                    # The killed start's service runs once its delay is over,
                    # after the program's end: its record may come while the
                    # run is read.
                    cls.killwait_ran = cls.wait_until_running("killwait")
                    cls.first.wireguard = [r for r in cls.first.wireguard if r != cls.killwait_ran]
                    cls.second = tool.run(second, keep_wine=True, fresh=False, on_line=netsh_killer.on_line,
                                          netsh_faults=["hang " + add_rule("killnetsh", " VPN In")])
                    netsh_killer.thread.join(30)
                    cls.third = tool.run(third, fresh=False)
                    cls.planted_records = take_records()
                finally:
                    tool.remove_tunnel_services()
        finally:
            os.chdir(previous)
            # No netsh.exe is left in a folder a program may run from.
            for path in cls.planted:
                if os.path.exists(path):
                    os.remove(path)
        cls.killed_ms = wait_killer.killed_ms, netsh_killer.killed_ms

    @classmethod
    def wait_until_running(cls, network_id, limit_s=20):
        """The record of the tunnel's service running, once it is there: the
        service left start-pending goes on and runs once its delay is over."""
        deadline = time.monotonic() + limit_s
        while time.monotonic() < deadline:
            for record in driver.read_records(cls.driver.wireguard_record, pid=True):
                if record.text == Roads.service_record(network_id, how="runs 6000"):
                    return record
            time.sleep(0.1)
        return None

    def test_a_planted_netsh_runs_when_run_by_hand_and_never_for_the_program(self):
        self.assertEqual([[record is not None for record in found] for found in self.by_hand],
                         [[True, False], [False, True]])
        self.assertTrue(self.by_hand[0][0].endswith(b" check\r\n") and self.by_hand[1][1].endswith(b" check\r\n"))
        self.assertTrue(self.by_name[0] is None and self.by_name[1].endswith(b" by-name\r\n"), self.by_name)
        self.assertEqual(self.planted_records, [None, None])
        self.assertTrue(self.driver.program_windows.endswith("\\install\\tarvex.exe"))

    def test_first_run_failures_crashes_and_hangs(self):
        o = self.first
        self.assertEqual(o.transcript_lines("error") + o.transcript_lines("misuse") + o.transcript_lines("end"), [])
        check_run(self, o, self.tables[0], outside=[Roads.uninstall("gone"), Roads.service_record(
            "gone", "service-stop", "stopped")])
        hang_start, netsh_start = (next(c for c in o.calls if c.label.startswith(
            'startTunnel {"networkId": "%s"' % n)) for n in ("hang", "netshhang"))
        installs = [r for r in o.snapshots["hang"].wireguard if "tarvex_hang" in r.text]
        # The plugin gave up after 10 s and replied while the install ran on;
        # the install's service was there before the clean-up began.
        self.assertEqual([r.text for r in installs], [Roads(self.driver).install("hang")])
        install = installs[0]
        self.assertGreaterEqual(install.end_ms - install.start_ms, HANG_MS)
        self.assertTrue(hang_start.sent_ms + 10000 <= hang_start.replied_ms < install.end_ms
                        < o.calls[hang_start.index + 2].sent_ms)
        # The start went on after its 5 s wait while the hung command ran on
        # (a netsh line's start is taken inside the program, after Wine started it).
        hung, after = sorted((r for r in o.netsh if "tarvex_netshhang " in r.text), key=lambda r: r.start_ms)[15:17]
        self.assertGreaterEqual(hung.end_ms - hung.start_ms, 6000)
        self.assertTrue(hung.start_ms + 4500 <= after.start_ms < hung.end_ms)
        self.assertGreaterEqual(netsh_start.elapsed_ms, 5000)

    def test_the_start_killed_in_the_service_wait_leaves_service_file_and_rules_for_the_restart(self):
        o = self.first
        self.assertEqual((o.services_left, o.wg_files), ([service("killwait")],
                                                        {"tarvex_killwait.conf": stored(KILLWAIT_CONFIG)}))
        self.assertLess(o.calls[-1].sent_ms, self.killed_ms[0] or 0)
        self.assertIsNotNone(self.killwait_ran, "the service left behind never ran")
        self.assertGreater(self.killwait_ran.end_ms, self.killed_ms[0])
        check_run(self, self.second, self.tables[1])

    def test_the_start_killed_during_a_hanging_netsh_leaves_service_file_and_rules_for_the_restart(self):
        second, third = self.second, self.third
        self.assertLess(second.calls[-1].sent_ms, self.killed_ms[1] or 0)
        self.assertEqual(second.wg_files, {"tarvex_killnetsh.conf": stored(KILLNETSH_CONFIG)})
        # The hanging add still ran when the program ended: the driver ended it.
        self.assertEqual(len(second.netsh_ended), 1)
        check_run(self, third, self.tables[2])
        self.assertEqual((third.exit_code, third.services_left, third.wg_files), (0, [], {}), third.program_output)


if __name__ == "__main__":
    unittest.main()
