"""Hostile input from the Flutter side, in one run of tarvex.exe.

Network ids that make no valid tunnel name (a double quote, blanks, path
traversals, slashes, 26 bytes, a final dot, non-ASCII, control characters,
an embedded NUL) are refused by "startTunnel" and "stopTunnel" alike with a success
reply of false: no file is written or deleted (probe files wait where a
traversal would land), no netsh and no wireguard.exe runs, and the ids reach
the debug log escaped, so no line is forged.

Bytes that are no well-formed call (a huge declared count, 100,000 nested
lists, unknown type bytes, truncated calls) are answered as the channel layer
answers them, and the next well-formed "isConnected" is answered as usual.

Then a seeded run of messages (the seed is fixed, TARVEX_HOSTILE_SEED
overrides it): well-formed calls, the same calls damaged (cut short, a type
byte changed, a huge declared count, deep nesting, trailing bytes), random
bytes, and messages on channels nobody listens to. Each gets exactly one
answer, the one wire.py's reading of it calls for, and an "isConnected"
every 100 messages answers false. No message that could create a tunnel is
sent."""

import ntpath
import os
import random
import re
import struct
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

# --- seeded traffic ---------------------------------------------------------

SEED = int(os.environ.get("TARVEX_HOSTILE_SEED", "1607"), 0)
TRAFFIC = 2000
# The channel's methods weighted over names that nearly match them.
METHODS = ["startTunnel"] * 4 + ["stopTunnel"] * 3 + ["isConnected"] * 2 + [
    "StartTunnel", "stopTunne", "isConnected ", "", "connect"]
