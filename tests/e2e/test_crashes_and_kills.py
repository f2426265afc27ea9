"""Helpers that crash or hang, and the program ended in the middle of a call,
one id per scenario. Three runs of tarvex.exe in one Wine that stays up
between them, as Windows would:

1. gone: the tunnel's service removed from outside the program while its id
   is registered, so the next "startTunnel" creates it again; dies: the
   service's process crashes 2 s after reporting running;
   netshhang, netshcrash: one netsh add hangs past the plugin's 5 s wait, or
   crashes; killwait: the program ended while its start waits for the
   service (a 6 s start delay).
2. A restart: what killwait left is found and replaced; then killnetsh: the
   program ended while a netsh add hangs.
3. A restart: what killnetsh left is found and replaced."""

import threading
import time
import unittest

import driver
from driver import Call, Close, Note, Services, Sleep, Snapshot
from expected import (P, SAMPLE_ADDRESS as ADDRESS, SAMPLE_PORT as PORT, connected_by_service_lines,
                      is_connected_lines, netsh_adds, netsh_deletes, start_lines, stop_lines)
from wire import Success


def service(network_id):
    return "WireGuardTunnel$tarvex_" + network_id


def with_directive(directive):
    return driver.SAMPLE_CONFIG + "#tarvex-standin " + directive + "\n"


def stored(config):
    """The configuration file as the plugin writes it (text mode: CR LF)."""
    return config.replace("\n", "\r\n").encode("ascii")


def start(network_id, config=driver.SAMPLE_CONFIG):
    return Call("startTunnel", {"networkId": network_id, "config": config})


def stop(network_id):
    return Call("stopTunnel", {"networkId": network_id})


def add_rule(network_id, suffix):
    return 'add rule name="Tarvex VPN - tarvex_%s%s"' % (network_id, suffix)


def already_exists_lines(network_id):
    return [P + "HandleMethodCall called: startTunnel", P + "StartTunnel called",
            P + "StartTunnel - Creating tunnel with networkId: " + network_id,
            P + "CreateWindowsVPNTunnel - networkId: " + network_id,
            P + "CreateWindowsVPNTunnel - VPN already exists for networkId: " + network_id,
            P + "StartTunnel - Tunnel created successfully"]


def cut_after(lines, last):
    return lines[:lines.index(last) + 1]


# The killed runs' first configurations differ from the restart's, so the
# file the restart leaves shows it was overwritten.
KILLWAIT_CONFIG = with_directive("service-start-delay 6000")
KILLNETSH_CONFIG = driver.SAMPLE_CONFIG + "# first run\n"
STARTING_KILLWAIT = P + "StartWireGuardService - Starting service: " + service("killwait")


class Killer:
    """Ends tarvex.exe from outside as Windows ends a process (taskkill /f:
    TerminateProcess) once a file holds a text, `delay_s` later. Watches from
    the run's first transcript line on, when the run's files are fresh."""

    def __init__(self, tool, path, text, delay_s=1.0):
        self.tool, self.path, self.text, self.delay_s = tool, path, text.encode(), delay_s
        self.killed_ms = None
        self.thread = None

    def on_line(self, _time_ms, _text):
        if self.thread is None:
            self.thread = threading.Thread(target=self._watch, daemon=True)
            self.thread.start()

    def _watch(self):
        deadline = time.monotonic() + 90
        while self.text not in (driver.read_bytes(self.path) or b""):
            if time.monotonic() > deadline:
                return
            time.sleep(0.05)
        time.sleep(self.delay_s)
        self.killed_ms = int(time.time() * 1000)
        self.tool.wine("taskkill", "/f", "/im", "tarvex.exe")

    def join(self):
        if self.thread is not None:
            self.thread.join(120)


# The first run's scenarios, in order: each cleans up after itself, and the
# last one is ended by the kill.
FIRST_RUN = [
    ("gone", [start("gone"), Note("remove gone"), Sleep(5000), Services(), Call("isConnected"),
              start("gone"), Services(), stop("gone")]),
    ("dies", [start("dies", with_directive("service-dies-when-running")), Sleep(3500), Call("isConnected"),
              Services(), Snapshot("dies"), start("dies"), stop("dies")]),
    ("netshhang", [start("netshhang"), Call("isConnected"), stop("netshhang")]),
    ("netshcrash", [start("netshcrash"), Call("isConnected"), stop("netshcrash")]),
    ("killwait", [start("killwait", KILLWAIT_CONFIG)]),
]


