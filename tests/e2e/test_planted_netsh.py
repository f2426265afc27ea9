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
        cls.planted_records = [os.path.join(os.path.dirname(p), RECORD) for p in cls.planted]
        try:
            for path in cls.planted:
                shutil.copy2(standin, path)
            cls.remove_records()
            previous = os.getcwd()
            # Wine gives a program the Unix working directory as its current one.
            os.chdir(cls.current)
            try:
                # A planted copy that runs does write its record: run each by
                # hand, and the one in the current directory also by its bare
                # name, as a search that looks there first would find it.
                cls.check_records = []
                for path in cls.planted:
                    d.wine(path, "check", env={"WINEDLLOVERRIDES": "netsh.exe=n"})
                    cls.check_records.append([driver.read_bytes(r) for r in cls.planted_records])
                    cls.remove_records()
                d.wine("cmd", "/c", "netsh", "by-name", env={"WINEDLLOVERRIDES": "netsh.exe=n"})
                cls.by_name_records = [driver.read_bytes(r) for r in cls.planted_records]
                cls.remove_records()

                steps = [Call("startTunnel", {"networkId": NETWORK_ID, "config": driver.SAMPLE_CONFIG}),
                         Call("isConnected"), Call("stopTunnel", {"networkId": NETWORK_ID}), Close()]
                cls.outcome = d.run(steps)
                cls.records_after = [driver.read_bytes(r) for r in cls.planted_records]
            finally:
                os.chdir(previous)
        finally:
            # No netsh.exe is left lying in a folder a program may run from.
            for path in cls.planted:
                if os.path.exists(path):
                    os.remove(path)
            cls.remove_records()
            cls.planted_left = [p for p in cls.planted + cls.planted_records if os.path.exists(p)]

    @classmethod
    def remove_records(cls):
        for record in cls.planted_records:
            if os.path.exists(record):
                os.remove(record)

    def test_a_planted_copy_records_when_it_is_run(self):
        for i, records in enumerate(self.check_records):
            with self.subTest(planted=self.planted[i]):
                # Its own record only, and that one ending in the argument given.
                self.assertEqual([r is not None for r in records], [j == i for j in range(len(records))])
                self.assertTrue(records[i].rstrip(b"\r\n").endswith(b" check"), records[i])
        # Found by its bare name from the current directory.
        self.assertIsNone(self.by_name_records[0])
        self.assertIsNotNone(self.by_name_records[1])
        self.assertTrue(self.by_name_records[1].rstrip(b"\r\n").endswith(b" by-name"), self.by_name_records[1])

    def test_the_planted_copies_are_removed(self):
        self.assertEqual(self.planted_left, [])

    def test_the_tunnel_goes_up_and_down(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual([c.reply for c in o.calls], [Success(True), Success(True), Success(True)])
        self.assertEqual([(w.action, w.result) for w in sorted(o.wireguard, key=lambda w: w.start_ms)],
                         [("install", "0"), ("service-start", "running"), ("uninstall", "0"),
                          ("service-stop", "stopped")])

    def test_no_planted_netsh_runs(self):
        self.assertEqual(self.records_after, [None, None])

    def test_the_system_folders_netsh_records_every_command(self):
        program = self.driver.program_windows
        self.assertTrue(program.endswith("\\install\\tarvex.exe"), program)
        self.assertEqual(self.outcome.netsh_commands,
                         netsh_deletes(TUNNEL) + netsh_adds(TUNNEL, program, PORT, ADDRESS) + netsh_deletes(TUNNEL))


if __name__ == "__main__":
    unittest.main()