ACCEPTED_IDS = ["fuzz", "a", "Z-9", "x.y", "k=+_", "n" * 25]
REFUSED_IDS = ["", "n" * 26, "fuzz.", "a b", "caf\u00e9", "..\\x", "a/b", "x\x00y", 'q"', "\r\n"]
TEXTS = ACCEPTED_IDS + REFUSED_IDS + ["networkId", "config", "NetworkId", "config "]
CONFIGS = ["", "x", driver.SAMPLE_CONFIG]
OTHER_CHANNELS = ["tarvex/windows_vpn2", "tarvex/windows_vp", "Tarvex/windows_vpn", "tarvex/windows_vpn/", "x"]
TYPED_LISTS = [(wire.Int32List, int), (wire.Int64List, int), (wire.Float64List, float), (wire.Float32List, float)]
# The bytes a network id may hold, as the plugin accepts them (with at most 25 of them, not ending in a dot).
TUNNEL_NAME_BYTES = frozenset(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_=+.-")
INVALID_CONFIG = Error("INVALID_CONFIG", "No config provided")
STOP_ERROR = Error("STOP_TUNNEL_ERROR", "Failed to stop tunnel: " + BAD_VARIANT)
# What a start or stop may answer when its arguments cannot be read strictly.
ANY_REPLY = {"startTunnel": [INVALID_START, INVALID_CONFIG, START_ERROR, Success(False)],
             "stopTunnel": [INVALID_STOP, STOP_ERROR, Success(False), Success(True)]}


class Layout(wire.Reader):
    """wire.py's reading of a message that also notes where each type byte
    and each size field lies. It gives up on nesting 32 deep, far deeper than
    any call made here but short of the channel's own limit, past which the
    channel reads the rest of a message as null."""

    def __init__(self, data):
        super().__init__(data)
        self.types, self.sizes, self.depth = [], [], 0

    def value(self):
        if self.depth == 32:
            raise ValueError("nested 32 deep")
        self.types.append(self.pos)
        self.depth += 1
        try:
            return super().value()
        finally:
            self.depth -= 1

    def size(self):
        self.sizes.append(self.pos)
        return super().size()


UNREADABLE = object()


def read_call(data):
    """The method name and the arguments as wire.py reads a message, UNREADABLE for what it cannot
    read. Bytes after the call are ignored and missing arguments read as null, as the channel does."""
    reader = Layout(data)
    try:
        name = reader.value()
    except (wire.Truncated, ValueError):
        return UNREADABLE, UNREADABLE
    try:
        return name, reader.value() if reader.pos < len(data) else None
    except (wire.Truncated, ValueError):
        return name, UNREADABLE


def accepted(network_id):
    data = network_id.encode("utf-8", "surrogateescape")
    return 0 < len(data) <= 25 and data[-1:] != b"." and set(data) <= TUNNEL_NAME_BYTES


def could_create_a_tunnel(data):
    """A "startTunnel" with a configuration and an id that may be accepted (any id of tunnel-name
    bytes only, of any length), or a message that might be read as one when wire.py cannot read it."""
    if b"startTunnel" not in data or b"config" not in data:
        return False  # no decoder finds that name or that key in bytes that lack them
    name, arguments = read_call(data)
    if UNREADABLE in (name, arguments):
        return True
    if name != "startTunnel" or not isinstance(arguments, dict):
        return False
    network_id, config = arguments.get("networkId", "tarvex_default"), arguments.get("config")
    return (isinstance(network_id, str) and isinstance(config, str) and config != ""
            and set(network_id.encode("utf-8", "surrogateescape")) <= TUNNEL_NAME_BYTES)


def replies_owed(data):
    """The replies a message on the plugin's channel may get: one when wire.py reads it whole."""
    name, arguments = read_call(data)
    if name not in ("startTunnel", "stopTunnel", "isConnected"):
        return [NotImplementedReply()]  # no method name, or not one of the plugin's
    if name == "isConnected":
        return [Success(False)]
    if arguments is UNREADABLE:
        return ANY_REPLY[name]
    if not isinstance(arguments, dict):
        return [INVALID_START if name == "startTunnel" else INVALID_STOP]
    network_id = arguments.get("networkId", "tarvex_default")
    if not isinstance(network_id, str):
        return [START_ERROR if name == "startTunnel" else STOP_ERROR]
    if name == "stopTunnel":
        return [Success(accepted(network_id))]  # no tunnel exists, so an accepted id is removed at once
    if "config" not in arguments:
        return [INVALID_CONFIG]
    return [Success(False) if isinstance(arguments["config"], str) else START_ERROR]


def envelope(reply):
    if isinstance(reply, NotImplementedReply):
        return b""
    if isinstance(reply, Success):
        return b"\x00" + value(reply.value)
    return b"\x01" + value(reply.code) + value(reply.message or None) + value(reply.details)


def random_text(rng):
    if rng.random() < 0.7:
        return rng.choice(TEXTS)
    return bytes(rng.getrandbits(8) for _ in range(rng.randrange(12))).decode("utf-8", "surrogateescape")


def random_value(rng, depth=0):
    kind = rng.randrange(11 if depth < 2 else 9)
    if kind < 3:
        return [None, True, False][kind]
    if kind == 3:
        return rng.randint(-2**31, 2**31 - 1)
    if kind == 4:
        return wire.Int64(rng.randint(-2**63, 2**63 - 1))
    if kind == 5:
        return rng.uniform(-1e6, 1e6)
    if kind == 6:
        return random_text(rng)
    if kind == 7:
        return bytes(rng.getrandbits(8) for _ in range(rng.randrange(5)))
    if kind == 8:
        list_type, element = rng.choice(TYPED_LISTS)
        return list_type(element(rng.randint(-9, 9)) for _ in range(rng.randrange(4)))
    if kind == 9:
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(4))]
    return {random_text(rng): random_value(rng, depth + 1) for _ in range(rng.randrange(4))}


def random_call(rng):
    """A method name, mostly the channel's, and arguments, mostly a map of "networkId" and "config"."""
    method = rng.choice(METHODS) if rng.random() < 0.9 else random_text(rng)
    if rng.random() < 0.2:
        return wire.encode_method_call(method, random_value(rng))
    entries = []
    if rng.random() < 0.8:
        entries.append(("networkId", rng.choice(ACCEPTED_IDS + REFUSED_IDS) if rng.random() < 0.9
                        else random_value(rng, 1)))
    if rng.random() < 0.8:
        entries.append(("config", rng.choice(CONFIGS) if rng.random() < 0.9 else random_value(rng, 1)))
    entries += [(random_text(rng) if rng.random() < 0.8 else rng.randint(-5, 5), random_value(rng, 1))
                for _ in range(rng.randrange(3))]
    rng.shuffle(entries)
    return wire.encode_method_call(method, dict(entries))


