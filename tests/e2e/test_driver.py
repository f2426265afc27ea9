"""The driver's reading of a transcript, on lines written out by hand: which
reply belongs to which call, and what a service listing holds."""

import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import driver
from driver import Call, Outcome, Raw
from wire import NotImplementedReply, Success


def read(lines, calls=(), service_prefixes=()):
    outcome = Outcome()
    for step in calls:
        outcome.calls.append(driver.CallResult(step, len(outcome.calls)))
    outcome.service_prefixes = list(service_prefixes)
    reader = driver.Driver.__new__(driver.Driver)  # parsing needs no Wine
    for line in lines:
        reader._take_line(outcome, line, None, lambda: False)
    return outcome


class TranscriptTest(unittest.TestCase):
    def test_replies_pair_with_calls_in_order(self):
        o = read(["1796648422000 engine assets ...",
                  "1796648422100 sending tarvex/windows_vpn",
                  "1796648422150 reply tarvex/windows_vpn 0002",
                  "1796648422200 sending tarvex/nobody",
                  "1796648422201 unhandled tarvex/nobody",
                  "1796648422300 sending tarvex/windows_vpn",
                  "1796648422900 noreply tarvex/windows_vpn",
                  "1796648423000 sending tarvex/windows_vpn",
                  "1796648423010 reply tarvex/windows_vpn",
                  "1796648423500 latereply tarvex/windows_vpn 0001"],
                 [Call("isConnected"), Raw(b"\x00", "tarvex/nobody"), Call("startTunnel", {}), Call("x")])
        self.assertEqual([(c.status, c.sent_ms, c.replied_ms) for c in o.calls], [
            ("reply", 1796648422100, 1796648422150), ("unhandled", 1796648422200, 1796648422201),
            ("noreply", 1796648422300, 1796648422900), ("reply", 1796648423000, 1796648423010)])
        self.assertEqual(o.calls[0].reply, Success(False))
        self.assertEqual(o.calls[0].elapsed_ms, 50)
        self.assertEqual(o.calls[2].late_reply, b"\x00\x01")
        self.assertEqual(o.calls[3].reply, NotImplementedReply())
        self.assertEqual(o.transcript[0], (1796648422000, "engine assets ..."))

    def test_a_reply_that_is_no_envelope_fails_its_comparison_not_the_run(self):
        o = read(["reply tarvex/windows_vpn 0003", "reply tarvex/windows_vpn 07", "reply tarvex/windows_vpn 0001"],
                 [Call("isConnected"), Call("isConnected"), Call("isConnected")])
        self.assertEqual([c.reply for c in o.calls], [None, None, Success(True)])
        self.assertEqual(o.calls[0].describe(), "undecodable reply: hex 0003")

    def test_untimed_lines_still_pair(self):
        o = read(["reply tarvex/windows_vpn 0001", "reply tarvex/windows_vpn 0002"],
                 [Call("isConnected"), Call("isConnected")])
        self.assertEqual([c.reply for c in o.calls], [Success(True), Success(False)])
        self.assertEqual([c.replied_ms for c in o.calls], [None, None])

    def test_service_listings(self):
        o = read(["1796648422000 service WireGuardTunnel$tarvex_a RUNNING",
                  "1796648422000 service WireGuardTunnel$with blank STOPPED",
                  "1796648422001 services 2",
                  "1796648422100 services 0",
                  "1796648422200 services error 5"],
                 service_prefixes=["WireGuardTunnel$", "tarvex_", "x"])
        self.assertEqual([(l.prefix, l.services, l.error) for l in o.services], [
            ("WireGuardTunnel$", [("WireGuardTunnel$tarvex_a", "RUNNING"),
                                  ("WireGuardTunnel$with blank", "STOPPED")], None),
            ("tarvex_", [], None), ("x", [], "5")])
        self.assertEqual(o.services[0].names("RUNNING"), ["WireGuardTunnel$tarvex_a"])


class RecordTest(unittest.TestCase):
    def test_wireguard_record_fields(self):
        line = driver.WireguardLine(
            '1765083000120 1765083000170 312 install /installtunnelservice "C:\\a b\\t.conf" -> 0')
        self.assertEqual((line.start_ms, line.end_ms, line.pid, line.action, line.arguments, line.result),
                         (1765083000120, 1765083000170, 312, "install",
                          '/installtunnelservice "C:\\a b\\t.conf"', "0"))

    def test_log_stamps_are_cut_once(self):
        o = Outcome()
        o.log_lines = ["[2026-12-07 13:00:22] WindowsVpnPlugin::X - [2026-12-07 13:00:22] y", "continued"]
        self.assertEqual(o.log_messages, ["WindowsVpnPlugin::X - [2026-12-07 13:00:22] y", "continued"])


def alive(pid):
    try:
        with open("/proc/%d/stat" % pid, "rb") as f:
            return f.read().rsplit(b")", 1)[1].split()[0] != b"Z"
    except OSError:
        return False


