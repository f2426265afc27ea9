"""A restart: a tunnel that a first run left installed and running counts for
"isConnected" in a second run, whose registry starts empty, so "startTunnel"
for the same id goes to creation again (removing the old service first)."""

import unittest

import driver
from driver import Call, Close, Services
from expected import (SAMPLE_ADDRESS, SAMPLE_PORT, SAMPLE_SERVICE, SAMPLE_TUNNEL, connected_by_service_lines, is_connected_lines, netsh_adds, netsh_deletes,
                      start_lines, stop_lines)
from wire import Success

NETWORK_ID = driver.SAMPLE_NETWORK_ID
TUNNEL, SERVICE = SAMPLE_TUNNEL, SAMPLE_SERVICE
ADDRESS, PORT = SAMPLE_ADDRESS, SAMPLE_PORT


class RestartTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = driver.Driver(name="restart")
        start = Call("startTunnel", {"networkId": NETWORK_ID, "config": driver.SAMPLE_CONFIG})
        try:
            cls.first = cls.driver.run([start, Services(), Close()], keep_wine=True)
            cls.second = cls.driver.run([
                Call("isConnected"), Services(), start, Call("isConnected"),
                Call("stopTunnel", {"networkId": NETWORK_ID}), Call("isConnected"), Services(), Close()],
                fresh=False)
        finally:
            cls.driver.remove_tunnel_services()
        cls.wireguard = driver.windows_path(cls.driver.wireguard_exe)
        cls.config_path = cls.driver.wg_directory_windows + "\\" + TUNNEL + ".conf"

    def test_first_run_leaves_the_tunnel_running(self):
        first = self.first
        self.assertEqual(first.exit_code, 0, first.program_output)
        self.assertEqual(first.calls[0].reply, Success(True))
        self.assertEqual([l.services for l in first.services], [[(SERVICE, "RUNNING")]])
        self.assertEqual(first.services_left, [SERVICE])
        self.assertEqual(list(first.wg_files), [TUNNEL + ".conf"])

    def test_second_run_counts_the_left_tunnel_and_creates_it_again(self):
        second = self.second
        self.assertEqual(second.exit_code, 0, second.program_output)
        self.assertEqual([c.reply for c in second.calls], [Success(True)] * 4 + [Success(False)])
        self.assertEqual([l.services for l in second.services], [[(SERVICE, "RUNNING")], []])
        self.assertEqual(second.log_messages,
                         connected_by_service_lines(SERVICE)
                         + start_lines(NETWORK_ID, self.wireguard, self.config_path, PORT, ADDRESS,
                                       service_exists=True)
                         + is_connected_lines(NETWORK_ID)
                         + stop_lines(NETWORK_ID, self.wireguard, self.config_path)
                         + is_connected_lines())
        self.assertEqual(second.wg_files, {})
        self.assertEqual(second.services_left, [])

    def test_second_start_replaces_the_old_service(self):
        second = self.second
        self.assertEqual([(w.action, w.result) for w in sorted(second.wireguard, key=lambda w: w.start_ms)], [
            ("uninstall", "0"), ("service-stop", "stopped"), ("install", "0"), ("service-start", "running"),
            ("uninstall", "0"), ("service-stop", "stopped")])
        program = self.driver.program_windows
        self.assertEqual(second.netsh_commands,
                         netsh_deletes(TUNNEL) * 2 + netsh_adds(TUNNEL, program, PORT, ADDRESS)
                         + netsh_deletes(TUNNEL))


if __name__ == "__main__":
    unittest.main()
