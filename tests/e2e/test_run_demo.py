"""scripts/run-demo for a user, without Wine: its options, how it shows a
configuration file and the program's texts, and a Ctrl-C while it builds."""

import contextlib
import io
import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

import wire

REPO = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(REPO, "scripts"))

import run_demo  # noqa: E402


def shown(data):
    out = io.StringIO()
    with contextlib.redirect_stdout(out):
        run_demo.show_text(data, "")
    return out.getvalue().splitlines()


class OptionsTest(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, self.folder)

    def refused(self, argv):
        err = io.StringIO()
        with contextlib.redirect_stderr(err), self.assertRaises(SystemExit) as done:
            run_demo.parse_arguments(argv)
        self.assertEqual(done.exception.code, 2)
        return err.getvalue()

    def test_a_missing_or_unusable_config_is_refused_before_anything_runs(self):
        self.assertIn("no such file: " + self.folder + "/absent.conf",
                      self.refused(["--config", self.folder + "/absent.conf"]))
        self.assertIn("no such file", self.refused(["--config", self.folder]))

    def test_config_bytes_reach_the_channel_unchanged(self):
        data = b"[Interface]\r\nAddress = 10.66.66.2/32\r\n# caf\xe9 (Latin-1)\r\n\xff"
        path = os.path.join(self.folder, "crlf.conf")
        with open(path, "wb") as f:
            f.write(data)
        options = run_demo.parse_arguments(["--config", path, "--network-id", ""])
        self.assertEqual(options.network_id, "")
        self.assertEqual(wire.encode_value(options.config_text), b"\x07" + bytes([len(data)]) + data)


class ShowTextTest(unittest.TestCase):
    def test_line_ends_are_named_and_stray_carriage_returns_shown(self):
        self.assertEqual(shown(b"a = 1\r\r\nb = 2\r\nc\nd"),
                         ["a = 1\\r  [CR LF]", "b = 2  [CR LF]", "c", "d  [no line end]"])
        self.assertEqual(shown(b"a\n"), ["a"])
        self.assertEqual(shown(b""), [])

    def test_control_characters_are_shown_not_obeyed(self):
        self.assertEqual(run_demo.printable("id \x1b[2J\x07 x\ty"), "id \\x1b[2J\\x07 x\ty")


class ReplyNotesTest(unittest.TestCase):
    def call(self, method, status, reply=None):
        result = type("CallResult", (), {})()
        result.method, result.status, result.reply = method, status, reply
        result.describe = lambda: status
        return result

    def test_refusals_errors_and_lost_replies_are_pointed_out(self):
        notes = run_demo.reply_notes([
            self.call("isConnected", "reply", wire.Success(False)),
            self.call("startTunnel", "reply", wire.Success(False)),
            self.call("stopTunnel", "reply", wire.Success(True)),
            self.call("stopTunnel", "reply", wire.Error("STOP_TUNNEL_ERROR", "m")),
            self.call("isConnected", "noreply"),
            self.call("isConnected", "reply", None)])
        self.assertEqual(len(notes), 4)
        self.assertTrue(notes[0].startswith("startTunnel answered false: the tunnel was not created"))
        self.assertTrue(notes[1].startswith("stopTunnel answered with an error"))
        self.assertEqual(notes[2], "isConnected: noreply")
        self.assertEqual(notes[3], "isConnected: reply")  # undecodable: described by the call itself


class WrapperTest(unittest.TestCase):
    """The shell half in a copy of its own, with a cmake whose build hangs:
    Ctrl-C while it builds stops the build, instead of leaving it running in
    the background to race the next run; a second run-demo meanwhile is
    turned away."""

    def start(self, root, env):
        # A terminal's Ctrl-C reaches the whole foreground process group; the
        # script must not inherit an ignored SIGINT from whoever runs the test.
        return subprocess.Popen([os.path.join(root, "scripts", "run-demo")], env=env, start_new_session=True,
                                preexec_fn=lambda: signal.signal(signal.SIGINT, signal.SIG_DFL),
                                stdout=subprocess.PIPE, stderr=subprocess.STDOUT)

    def test_ctrl_c_during_the_build_stops_the_build_and_one_run_at_a_time(self):
        root = tempfile.mkdtemp()
        self.addCleanup(shutil.rmtree, root)
        os.makedirs(os.path.join(root, "scripts"))
        os.makedirs(os.path.join(root, "fake"))
        for name in ("run-demo", "build-program.sh"):
            shutil.copy(os.path.join(REPO, "scripts", name), os.path.join(root, "scripts"))
        with open(os.path.join(root, "scripts", "run_demo.py"), "w") as f:
            f.write("import sys\nsys.exit(0)\n")
        child = os.path.join(root, "build-child")
        fake_cmake = os.path.join(root, "fake", "cmake")
        with open(fake_cmake, "w") as f:
            f.write('#!/bin/sh\n[ "$1" = --build ] || exit 0\nsleep 300 &\necho $! >"%s"\nwait\n' % child)
        os.chmod(fake_cmake, stat.S_IRWXU)
        env = dict(os.environ, PATH=os.path.join(root, "fake") + os.pathsep + os.environ["PATH"])
        demo = self.start(root, env)
        try:
            deadline = time.monotonic() + 20
            while not (os.path.exists(child) and os.path.getsize(child)) and time.monotonic() < deadline:
                time.sleep(0.05)
            with open(child) as f:
                build_pid = int(f.read())
            second = self.start(root, env)
            output, _ = second.communicate(timeout=20)
            self.assertEqual(second.returncode, 1, output)
            self.assertIn(b"another run-demo or soak is running", output)
            os.killpg(demo.pid, signal.SIGINT)
            output, _ = demo.communicate(timeout=20)
            self.assertEqual(demo.returncode, 130, output)
            deadline = time.monotonic() + 5
            while os.path.exists("/proc/%d" % build_pid) and time.monotonic() < deadline:
                time.sleep(0.05)
            self.assertFalse(os.path.exists("/proc/%d" % build_pid), "the build still runs")
        finally:
            if demo.poll() is None:
                demo.kill()
                demo.wait()
            if os.path.exists(child) and os.path.getsize(child):
                with open(child) as f:
                    with contextlib.suppress(ProcessLookupError, ValueError):
                        os.kill(int(f.read()), signal.SIGKILL)


if __name__ == "__main__":
    unittest.main()