class ProcessTreeTest(unittest.TestCase):
    """A run that hangs is ended whole, as wine-run's tree would be: the
    program under timeout(1) (a process group of its own) goes too, while
    what started a session of its own (Xvfb, wineserver, services) stays."""

    def test_time_limit_ends_the_whole_session_only(self):
        with tempfile.TemporaryDirectory() as folder:
            pids = os.path.join(folder, "pids")
            script = ("timeout 300 sleep 301 & echo $! >%s; setsid sleep 302 & echo $! >>%s; sleep 303"
                      % (pids, pids))
            started = time.monotonic()
            with self.assertRaises(driver.DriverError):
                driver.run_bounded(["sh", "-c", script], dict(os.environ), 2)
            self.assertLess(time.monotonic() - started, 30)
            with open(pids) as f:
                under_timeout, own_session = [int(line) for line in f.read().split()]
            try:
                deadline = time.monotonic() + 5
                while alive(under_timeout) and time.monotonic() < deadline:
                    time.sleep(0.05)
                self.assertFalse(alive(under_timeout))
                self.assertTrue(alive(own_session))
            finally:
                os.kill(own_session, signal.SIGKILL)

    def test_a_run_that_ends_gives_its_code_and_output(self):
        self.assertEqual(driver.run_bounded(["sh", "-c", "echo out; exit 3"], dict(os.environ), 10),
                         (3, b"out\n"))


class StrayInstallTest(unittest.TestCase):
    """An install the program gave up on is waited for before the services
    are removed, so its late service does not outlive the clean-up."""

    def test_an_install_from_the_build_is_waited_for(self):
        d = driver.Driver.__new__(driver.Driver)
        d.wine_root = "/no/such/build"
        # As Wine shows a program's command line: the Windows path and its words.
        late = subprocess.Popen(["sh", "-c", "sleep 1.5", "Z:\\no\\such\\build\\bin\\bin\\wireguard.exe",
                                 "/installtunnelservice", "C:\\t\\wg\\tarvex_hang.conf"])
        other = subprocess.Popen(["sh", "-c", "sleep 30", "Z:\\elsewhere\\wireguard.exe", "/installtunnelservice"])
        try:
            self.assertEqual(driver.stray_installs("Z:\\no\\such\\build"), [late.pid])
            self.assertEqual(d.wait_for_installs(limit_s=0), [late.pid])
            started = time.monotonic()
            self.assertEqual(d.wait_for_installs(limit_s=20), [])
            self.assertGreater(time.monotonic() - started, 0.5)
            self.assertIsNotNone(late.poll())
        finally:
            for process in (late, other):
                process.kill()
                process.wait()


class PrefixLockTest(unittest.TestCase):
    """Two processes never drive one prefix at once: the second waits for the
    first to end, and gives up with an error past its wait."""

    def take(self, root, wait_s, hold_s=0):
        code = ("import sys, time; sys.path.insert(0, %r); import driver\n"
                "try:\n    driver.hold_prefix(%r, wait_s=%r)\nexcept driver.DriverError:\n    sys.exit(3)\n"
                "print('held', flush=True); time.sleep(%r)" % (os.path.dirname(driver.__file__), root, wait_s, hold_s))
        return subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE)

    def test_a_second_process_waits_for_the_first(self):
        with tempfile.TemporaryDirectory() as root:
            first = self.take(root, 5, hold_s=3)
            try:
                self.assertEqual(first.stdout.readline(), b"held\n")
                # Refused while the first holds it, however often this process takes it itself.
                refused = self.take(root, 0.5)
                refused.communicate(timeout=30)
                self.assertEqual(refused.returncode, 3)
                started = time.monotonic()
                second = self.take(root, 30)
                said = second.communicate(timeout=60)[0].splitlines()
                self.assertEqual([said[0].startswith(b"driver: waiting"), said[1:]], [True, [b"held"]])
                self.assertEqual(second.returncode, 0)
                self.assertEqual(first.wait(30), 0)
                self.assertGreater(time.monotonic() - started, 1)
            finally:
                first.kill()
                first.wait()
                first.stdout.close()

    def test_one_process_takes_it_again_without_waiting(self):
        with tempfile.TemporaryDirectory() as root:
            driver.hold_prefix(root, wait_s=1)
            driver.hold_prefix(root, wait_s=1)
            path = os.path.join(root, "wine", "driver.lock")
            self.assertEqual(os.environ.pop("TARVEX_PREFIX_LOCK_HELD"), path)
            os.close(driver._prefix_locks.pop(path))

    def test_wine_shutdown_waits_for_the_holder_unless_it_is_the_holder(self):
        wine_run = os.path.join(driver.REPO, "cmake", "wine-run")
        with tempfile.TemporaryDirectory() as root:
            env = {k: v for k, v in os.environ.items() if k != "TARVEX_PREFIX_LOCK_HELD"}
            env["TARVEX_WINE_ROOT"] = root
            holder = self.take(root, 5, hold_s=2)
            try:
                self.assertEqual(holder.stdout.readline(), b"held\n")
                started = time.monotonic()
                subprocess.run([wine_run, "--shutdown"], env=dict(env, TARVEX_PREFIX_LOCK_HELD="x"),
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, timeout=30)
                self.assertLess(time.monotonic() - started, 1)
                subprocess.run([wine_run, "--shutdown"], env=env, stdout=subprocess.DEVNULL,
                               stderr=subprocess.DEVNULL, timeout=30)
                self.assertIsNotNone(holder.poll())
            finally:
                holder.kill()
                holder.wait()
                holder.stdout.close()


if __name__ == "__main__":
    unittest.main()
