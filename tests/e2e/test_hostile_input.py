"""Hostile input from the Flutter side, in one run of tarvex.exe.

Network ids that make no valid tunnel name (a double quote, blanks, path
traversals, slashes, 26 bytes, a final dot, non-ASCII, control characters,
an embedded NUL) are refused by "startTunnel" and "stopTunnel" alike with a success
reply of false: no file is written or deleted (probe files wait where a
traversal would land), no netsh and no wireguard.exe runs, and the ids reach
the debug log escaped, so no line is forged.

Bytes that are no well-formed call (a huge declared count, 100,000 nested
lists, unknown type bytes, truncated calls) are answered as the channel layer
answers them, and the next well-formed "isConnected" is answered as usual."""

import ntpath
import os
import re
import unittest

import driver
import wire
from driver import Call, Close, Raw, Services
from expected import P, is_connected_lines
from wire import Error, NotImplementedReply, Success

HOSTILE_IDS = [
    'office" /uninstalltunnelservice "x',
    "office home",
    "..\\..\\x",
    "..\\..\\..\\y",
    "/../../z",
    "a/b",
    "x" * 26,
    "office.",
    "caf\u00e9",
    "x\r\n[2026-12-07 12:00:00] WindowsVpnPlugin::forged",
    "tab\there",
    "office\x00x",
]

FORGED_METHOD = "isConnected\r\nforged by a method name"


def escaped(text):
    """A network id or method name as the log shows it: bytes outside printable ASCII and the
    backslash as \\xNN."""
    return "".join(chr(b) if 0x20 <= b <= 0x7E and b != 0x5C else "\\x%02X" % b
                   for b in text.encode("utf-8"))


def refused_start_lines(network_id):
    shown = escaped(network_id)
    return [P + "HandleMethodCall called: startTunnel",
            P + "StartTunnel called",
            P + "StartTunnel - Creating tunnel with networkId: " + shown,
            P + "CreateWindowsVPNTunnel - networkId: " + shown,
            P + "CreateWireGuardTunnel - Creating WireGuard tunnel for: " + shown,
            P + "CreateWireGuardTunnel - Network ID refused, not a valid tunnel name: " + shown,
            P + "CreateWindowsVPNTunnel - Failed to create WireGuard tunnel",
            P + "StartTunnel - Failed to create tunnel"]


def refused_stop_lines(network_id):
    shown = escaped(network_id)
    return [P + "HandleMethodCall called: stopTunnel",
            P + "StopTunnel called",
            P + "StopTunnel - Removing tunnel with networkId: " + shown,
            P + "RemoveWindowsVPNTunnel - networkId: " + shown,
            P + "RemoveWindowsVPNTunnel - Network ID refused, not a valid tunnel name: " + shown,
            P + "StopTunnel - Failed to remove tunnel"]


def value(v):
    return wire.encode_value(v)


HUGE = b"\xff\xff\xff\xff\xff"            # size field: 255, then 4,294,967,295
NESTED = b"\x0c\x01" * 100000 + b"\x00"   # 100,000 lists, each holding the next
FULL_START = wire.encode_method_call("startTunnel", {"networkId": "office", "config": driver.SAMPLE_CONFIG})
BAD_VARIANT = "bad variant access"
INVALID_START = Error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel")
INVALID_STOP = Error("INVALID_ARGUMENTS", "Invalid arguments for stopTunnel")
START_ERROR = Error("START_TUNNEL_ERROR", "Failed to start tunnel: " + BAD_VARIANT)

