"""A netsh.exe planted beside tarvex.exe and in its current directory is never
run: the firewall commands of a tunnel's start and stop go to the system
folder's netsh alone. The program runs from a private copy of the
installation, so the build folder stays clean; both planted copies are the
netsh stand-in itself, which would write a record of its own beside it."""

import glob
import os
import shutil
import unittest

import driver
from driver import Call, Close
from expected import netsh_adds, netsh_deletes
from wire import Success

NETWORK_ID = driver.SAMPLE_NETWORK_ID
TUNNEL = "tarvex_" + NETWORK_ID
ADDRESS, PORT = "10.66.66.2", "51820"
RECORD = "netsh-standin.log"


def private_installation(build_bin, folder):
    """What an installation holds, as the build lays it out: the program, the
    engine and plugin libraries, the bundle and the bundled wireguard.exe."""
    if os.path.isdir(folder):
        shutil.rmtree(folder)
    os.makedirs(os.path.join(folder, "bin"))
    libraries = glob.glob(os.path.join(build_bin, "*_plugin.dll"))
    for path in [os.path.join(build_bin, "tarvex.exe"), os.path.join(build_bin, "flutter_windows.dll")] + libraries:
        shutil.copy2(path, folder)
    shutil.copy2(os.path.join(build_bin, "bin", "wireguard.exe"), os.path.join(folder, "bin"))
    shutil.copytree(os.path.join(build_bin, "data"), os.path.join(folder, "data"))
    return os.path.join(folder, "tarvex.exe")


class PlantedNetshTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = d = driver.Driver(name="planted_netsh")
        root = d.work
        install = os.path.join(root, "install")
        cls.current = os.path.join(root, "current")
        d.program = private_installation(os.path.dirname(d.program), install)
        # The copy's own wireguard.exe is the one the plugin finds and runs.
        d.wireguard_exe = os.path.join(install, "bin", "wireguard.exe")
        d.wireguard_record = os.path.join(install, "bin", "wireguard-standin.log")
        os.makedirs(cls.current, exist_ok=True)

        standin = os.path.join(d.wine_root, "standins", "netsh", "netsh.exe")
        cls.planted = [os.path.join(install, "netsh.exe"), os.path.join(cls.current, "netsh.exe")]
        for path in cls.planted:
            shutil.copy2(standin, path)
        cls.planted_records = [os.path.join(os.path.dirname(p), RECORD) for p in cls.planted]
        for record in cls.planted_records:
            if os.path.exists(record):
                os.remove(record)

        # A planted copy that runs does write its record: run one by hand.
        code, output = d.wine(cls.planted[1], "check", env={"WINEDLLOVERRIDES": "netsh.exe=n"})
        cls.check_record = driver.read_bytes(cls.planted_records[1])
        if os.path.exists(cls.planted_records[1]):
            os.remove(cls.planted_records[1])

        steps = [Call("startTunnel", {"networkId": NETWORK_ID, "config": driver.SAMPLE_CONFIG}),
                 Call("isConnected"), Call("stopTunnel", {"networkId": NETWORK_ID}), Close()]
        previous = os.getcwd()
        # Wine gives the program the Unix working directory as its current one.
        os.chdir(cls.current)
        try:
            cls.outcome = d.run(steps)
        finally:
            os.chdir(previous)

    def test_a_planted_copy_records_when_it_is_run(self):
        self.assertIsNotNone(self.check_record)
        self.assertTrue(self.check_record.rstrip(b"\r\n").endswith(b" check"), self.check_record)

    def test_the_tunnel_goes_up_and_down(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual([c.reply for c in o.calls], [Success(True), Success(True), Success(True)])
        self.assertEqual([(w.action, w.result) for w in sorted(o.wireguard, key=lambda w: w.start_ms)],
                         [("install", "0"), ("service-start", "running"), ("uninstall", "0"),
                          ("service-stop", "stopped")])

    def test_no_planted_netsh_runs(self):
        for record in self.planted_records:
            with self.subTest(record=record):
                self.assertFalse(os.path.exists(record))

    def test_the_system_folders_netsh_records_every_command(self):
        program = self.driver.program_windows
        self.assertTrue(program.endswith("\\install\\tarvex.exe"), program)
        self.assertEqual(self.outcome.netsh_commands,
                         netsh_deletes(TUNNEL) + netsh_adds(TUNNEL, program, PORT, ADDRESS) + netsh_deletes(TUNNEL))


if __name__ == "__main__":
    unittest.main()