def per_scenario(items, scenarios, kind):
    """Splits a run's calls or service listings by the scenario whose steps made them."""
    split, at = {}, 0
    for name, steps in scenarios:
        count = sum(isinstance(step, kind) for step in steps)
        split[name] = items[at:at + count]
        at += count
    return split


class CrashesAndKillsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        tool = cls.driver = driver.Driver(name="crashes_and_kills")
        cls.wireguard = driver.windows_path(tool.wireguard_exe)
        wait_killer = Killer(tool, tool.debug_log, STARTING_KILLWAIT)
        netsh_killer = Killer(tool, tool.netsh_record, add_rule("killnetsh", " UDP In"))

        def first_run_line(time_ms, text):
            if text == "note remove gone":
                # As the user removing the tunnel in WireGuard's own program.
                tool.wine(tool.wireguard_exe, "/uninstalltunnelservice", "tarvex_gone")
            wait_killer.on_line(time_ms, text)

        with tool.wine_held():
            try:
                cls.first = tool.run(
                    [step for _, steps in FIRST_RUN for step in steps] + [Close()],
                    keep_wine=True, on_line=first_run_line,
                    netsh_faults=["hang " + add_rule("netshhang", " VPN In"),
                                  "crash " + add_rule("netshcrash", " App In")])
                wait_killer.join()
                # The service left start-pending goes on and runs once its delay is over.
                cls.killwait_ran = cls.wait_until_running("killwait")
                cls.second = tool.run([
                    Call("isConnected"), Services(), start("killwait"), Snapshot("killwait up"),
                    Call("isConnected"), stop("killwait"), Services(), Snapshot("killwait stopped"),
                    start("killnetsh", KILLNETSH_CONFIG), Close()],
                    keep_wine=True, fresh=False, on_line=netsh_killer.on_line,
                    netsh_faults=["hang " + add_rule("killnetsh", " VPN In")])
                netsh_killer.join()
                cls.third = tool.run([
                    Call("isConnected"), Services(), start("killnetsh"), Snapshot("killnetsh up"),
                    Call("isConnected"), stop("killnetsh"), Services(), Call("isConnected"), Close()],
                    fresh=False)
            finally:
                tool.remove_tunnel_services()
        cls.wait_killed_ms, cls.netsh_killed_ms = wait_killer.killed_ms, netsh_killer.killed_ms
        cls.calls = per_scenario(cls.first.calls, FIRST_RUN, Call)
        cls.listings = per_scenario(cls.first.services, FIRST_RUN, Services)

    @classmethod
    def wait_until_running(cls, network_id, limit_s=20):
        """The stand-in's record line of the tunnel's service running, once it is there."""
        deadline = time.monotonic() + limit_s
        while time.monotonic() < deadline:
            for line in cls.driver.read_wireguard():
                if (line.action, line.result) == ("service-start", "running") \
                        and line.arguments.endswith(" tarvex_" + network_id):
                    return line
            time.sleep(0.1)
        return None

    def config_path(self, network_id):
        return self.driver.wg_directory_windows + "\\tarvex_" + network_id + ".conf"

    def starts(self, network_id, **options):
        return start_lines(network_id, self.wireguard, self.config_path(network_id), PORT, ADDRESS, **options)

    def stops(self, network_id):
        return stop_lines(network_id, self.wireguard, self.config_path(network_id))

    def adds(self, network_id):
        return netsh_adds("tarvex_" + network_id, self.driver.program_windows, PORT, ADDRESS)

    @staticmethod
    def records(lines, network_id):
        """The wireguard.exe stand-in's (action, outcome) for one tunnel, in start order."""
        mine = [w for w in lines if "tarvex_" + network_id in (w.arguments or "")]
        return [(w.action, w.result) for w in sorted(mine, key=lambda w: w.start_ms)]

    @staticmethod
    def commands(lines, network_id):
        """One tunnel's netsh commands, in start order (a hung one records its line last)."""
        mine = [n for n in lines if "tarvex_" + network_id + " " in n.command_line]
        return sorted(mine, key=lambda n: n.start_ms)

    # Run 1 -------------------------------------------------------------------

    def test_first_run_replies_and_debug_log_of_each_scenario(self):
        created_again = self.starts("gone")
        created_again.insert(4, P + "CreateWindowsVPNTunnel - Registered tunnel is not running, creating it again: "
                             + "gone")
        expected = {  # the replies (None: none, the program was ended), the log lines
            # The registered id's service is not found: nothing is connected,
            # and the start forgets the id and creates the tunnel again.
            "gone": ([True, False, True, True],
                     self.starts("gone") + is_connected_lines()[:3]
                     + [P + "IsVPNConnected - Service " + service("gone") + " not found",
                        P + "CheckWindowsVPNConnection - No WireGuard connections found",
                        P + "IsConnected - Connection status: false"]
                     + created_again + self.stops("gone")),
            # Wine's service manager goes on reporting the dead service as
            # running: "isConnected" counts it, and the start finds it running.
            "dies": ([True, True, True, True],
                     self.starts("dies") + is_connected_lines("dies") + already_exists_lines("dies")
                     + self.stops("dies")),
            "netshhang": ([True, True, True],
                          self.starts("netshhang") + is_connected_lines("netshhang") + self.stops("netshhang")),
            "netshcrash": ([True, True, True],
                           self.starts("netshcrash") + is_connected_lines("netshcrash") + self.stops("netshcrash")),
            "killwait": ([None], cut_after(self.starts("killwait"), STARTING_KILLWAIT)),
        }
        self.assertEqual(list(expected), [name for name, _ in FIRST_RUN])
        for name, (replies, _) in expected.items():
            with self.subTest(name):
                self.assertEqual([c.reply for c in self.calls[name]],
                                 [None if r is None else Success(r) for r in replies])
        self.assertEqual(self.first.log_messages, [line for _, lines in expected.values() for line in lines])
        o = self.first
        self.assertEqual(o.transcript_lines("error") + o.transcript_lines("misuse") + o.transcript_lines("end"), [])
        self.assertLess(self.calls["killwait"][0].sent_ms, self.wait_killed_ms or 0)

    def test_a_service_removed_from_outside_is_installed_and_started_again(self):
        self.assertEqual([l.services for l in self.listings["gone"]], [[], [(service("gone"), "RUNNING")]])
        self.assertEqual(self.records(self.first.wireguard, "gone"), [
            ("install", "0"), ("service-start", "running"), ("uninstall", "0"), ("service-stop", "stopped"),
            ("install", "0"), ("service-start", "running"), ("uninstall", "0"), ("service-stop", "stopped")])

    def test_a_service_that_dies_running_is_reported_running_by_wine_and_removed_by_the_stop(self):
        snap = self.first.snapshots["dies"]
        self.assertTrue(snap.in_time)
        self.assertEqual(self.listings["dies"][0].services, [(service("dies"), "RUNNING")])
        self.assertEqual(self.records(snap.wireguard, "dies"),
                         [("install", "0"), ("service-start", "running"), ("service-crash", "crashing")])
        self.assertEqual(snap.wg_files, {"tarvex_dies.conf": stored(with_directive("service-dies-when-running"))})
        self.assertEqual(self.records(self.first.wireguard, "dies")[3:], [("uninstall", "0")])

    def test_a_hanging_or_crashing_netsh_is_passed_over(self):
        for network_id in ("netshhang", "netshcrash"):
            with self.subTest(network_id):
                self.assertEqual([n.command_line for n in self.commands(self.first.netsh, network_id)],
                                 netsh_deletes("tarvex_" + network_id) + self.adds(network_id)
                                 + netsh_deletes("tarvex_" + network_id))
        before, hung, after = self.commands(self.first.netsh, "netshhang")[14:17]
        self.assertGreaterEqual(hung.end_ms - hung.start_ms, 6000)
        # The start went on after its 5 s wait, while the command still ran.
        # The wait began once the command before had ended: measured from
        # there, no process start of Wine's (slow on a loaded machine) lies
        # inside the 5 s.
        self.assertGreaterEqual(after.start_ms - before.end_ms, 5000)
        self.assertLess(after.start_ms, hung.end_ms)
        self.assertGreaterEqual(self.calls["netshhang"][0].elapsed_ms, 5000)
        # The crashing add did crash: Wine reports the fault on the program's output.
        self.assertIn("Unhandled page fault on write access to 0000000000000000", self.first.program_output)

    # Run 2: the restart after the kill inside the service start's wait -----

    def test_the_start_killed_in_the_service_wait_leaves_service_file_and_rules(self):
        o = self.first
        self.assertEqual(o.services_left, [service("killwait")])
        self.assertEqual(o.wg_files, {"tarvex_killwait.conf": stored(KILLWAIT_CONFIG)})
        self.assertEqual([n.command_line for n in self.commands(o.netsh, "killwait")],
                         netsh_deletes("tarvex_killwait") + self.adds("killwait"))
        self.assertIsNotNone(self.killwait_ran, "the service left behind never ran")
        self.assertGreater(self.killwait_ran.end_ms, self.wait_killed_ms)

    def test_second_run_finds_the_left_service_and_replaces_it(self):
        o = self.second
        self.assertEqual([c.reply for c in o.calls], [Success(True)] * 4 + [None])
        self.assertEqual([l.services for l in o.services], [[(service("killwait"), "RUNNING")], []])
        self.assertEqual(o.snapshots["killwait up"].wg_files, {"tarvex_killwait.conf": stored(driver.SAMPLE_CONFIG)})
        self.assertEqual(o.snapshots["killwait stopped"].wg_files, {})
        self.assertEqual(o.log_messages,
                         connected_by_service_lines(service("killwait"))
                         + self.starts("killwait", service_exists=True) + is_connected_lines("killwait")
                         + self.stops("killwait")
                         + cut_after(self.starts("killnetsh"), P + "AddFirewallRules - UDP inbound port " + PORT
                                     + " rule added"))
        self.assertEqual([n.command_line for n in self.commands(o.netsh, "killwait")],
                         netsh_deletes("tarvex_killwait") * 2 + self.adds("killwait")
                         + netsh_deletes("tarvex_killwait"))
        self.assertEqual(self.records(o.wireguard, "killwait"), [
            ("uninstall", "0"), ("service-stop", "stopped"), ("install", "0"), ("service-start", "running"),
            ("uninstall", "0"), ("service-stop", "stopped")])

    def test_the_start_killed_during_a_hanging_netsh_leaves_its_service_file_and_rules(self):
        o = self.second
        self.assertLess(o.calls[-1].sent_ms, self.netsh_killed_ms or 0)
        self.assertEqual(o.wg_files, {"tarvex_killnetsh.conf": stored(KILLNETSH_CONFIG)})
        self.assertEqual(self.records(o.wireguard, "killnetsh"), [("install", "0")])
        # The hanging add was still running when the program ended: the driver ended it.
        self.assertEqual([n.command_line for n in self.commands(o.netsh, "killnetsh")],
                         netsh_deletes("tarvex_killnetsh") + self.adds("killnetsh")[:6])
        self.assertEqual(len(o.netsh_ended), 1)

    # Run 3: the restart after the kill during the netsh adds ---------------

    def test_third_run_finds_the_stopped_service_and_replaces_it(self):
        o = self.third
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual([c.reply for c in o.calls], [Success(False)] + [Success(True)] * 3 + [Success(False)])
        self.assertEqual([l.services for l in o.services], [[(service("killnetsh"), "STOPPED")], []])
        self.assertEqual(o.snapshots["killnetsh up"].wg_files,
                         {"tarvex_killnetsh.conf": stored(driver.SAMPLE_CONFIG)})
        self.assertEqual(o.wg_files, {})
        self.assertEqual(o.log_messages,
                         is_connected_lines() + self.starts("killnetsh", service_exists=True)
                         + is_connected_lines("killnetsh") + self.stops("killnetsh") + is_connected_lines())
        self.assertEqual(o.netsh_commands,
                         netsh_deletes("tarvex_killnetsh") * 2 + self.adds("killnetsh")
                         + netsh_deletes("tarvex_killnetsh"))
        self.assertEqual(o.services_left, [])


if __name__ == "__main__":
    unittest.main()