# (label, bytes, reply, log lines). Bytes that decode to no method call get
# the empty not-implemented reply from the channel layer and never reach the
# plugin; those that do get the reply their decoded call deserves.
HOSTILE_BYTES = [
    ("empty message", b"", NotImplementedReply(), []),
    ("method name with a huge size", b"\x07" + HUGE + b"isConnected", NotImplementedReply(), []),
    ("isConnected, arguments a list of huge count", value("isConnected") + b"\x0c" + HUGE + b"\x00",
     Success(False), is_connected_lines()[1:]),
    ("startTunnel, arguments a map of huge count", value("startTunnel") + b"\x0d" + HUGE + b"\x07\x06config",
     INVALID_START, [P + "StartTunnel called", P + "StartTunnel - Invalid arguments"]),
    ("startTunnel, config a string of huge size",
     value("startTunnel") + b"\x0d\x02" + value("networkId") + value("office") + value("config")
     + b"\x07" + HUGE + b"[Interface]\n", START_ERROR,
     [P + "StartTunnel called", P + "StartTunnel - Exception: " + BAD_VARIANT]),
    ("100,000 nested lists as the message", NESTED, NotImplementedReply(), []),
    ("startTunnel, arguments 100,000 nested lists", value("startTunnel") + NESTED,
     INVALID_START, [P + "StartTunnel called", P + "StartTunnel - Invalid arguments"]),
    ("unknown type byte 15", b"\x0f", NotImplementedReply(), []),
    ("unknown type bytes 255 254 253", b"\xff\xfe\xfd", NotImplementedReply(), []),
    ("stopTunnel, arguments of unknown type 42", value("stopTunnel") + b"\x2a", INVALID_STOP,
     [P + "StopTunnel called"]),
    ("startTunnel, networkId of unknown type 15",
     value("startTunnel") + b"\x0d\x02" + value("networkId") + b"\x0f" + value("config")
     + value(driver.SAMPLE_CONFIG), START_ERROR,
     [P + "StartTunnel called", P + "StartTunnel - Exception: " + BAD_VARIANT]),
    ("truncated method name", value("isConnected")[:5], NotImplementedReply(), []),
    ("startTunnel without its arguments value", value("startTunnel"), INVALID_START,
     [P + "StartTunnel called", P + "StartTunnel - Invalid arguments"]),
    ("startTunnel cut 10 bytes short", FULL_START[:-10], START_ERROR,
     [P + "StartTunnel called", P + "StartTunnel - Exception: " + BAD_VARIANT]),
]

LOG_LINE = re.compile(rb"^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\] WindowsVpnPlugin::[\x20-\x7e]*$")


class HostileInputTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.driver = d = driver.Driver(name="hostile_input")
        d.prepare()
        cls.temp = d.unix_path(d.folders()["TEMP"])
        cls.probes = cls.probe_files()
        steps = []
        for network_id in HOSTILE_IDS:
            steps += [Call("startTunnel", {"networkId": network_id, "config": driver.SAMPLE_CONFIG}),
                      Call("stopTunnel", {"networkId": network_id})]
        for label, data, _, _ in HOSTILE_BYTES:
            steps += [Raw(data, label=label), Call("isConnected")]
        steps += [Call(FORGED_METHOD), Call("isConnected"), Services(), Close()]
        made_folders = []
        try:
            for path, content in cls.probes.items():
                made_folders += cls.missing_folders(os.path.dirname(path))
                os.makedirs(os.path.dirname(path), exist_ok=True)
                with open(path, "wb") as f:
                    f.write(content)
            cls.temp_confs_before = cls.confs(cls.temp)
            # The probes planted after the clean state was made stay for the run.
            cls.outcome = d.run(steps, fresh=False)
            cls.probes_after = {path: driver.read_bytes(path) for path in cls.probes}
            cls.temp_confs_after = cls.confs(cls.temp)
            cls.raw_log = driver.read_bytes(cls.outcome.paths["debug_log"]) or b""
        finally:
            for path in cls.probes:
                if os.path.exists(path):
                    os.remove(path)
            # The folders made for probes go too, deepest first.
            for folder in sorted(made_folders, key=len, reverse=True):
                if os.path.isdir(folder) and not os.listdir(folder):
                    os.rmdir(folder)
            cls.folders_left = [folder for folder in made_folders if os.path.exists(folder)]

    @staticmethod
    def missing_folders(folder):
        """The folders that os.makedirs(folder) would create."""
        missing = []
        while folder and not os.path.exists(folder):
            missing.append(folder)
            folder = os.path.dirname(folder)
        return missing

    @classmethod
    def probe_files(cls):
        """A probe file (path and content) wherever a configuration file path formed from a
        hostile id would lead (a traversal resolved, a path cut at a NUL)
        unless that is the plain tarvex_<id>.conf in the wg directory."""
        wg = cls.driver.wg_directory_windows
        probes = {}
        for network_id in HOSTILE_IDS:
            plain = wg + "\\tarvex_" + network_id + ".conf"
            path = ntpath.normpath(plain).partition("\x00")[0]
            if path != plain:
                probes[cls.driver.unix_path(path)] = ("probe for %r\n" % network_id).encode("ascii")
        return probes

    @staticmethod
    def confs(folder):
        return sorted(name for name in os.listdir(folder) if name.lower().endswith(".conf"))

    def test_the_program_survives_and_ends_cleanly(self):
        o = self.outcome
        self.assertEqual(o.exit_code, 0, o.program_output)
        self.assertEqual(o.transcript_lines("error") + o.transcript_lines("misuse"), [])
        self.assertEqual([c.status for c in o.calls], ["reply"] * len(o.calls))
        self.assertEqual([text for _, text in o.transcript[-2:]], ["end", "viewcontroller destroyed hidden"])

    def test_hostile_ids_are_refused_with_false(self):
        calls = self.outcome.calls[:2 * len(HOSTILE_IDS)]
        for i, network_id in enumerate(HOSTILE_IDS):
            with self.subTest(network_id=network_id):
                self.assertEqual(calls[2 * i].reply, Success(False))
                self.assertEqual(calls[2 * i + 1].reply, Success(False))

    def test_hostile_ids_touch_no_file_and_run_nothing(self):
        self.assertGreaterEqual(len(self.probes), 6)
        for path, content in self.probes.items():
            with self.subTest(probe=path):
                self.assertEqual(self.probes_after[path], content)
        # Nothing new in the wg directory (the probes planted there aside),
        # and no new configuration file beside it.
        wg_probes = {os.path.basename(p) for p in self.probes if os.path.dirname(p) == self.driver.wg_directory}
        self.assertEqual(set(self.outcome.wg_files), wg_probes)
        self.assertEqual(self.temp_confs_after, self.temp_confs_before)
        # The folders made for the probes (such as tarvex_a in the wg folder) are gone again.
        self.assertEqual(self.folders_left, [])
        self.assertEqual(self.outcome.netsh_commands, [])
        self.assertEqual([w.text for w in self.outcome.wireguard], [])
        self.assertEqual([(l.error, l.services) for l in self.outcome.services], [(None, [])])

    def test_hostile_bytes_get_the_channel_layers_reply_and_the_next_call_is_answered(self):
        calls = self.outcome.calls[2 * len(HOSTILE_IDS):]
        for i, (label, _, reply, _) in enumerate(HOSTILE_BYTES):
            with self.subTest(message=label):
                self.assertEqual(calls[2 * i].reply, reply)
                if isinstance(reply, NotImplementedReply):
                    self.assertEqual(calls[2 * i].reply_bytes, b"")
                self.assertEqual(calls[2 * i + 1].reply, Success(False))
                self.assertEqual(calls[2 * i + 1].reply_bytes, b"\x00\x02")

    @staticmethod
    def expected_log():
        """The log up to the call with FORGED_METHOD."""
        expected = []
        for network_id in HOSTILE_IDS:
            expected += refused_start_lines(network_id) + refused_stop_lines(network_id)
        for _, data, _, lines in HOSTILE_BYTES:
            if lines:
                method = wire.Reader(data).value()
                expected += [P + "HandleMethodCall called: " + escaped(method)] + lines
            expected += is_connected_lines()
        return expected

    def raw_lines(self):
        lines = self.raw_log.split(b"\r\n")
        self.assertEqual(lines[-1], b"")
        return lines[:-1]

    def test_debug_log_holds_each_call_whole_with_ids_escaped(self):
        expected = self.expected_log()
        self.assertEqual(self.outcome.log_messages[:len(expected)], expected)
        # Byte for byte: one stamped line of the plugin's per message,
        # printable ASCII only (no lone CR, no NUL).
        for line in self.raw_lines()[:len(expected)]:
            self.assertRegex(line, LOG_LINE)

    def test_a_method_name_forges_no_log_line(self):
        # The dispatch line carries the method name escaped, so its line
        # break stays inside the one line; "isConnected"'s lines follow.
        rest = self.raw_lines()[len(self.expected_log()):]
        for line in rest:
            self.assertRegex(line, LOG_LINE)
        self.assertEqual(self.outcome.log_messages[len(self.expected_log()):],
                         [P + "HandleMethodCall called: " + escaped(FORGED_METHOD)] + is_connected_lines())


if __name__ == "__main__":
    unittest.main()
