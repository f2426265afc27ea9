"""Two tunnels with different ids up at once, stopped one at a time: after
each step the services, "isConnected" and the configuration files, and each
stop removing only its own service, rules and file. One run of tarvex.exe."""

import unittest

import driver
from driver import Call, Close, Services, Snapshot
from expected import is_connected_lines, netsh_adds, netsh_deletes, start_lines, stop_lines
from wire import Success

OFFICE, HOME = "office", "home"
OFFICE_CONFIG = driver.SAMPLE_CONFIG
# home's install tries to rename and to remove the wg folder, which the
# plugin holds open while it installs.
HOME_CONFIG = (driver.SAMPLE_CONFIG.replace("10.66.66.2/32", "10.66.77.3/32")
               .replace("203.0.113.5:51820", "203.0.113.9:51821")) + "#tarvex-standin probe-folder\n"
ENDPOINT = {OFFICE: ("51820", "10.66.66.2"), HOME: ("51821", "10.66.77.3")}


def service(network_id):
    return "WireGuardTunnel$tarvex_" + network_id


def stored(config):
    return config.replace("\n", "\r\n").encode("ascii")


class TwoTunnelsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = driver.Driver(name="two_tunnels")
        # "home" is stopped first: the registry is walked in id order, so the
        # check after that stop shows whether "home" was really forgotten.
        cls.outcome = cls.driver.run([
            Call("startTunnel", {"networkId": OFFICE, "config": OFFICE_CONFIG}),
            Call("startTunnel", {"networkId": HOME, "config": HOME_CONFIG}),
            Call("isConnected"), Services(), Snapshot("both"),
            Call("stopTunnel", {"networkId": HOME}),
            Call("isConnected"), Services(), Snapshot("office only"),
            Call("stopTunnel", {"networkId": OFFICE}),
            Call("isConnected"), Services(), Close()])
        cls.wireguard = driver.windows_path(cls.driver.wireguard_exe)

    def config_path(self, network_id):
        return self.driver.wg_directory_windows + "\\tarvex_" + network_id + ".conf"

    def test_replies_at_each_step(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual(o.transcript_lines("error") + o.transcript_lines("misuse"), [])
        self.assertEqual([c.reply for c in o.calls],
                         [Success(True), Success(True), Success(True),
                          Success(True), Success(True),
                          Success(True), Success(False)])

    def test_services_after_each_step(self):
        self.assertEqual([(l.error, l.services) for l in self.outcome.services], [
            (None, [(service(HOME), "RUNNING"), (service(OFFICE), "RUNNING")]),
            (None, [(service(OFFICE), "RUNNING")]),
            (None, [])])
        self.assertEqual(self.driver.tunnel_services(), [])

    def test_configuration_files_after_each_step(self):
        snapshots = self.outcome.snapshots
        self.assertTrue(snapshots["both"].in_time and snapshots["office only"].in_time)
        self.assertEqual(snapshots["both"].wg_files, {"tarvex_office.conf": stored(OFFICE_CONFIG),
                                                      "tarvex_home.conf": stored(HOME_CONFIG)})
        self.assertEqual(snapshots["office only"].wg_files, {"tarvex_office.conf": stored(OFFICE_CONFIG)})
        self.assertEqual(self.outcome.wg_files, {})

    def test_debug_log_checks_the_registered_ids_in_order(self):
        port, address = ENDPOINT[OFFICE]
        home_port, home_address = ENDPOINT[HOME]
        self.assertEqual(self.outcome.log_messages,
                         start_lines(OFFICE, self.wireguard, self.config_path(OFFICE), port, address)
                         + start_lines(HOME, self.wireguard, self.config_path(HOME), home_port, home_address)
                         # "home" sorts first and answers for both.
                         + is_connected_lines(HOME)
                         + stop_lines(HOME, self.wireguard, self.config_path(HOME))
                         + is_connected_lines(OFFICE)
                         + stop_lines(OFFICE, self.wireguard, self.config_path(OFFICE))
                         + is_connected_lines())

    def test_each_stop_removes_only_its_own_rules_and_service(self):
        o = self.outcome
        program = self.driver.program_windows
        office, home = "tarvex_" + OFFICE, "tarvex_" + HOME
        self.assertEqual(o.netsh_commands,
                         netsh_deletes(office) + netsh_adds(office, program, *ENDPOINT[OFFICE])
                         + netsh_deletes(home) + netsh_adds(home, program, *ENDPOINT[HOME])
                         + netsh_deletes(home)
                         + netsh_deletes(office))
        stop_home, stop_office = o.calls[3], o.calls[5]
        records = sorted(o.wireguard, key=lambda w: w.start_ms)
        install = '/installtunnelservice "%s"'
        self.assertEqual([(w.action, w.arguments, w.result) for w in records], [
            ("install", install % self.config_path(OFFICE), "0"),
            ("service-start", "/standin-service runs 0 " + office, "running"),
            ("install", install % self.config_path(HOME), "0"),
            # Both refused with ERROR_SHARING_VIOLATION: the folder is held.
            ("probe-folder", self.driver.wg_directory_windows, "rename 32 remove 32"),
            ("service-start", "/standin-service runs 0 " + home, "running"),
            ("uninstall", "/uninstalltunnelservice " + home, "0"),
            ("service-stop", "/standin-service runs 0 " + home, "stopped"),
            ("uninstall", "/uninstalltunnelservice " + office, "0"),
            ("service-stop", "/standin-service runs 0 " + office, "stopped"),
        ])
        self.assertTrue(all(stop_home.sent_ms <= w.start_ms <= stop_home.replied_ms for w in records[5:7]))
        self.assertTrue(all(stop_office.sent_ms <= w.start_ms <= stop_office.replied_ms for w in records[7:]))


if __name__ == "__main__":
    unittest.main()
