"""The main job end to end: one tunnel up and down under Wine, asked about on
the way, against the wireguard.exe and netsh stand-ins. One run; each test
reads one part of what it left."""

import re
import time
import unittest

import driver
from expected import (SAMPLE_ADDRESS, SAMPLE_PORT, SAMPLE_SERVICE, SAMPLE_TUNNEL, is_connected_lines, netsh_adds, netsh_deletes, start_lines, stop_lines,
                      within)
from wire import Success

NETWORK_ID = driver.SAMPLE_NETWORK_ID
TUNNEL, SERVICE = SAMPLE_TUNNEL, SAMPLE_SERVICE
ADDRESS, PORT = SAMPLE_ADDRESS, SAMPLE_PORT


class DefaultScenarioTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = driver.Driver(name="default_scenario")
        cls.outcome = cls.driver.run(driver.default_scenario())
        cls.config_name = TUNNEL + ".conf"
        cls.config_path = cls.driver.wg_directory_windows + "\\" + cls.config_name
        cls.wireguard = driver.windows_path(cls.driver.wireguard_exe)

    def test_the_run_ends_cleanly(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual(o.transcript_lines("error"), [])
        self.assertEqual(o.transcript_lines("misuse"), [])
        self.assertEqual([text for _, text in o.transcript[-2:]], ["end", "viewcontroller destroyed hidden"])

    def test_every_call_gets_its_reply_in_order(self):
        calls = self.outcome.calls
        self.assertEqual([c.status for c in calls], ["reply"] * 5)
        self.assertEqual([c.reply for c in calls],
                         [Success(False), Success(True), Success(True), Success(True), Success(False)])
        self.assertEqual([c.reply_bytes.hex() for c in calls], ["0002", "0001", "0001", "0001", "0002"])
        for earlier, later in zip(calls, calls[1:]):
            self.assertLessEqual(earlier.sent_ms, earlier.replied_ms)
            self.assertLessEqual(earlier.replied_ms, later.sent_ms)

    def test_debug_log_holds_the_whole_road_in_order(self):
        expected = (is_connected_lines()
                    + start_lines(NETWORK_ID, self.wireguard, self.config_path, PORT, ADDRESS)
                    + is_connected_lines(NETWORK_ID)
                    + stop_lines(NETWORK_ID, self.wireguard, self.config_path)
                    + is_connected_lines())
        self.assertEqual(self.outcome.log_messages, expected)

    def test_debug_log_lines_carry_the_local_time_of_the_run(self):
        o = self.outcome
        stamps = []
        for line in o.log_lines:
            match = re.match(r"^\[(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d)\] \S", line)
            self.assertIsNotNone(match, line)
            stamps.append(time.mktime(time.strptime(match.group(1), "%Y-%m-%d %H:%M:%S")))
        self.assertEqual(stamps, sorted(stamps))
        self.assertGreaterEqual(stamps[0], o.started_ms // 1000 - 1)
        self.assertLessEqual(stamps[-1], o.ended_ms / 1000 + 1)

    def test_netsh_runs_the_rule_commands_byte_for_byte(self):
        o = self.outcome
        program = self.driver.program_windows
        self.assertEqual(o.netsh_commands,
                         netsh_deletes(TUNNEL) + netsh_adds(TUNNEL, program, PORT, ADDRESS) + netsh_deletes(TUNNEL))
        start, stop = o.calls[1], o.calls[3]
        self.assertTrue(within(start, [n.start_ms for n in o.netsh[:18]]))
        self.assertTrue(within(stop, [n.start_ms for n in o.netsh[18:]]))

    def test_configuration_file_is_written_while_up_and_gone_after(self):
        up = self.outcome.snapshots["up"]
        self.assertTrue(up.in_time)
        expected = driver.SAMPLE_CONFIG.replace("\n", "\r\n").encode("ascii")
        self.assertEqual(up.wg_files, {self.config_name: expected})
        self.assertEqual(self.outcome.wg_files, {})

    def test_tunnel_service_runs_while_up_and_is_gone_after(self):
        listings = self.outcome.services
        self.assertEqual(len(listings), 2)
        self.assertEqual([(l.error, l.services) for l in listings],
                         [(None, [(SERVICE, "RUNNING")]), (None, [])])
        # As the program left the machine, before the driver's own clean-up.
        self.assertEqual(self.outcome.services_left, [])

    def test_wireguard_exe_installs_starts_and_removes_the_service(self):
        o = self.outcome
        records = sorted(o.wireguard, key=lambda w: w.start_ms)
        self.assertEqual([(w.action, w.arguments, w.result) for w in records], [
            ("install", '/installtunnelservice "%s"' % self.config_path, "0"),
            ("service-start", "/standin-service runs 0 " + TUNNEL, "running"),
            ("uninstall", "/uninstalltunnelservice " + TUNNEL, "0"),
            ("service-stop", "/standin-service runs 0 " + TUNNEL, "stopped"),
        ])
        start, stop = o.calls[1], o.calls[3]
        self.assertTrue(within(start, [records[0].start_ms, records[0].end_ms, records[1].end_ms]))
        self.assertTrue(within(stop, [records[2].start_ms, records[2].end_ms, records[3].end_ms]))


if __name__ == "__main__":
    unittest.main()
