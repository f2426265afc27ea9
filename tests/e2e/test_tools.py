"""Our own tooling where no suite reaches it: the driver ends a run past its time limit whole; run-demo
refuses a missing configuration, sends a configuration's bytes as they are, shows control characters
instead of obeying them, stops its build on Ctrl-C and turns a second run-demo away meanwhile."""

import contextlib
import io
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

import driver
import wire

sys.path.insert(0, os.path.join(driver.REPO, "scripts"))
import run_demo  # noqa: E402


def gone(pid, limit_s=5):  # whether the process ended (a zombie counts) within the limit
    deadline = time.monotonic() + limit_s
    while (driver.read_bytes("/proc/%d/stat" % pid) or b") Z").rsplit(b")", 1)[1].split()[0] != b"Z":
        if time.monotonic() > deadline:
            return False
        time.sleep(0.05)
    return True


class ToolsTest(unittest.TestCase):
    def test_a_run_past_its_time_limit_is_ended_with_its_session_only(self):
        # As wine-run's tree: the program under timeout(1) goes; a session of its own (Xvfb, wineserver) stays.
        with tempfile.TemporaryDirectory() as folder:
            script = "timeout 300 sleep 301 & echo $! >{0}/pids; setsid sleep 302 & echo $! >>{0}/pids; sleep 303"
            with self.assertRaises(driver.DriverError):
                driver.run_bounded(["sh", "-c", script.format(folder)], dict(os.environ), 2)
            under_timeout, own_session = map(int, driver.read_bytes(folder + "/pids").split())
            try:
                self.assertEqual((gone(under_timeout), gone(own_session, 0.2)), (True, False))
            finally:
                os.kill(own_session, signal.SIGKILL)

    def test_run_demo_refuses_a_missing_config_and_sends_the_bytes_of_one_unchanged(self):
        with tempfile.TemporaryDirectory() as folder:
            with contextlib.redirect_stderr(io.StringIO()) as err, self.assertRaises(SystemExit) as done:
                run_demo.parse_arguments(["--config", folder + "/absent.conf"])
            self.assertEqual((done.exception.code, "no such file: %s/absent.conf" % folder in err.getvalue()), (2, True))
            data = b"[Interface]\r\nAddress = 10.66.66.2/32\r\n# caf\xe9 (Latin-1)\r\n\xff"
            with open(folder + "/crlf.conf", "wb") as f:
                f.write(data)
            config = run_demo.parse_arguments(["--config", folder + "/crlf.conf"]).config_text
            self.assertEqual(wire.encode_value(config), b"\x07" + bytes([len(data)]) + data)
        self.assertEqual(run_demo.printable("id \x1b[2J\x07 x\ty"), "id \\x1b[2J\\x07 x\ty")

    def test_run_demo_stops_its_build_on_ctrl_c_and_turns_a_second_one_away(self):
        # The shell half in a copy of its own, with a cmake whose build hangs.
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        shutil.copytree(os.path.join(driver.REPO, "scripts"), root + "/scripts")
        os.makedirs(root + "/fake")
        for path, text in [("/scripts/run_demo.py", "import sys\nsys.exit(0)\n"), ("/fake/cmake", '#!/bin/sh\n'
                           '[ "$1" = --build ] || exit 0\nsleep 300 &\necho $! >"%s/build-child"\nwait\n' % root)]:
            with open(root + path, "w") as f:
                f.write(text)
        os.chmod(root + "/fake/cmake", 0o700)
        env = dict(os.environ, PATH=root + "/fake" + os.pathsep + os.environ["PATH"])
        # A terminal's Ctrl-C reaches the whole foreground group; no SIGINT ignored by whoever runs the test.
        start = lambda: subprocess.Popen(
            [root + "/scripts/run-demo"], env=env, start_new_session=True, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL))
        demos, deadline = [start()], time.monotonic() + 20
        try:
            while not driver.read_bytes(root + "/build-child") and time.monotonic() < deadline:
                time.sleep(0.05)
            demos.append(start())
            second = demos[1].communicate(timeout=20)[0]
            self.assertEqual((demos[1].returncode, b"another run-demo or soak is running" in second), (1, True), second)
            os.killpg(demos[0].pid, signal.SIGINT)
            self.assertEqual(demos[0].wait(20), 130)
            self.assertTrue(gone(int(driver.read_bytes(root + "/build-child"))), "the build still runs")
        finally:
            for demo in demos:
                with contextlib.suppress(ProcessLookupError):
                    demo.kill()
                demo.communicate()
            with contextlib.suppress(ProcessLookupError, ValueError):
                os.kill(int(driver.read_bytes(root + "/build-child") or b"x"), signal.SIGKILL)


if __name__ == "__main__":
    unittest.main()
