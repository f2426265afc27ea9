"""Helpers that fail, crash or hang and the program ended mid-start, one id each, in three runs in one held
Wine from a private installation with netsh.exe planted beside it and in its current directory (README.md)."""

import contextlib
import os
import shutil
import threading
import time
import unittest

import driver
import wire
from driver import Close, Note, Sleep
from expected import NOT_CREATED, P, Listing, Roads, Snap, asked, check_run, cut_after, lines, service, start, steps, \
    stored, with_directive

CONFIG, STOPS, DIES = driver.SAMPLE_CONFIG, "stops-during-start 1000", "dies-when-running 0"
HANG_MS = 11000   # past the plugin's 10 s wait: it replies while the install runs on and creates its service
# (id, directive, the install's record and its exit code as the plugin reads it, the service it leaves)
FAULTS = [("exit1", "install-exit 1", "1", "1", None), ("hang", "install-delay %d" % HANG_MS, "0", "259", "STOPPED"),
          ("stops", "service-stops-during-start", "0", None, "STOPPED"),
          ("crashbefore", "install-crashes-before-service", "crashing", "3221225477", None),
          ("crashafter", "install-crashes-after-service", "crashing", "3221225477", "STOPPED"),
          ("typo", "install-exit seven", "2", "2", None)]   # a malformed directive: refused, nothing created
# The killed starts' configurations differ from the restarts', so a restart's file shows it was overwritten.
KILLWAIT_CONFIG, KILLNETSH_CONFIG = with_directive("service-start-delay 6000"), CONFIG + "# first run\n"
STARTING_KILLWAIT = P + "StartWireGuardService - Starting service: " + service("killwait")


add_rule = lambda network_id, suffix: 'add rule name="Tarvex VPN - tarvex_%s%s"' % (network_id, suffix)


def failed_start(r, network_id, exit_code):
    """A fresh start's lines up to the step that fails, then the failure as each level reports it."""
    if exit_code:
        log = cut_after(r.start(network_id), P + "TryInstallTunnel - Attempting installation without elevation")
        log += lines("TryInstallTunnel - wireguard.exe failed with exit code: " + exit_code,
                     "InstallWireGuardTunnel - Installation failed, trying with elevation",
                     "InstallWireGuardTunnel - Already running as admin but installation failed")
    else:
        log = cut_after(r.start(network_id), P + "StartWireGuardService - Starting service: " + service(network_id))
        log += lines("StartWireGuardService - Service failed to start",
                     "InstallWireGuardTunnel - Failed to start service after installation")
    return log + lines("CreateWireGuardTunnel - Failed to install WireGuard tunnel") + NOT_CREATED


def tables(r):
    first = []
    for n, directive, record, exit_code, left in FAULTS:
        config = with_directive(directive)
        failed = r.up(n, how=STOPS)[:-1] + [r.service_record(n, outcome="stopped", how=STOPS)] if n == "stops" \
            else [r.install(n, record)]
        # The install given up on creates its service 1 s after the reply; 3.5 s leave a loaded machine 2.5 s.
        first += [(start(n, config), wire.FALSE, failed_start(r, n, exit_code), failed)] + [Sleep(3500)] * (n == "hang")
        first += [asked(), Listing(*[(service(n), left)] if left else []),
                  Snap(n, {"tarvex_%s.conf" % n: stored(config)}), r.started(n, left=left), r.stopped(n)]
    again = r.started("gone")
    again[2].insert(4, P + "CreateWindowsVPNTunnel - Registered tunnel is not running, creating it again: gone")
    dies = r.started("dies", with_directive("service-dies-when-running"), how=DIES)
    dies[3].append(r.service_record("dies", "service-crash", "crashing", DIES))
    already = r.start("dies")[:4] + lines("CreateWindowsVPNTunnel - VPN already exists for networkId: dies",
                                          "StartTunnel - Tunnel created successfully")
    # gone: its service removed from outside, nothing is connected and the start creates the tunnel again.
    # dies: Wine's service manager goes on reporting the dead service as running, and so does the plugin.
    first += [r.started("gone"), Note("remove gone"), Sleep(5000), Listing(), asked(gone="gone"), again,
              Listing((service("gone"), "RUNNING")), r.stopped("gone"),
              dies, Sleep(3500), asked("dies"), Listing((service("dies"), "RUNNING")),
              Snap("dies", {"tarvex_dies.conf": stored(with_directive("service-dies-when-running"))}),
              (start("dies"), wire.TRUE, already, []), r.stopped("dies", how=None)]
    for n in ("netshhang", "netshcrash"):
        first += [r.started(n), asked(n), r.stopped(n)]
    first += [(start("killwait", KILLWAIT_CONFIG), None, cut_after(r.start("killwait"), STARTING_KILLWAIT),
               r.up("killwait")[:-1]), Close()]
    second = [asked(found=service("killwait")), Listing((service("killwait"), "RUNNING")),
              r.started("killwait", left="runs 6000"), Snap("killwait up", {"tarvex_killwait.conf": stored(CONFIG)}),
              asked("killwait"), r.stopped("killwait"), Listing(), Snap("killwait stopped", {}),
              (start("killnetsh", KILLNETSH_CONFIG), None, cut_after(
                  r.start("killnetsh"), P + "AddFirewallRules - UDP inbound port 51820 rule added"),
               r.up("killnetsh")[:16]), Close()]
    third = [asked(), Listing((service("killnetsh"), "STOPPED")), r.started("killnetsh", left="STOPPED"),
             Snap("killnetsh up", {"tarvex_killnetsh.conf": stored(CONFIG)}), asked("killnetsh"),
             r.stopped("killnetsh"), Listing(), asked(), Close()]
    return first, second, third