def damaged(rng, data):
    """The encoded call damaged one way, and how."""
    layout = Layout(data)
    try:
        layout.value()
        layout.value()
    except (wire.Truncated, ValueError):
        pass  # an empty typed list written off its alignment does not read back as written
    how = rng.randrange(5)
    if how == 0:
        return data[:rng.randrange(len(data))], "cut short"
    if how == 1:
        at = rng.choice(layout.types)
        new = (data[at] + rng.randrange(1, 15)) % 15 if rng.random() < 0.7 else rng.randrange(15, 256)
        return data[:at] + bytes([new]) + data[at + 1:], "type byte at %d made %d" % (at, new)
    if how == 2:
        at = rng.choice(layout.sizes)
        width = {254: 3, 255: 5}.get(data[at], 1)
        count = rng.choice([0xFFFFFFFF, 0x80000000, rng.randrange(0x10000, 2**32)])
        return data[:at] + b"\xff" + struct.pack("<I", count) + data[at + width:], "count %d at %d" % (count, at)
    if how == 3:
        at, depth = rng.choice(layout.types), rng.choice([40, 255, 256, 257, 3000])
        return data[:at] + b"\x0c\x01" * depth + data[at:], "%d lists around the value at %d" % (depth, at)
    return data + bytes(rng.getrandbits(8) for _ in range(rng.randrange(1, 9))), "trailing bytes"


def traffic(seed, count=TRAFFIC):
    """(channel, bytes, what it is) for each message; every 100th is a plain "isConnected"."""
    rng = random.Random(seed)
    messages = []
    while len(messages) < count:
        if len(messages) % 100 == 99:
            messages.append((driver.CHANNEL, wire.encode_method_call("isConnected"), "isConnected"))
            continue
        data, what = random_call(rng), "well-formed"
        roll = rng.random()
        if roll < 0.05:
            data, what = bytes(rng.getrandbits(8) for _ in range(rng.randrange(20))), "random bytes"
        elif roll < 0.55:
            data, what = damaged(rng, data)
        channel = rng.choice(OTHER_CHANNELS) if rng.random() < 0.1 else driver.CHANNEL
        if not could_create_a_tunnel(data):
            messages.append((channel, data, what))
    return messages


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
        steps += [Call(FORGED_METHOD), Call("isConnected")]
        cls.traffic = traffic(SEED)
        steps += [Raw(data, channel=channel, label=what) for channel, data, what in cls.traffic]
        steps += [Services(), Close()]
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
        self.assertEqual([text for _, text in o.transcript[-2:]], ["end", "viewcontroller destroyed hidden"])
        # Each message is sent once and answered once, before the next one goes.
        answers = [tuple(text.split(" ")[:2]) for _, text in o.transcript
                   if text.split(" ", 1)[0] in ("sending", "reply", "unhandled", "noreply", "latereply")]
        owed = [(word, c.channel) for c in o.calls
                for word in ("sending", "reply" if c.channel == driver.CHANNEL else "unhandled")]
        self.assertEqual(answers, owed, "seed %d" % SEED)

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

    def test_seeded_traffic_gets_the_replies_owed(self):
        calls = self.outcome.calls[-len(self.traffic):]
        wrong = []
        for i, ((channel, data, what), call) in enumerate(zip(self.traffic, calls)):
            owed = replies_owed(data) if channel == driver.CHANNEL else []
            if not (call.status == "reply" and call.reply_bytes in map(envelope, owed)
                    or call.status == "unhandled" and not owed):
                wrong.append("message %d (%s) on %s: %s\n  owed %s, got %s" % (
                    i, what, channel, data.hex() or "(empty)",
                    " or ".join(map(wire.describe_reply, owed)) or "unhandled", call.describe()))
        self.assertEqual(len(calls), TRAFFIC)
        self.assertEqual([c.reply_bytes for c in calls[99::100]], [b"\x00\x02"] * (TRAFFIC // 100))
        if wrong:
            self.fail("%d of %d messages, seed %d (TARVEX_HOSTILE_SEED=%d replays it), the first %d:\n%s"
                      % (len(wrong), TRAFFIC, SEED, SEED, min(len(wrong), 5), "\n".join(wrong[:5])))

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
        expected = [P + "HandleMethodCall called: " + escaped(FORGED_METHOD)] + is_connected_lines()
        start = len(self.expected_log())
        self.assertEqual(self.outcome.log_messages[start:start + len(expected)], expected)


if __name__ == "__main__":
    unittest.main()