class Killer:
    """Ends tarvex.exe as Windows ends a process (taskkill /f: TerminateProcess) 1 s after a file holds a
    text, watching from the run's first transcript line on, when the run's files are fresh."""

    def __init__(self, tool, path, text):
        self.killed_ms, self.thread = None, threading.Thread(target=self.watch, args=(tool, path, text), daemon=True)

    def on_line(self, *_):
        if not self.thread.ident:
            self.thread.start()

    def watch(self, tool, path, text):
        deadline = time.monotonic() + 300
        while text.encode() not in (driver.read_bytes(path) or b"") and time.monotonic() < deadline:
            time.sleep(0.05)
        if time.monotonic() < deadline:
            time.sleep(1)
            self.killed_ms = int(time.time() * 1000)
            tool.wine("taskkill", "/f", "/im", "tarvex.exe")


class FaultsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tool = cls.driver = driver.Driver(name="faults", timeout_s=300)
        # A private installation as the build lays it out: program, libraries, bundle, bundled wireguard.exe.
        build, install, current = os.path.dirname(tool.program), tool.work + "/install", tool.work + "/current"
        shutil.rmtree(install, ignore_errors=True)
        shutil.copytree(build, install, ignore=lambda _, names: [n for n in names if n == "standin scratch" or n.endswith(
            ".log") or n.endswith(".exe") and n not in ("tarvex.exe", "wireguard.exe")])
        tool.program, tool.wireguard_exe = install + "/tarvex.exe", install + "/bin/wireguard.exe"
        os.makedirs(current, exist_ok=True)
        cls.tables, planted = tables(Roads(tool)), [install + "/netsh.exe", current + "/netsh.exe"]
        killers = [Killer(tool, tool.debug_log, STARTING_KILLWAIT),
                   Killer(tool, tool.netsh_record, add_rule("killnetsh", " UDP In"))]

        def take_records():  # the planted copies' records, each beside its copy, and none after
            found = [driver.read_bytes(os.path.dirname(p) + "/netsh-standin.log") for p in planted]
            for record in filter(os.path.exists, (os.path.dirname(p) + "/netsh-standin.log" for p in planted)):
                os.remove(record)
            return found

        def first_run_line(time_ms, text):
            if text == "note remove gone":  # as the user would, in WireGuard's own program
                tool.wine(tool.wireguard_exe, "/uninstalltunnelservice", "tarvex_gone")
            killers[0].on_line()

        previous = os.getcwd()
        try:
            for path in planted:
                shutil.copy2(os.path.join(tool.wine_root, "standins", "netsh", "netsh.exe"), path)
            # Wine's current directory is the Unix one. A planted copy run by hand writes its record; the one in
            # the current directory is also found by its bare name; without the override Wine runs its own.
            os.chdir(current)
            take_records()
            by_hand = lambda *arguments: (tool.wine(*arguments, env={"WINEDLLOVERRIDES": "netsh.exe=n"}), take_records())[1]
            cls.by_hand, cls.by_name = [by_hand(path, "check") for path in planted], by_hand("cmd", "/c", "netsh", "by-name")
            tool.wine("C:\\windows\\system32\\netsh.exe", "without", env={"WINEDLLOVERRIDES": ""})
            cls.system_record = driver.read_bytes(tool.netsh_record)
            first, second, third = (steps(table) for table in cls.tables)
            with tool.wine_held():
                try:
                    cls.first = tool.run(first, keep_wine=True, on_line=first_run_line, netsh_faults=[
                        "hang " + add_rule("netshhang", " VPN In"), "crash " + add_rule("netshcrash", " App In")])
                    killers[0].thread.join(30)
                    # The killed start's service runs once its delay is over, maybe while the run is read.
                    running, deadline = Roads.service_record("killwait", how="runs 6000"), time.monotonic() + 20
                    while not (ran := [r for r in driver.read_records(tool.wireguard_record, True) if r.text == running]) \
                            and time.monotonic() < deadline:
                        time.sleep(0.1)
                    cls.killwait_ran = ran
                    cls.first.wireguard = [r for r in cls.first.wireguard if r.text != running]
                    cls.second = tool.run(second, keep_wine=True, fresh=False, on_line=killers[1].on_line,
                                          netsh_faults=["hang " + add_rule("killnetsh", " VPN In")])
                    killers[1].thread.join(30)
                    cls.third = tool.run(third, fresh=False)
                    cls.planted_records = take_records()
                finally:
                    tool.remove_tunnel_services()
        finally:
            os.chdir(previous)
            for path in planted:  # no netsh.exe is left where a program may run from
                with contextlib.suppress(FileNotFoundError):
                    os.remove(path)
        cls.killed_ms = [killer.killed_ms or 0 for killer in killers]

    def test_a_planted_netsh_runs_by_hand_and_never_for_the_program(self):
        ran = lambda found, text: [bool(record and record.endswith(text)) for record in found]
        self.assertEqual([ran(found, b" check\r\n") for found in self.by_hand] + [ran(self.by_name, b" by-name\r\n")],
                         [[True, False], [False, True], [False, True]], (self.by_hand, self.by_name))
        self.assertNotIn(b" without", self.system_record or b"")
        self.assertEqual(self.planted_records, [None, None])

    def test_first_run_failures_crashes_and_hangs(self):
        o = self.first
        self.assertEqual(o.transcript_lines("error") + o.transcript_lines("misuse") + o.transcript_lines("end"), [])
        check_run(self, o, self.tables[0], outside=[Roads.uninstall("gone"), Roads.service_record(
            "gone", "service-stop", "stopped")])
        hang_start = next(c for c in o.calls if c.label.startswith('startTunnel {"networkId": "hang"'))
        # The plugin replied after 10 s while the install ran on; its service was there before the clean-up.
        install, = [r for r in o.snapshots["hang"].wireguard if "tarvex_hang" in r.text]
        self.assertEqual((install.text, install.end_ms - install.start_ms >= HANG_MS),
                         (Roads(self.driver).install("hang"), True))
        self.assertTrue(hang_start.sent_ms + 10000 <= hang_start.replied_ms < install.end_ms
                        < o.calls[hang_start.index + 2].sent_ms)
        # The start went on after its 5 s wait while the hung command ran on; measured from the end of the
        # command before, no process start of Wine's (slow on a loaded machine) lies inside the 5 s.
        before, hung, after = sorted((r for r in o.netsh if "tarvex_netshhang " in r.text),
                                     key=lambda r: r.start_ms)[14:17]
        self.assertGreaterEqual(hung.end_ms - hung.start_ms, 6000)
        self.assertTrue(before.end_ms + 5000 <= after.start_ms < hung.end_ms)
        # The crashing add did crash: Wine reports the fault on the program's output.
        self.assertIn("Unhandled page fault on write access to 0000000000000000", o.program_output)

    def test_the_start_killed_in_the_service_wait_leaves_service_file_and_rules_for_the_restart(self):
        o = self.first
        self.assertEqual((o.services_left, o.wg_files), ([service("killwait")],
                                                        {"tarvex_killwait.conf": stored(KILLWAIT_CONFIG)}))
        self.assertLess(o.calls[-1].sent_ms, self.killed_ms[0])
        self.assertTrue(self.killwait_ran and self.killwait_ran[0].end_ms > self.killed_ms[0], "it never ran")
        check_run(self, self.second, self.tables[1])

    def test_the_start_killed_during_a_hanging_netsh_leaves_service_file_and_rules_for_the_restart(self):
        second, third = self.second, self.third
        self.assertLess(second.calls[-1].sent_ms, self.killed_ms[1])
        self.assertEqual(second.wg_files, {"tarvex_killnetsh.conf": stored(KILLNETSH_CONFIG)})
        # The hanging add still ran when the program ended: the driver ended it.
        self.assertEqual(len(second.netsh_ended), 1)
        check_run(self, third, self.tables[2])
        self.assertEqual((third.exit_code, third.services_left, third.wg_files), (0, [], {}), third.program_output)


if __name__ == "__main__":
    unittest.main()
