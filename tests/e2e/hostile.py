"""Hostile input: network ids that make no tunnel name, bytes that are no call, seeded traffic (README.md)."""

import contextlib
import os
import random
import struct

import driver
import wire
from expected import lines

IDS = ['office" /uninstalltunnelservice "x', "office home", "..\\..\\x", "..\\..\\..\\y", "/../../z", "a/b",
       "x" * 26, "office.", "caf\u00e9", "x\r\n[2026-12-07 12:00:00] WindowsVpnPlugin::forged", "tab\there",
       "office\x00x"]
FORGED_METHOD = "isConnected\r\nforged by a method name"


def escaped(text):  # as the log shows it: bytes outside printable ASCII and the backslash as \xNN
    return "".join(chr(b) if 0x20 <= b <= 0x7E and b != 0x5C else "\\x%02X" % b for b in text.encode("utf-8"))


BAD_VARIANT = "bad variant access"
INVALID_START = wire.error("INVALID_ARGUMENTS", "Invalid arguments for startTunnel")
INVALID_STOP = wire.error("INVALID_ARGUMENTS", "Invalid arguments for stopTunnel")
INVALID_CONFIG = wire.error("INVALID_CONFIG", "No config provided")
START_ERROR = wire.error("START_TUNNEL_ERROR", "Failed to start tunnel: " + BAD_VARIANT)
STOP_ERROR = wire.error("STOP_TUNNEL_ERROR", "Failed to stop tunnel: " + BAD_VARIANT)
# The log of a call its arguments refuse, by its reply: the dispatch, the method's first line, the refusal.
REFUSALS = {reply: lines("HandleMethodCall called: " + method, method[0].upper() + method[1:] + " called", *more)
            for reply, method, more in [
                (INVALID_START, "startTunnel", ["StartTunnel - Invalid arguments"]),
                (INVALID_CONFIG, "startTunnel", ["StartTunnel - No config provided"]),
                (START_ERROR, "startTunnel", ["StartTunnel - Exception: " + BAD_VARIANT]),
                (INVALID_STOP, "stopTunnel", []), (STOP_ERROR, "stopTunnel", ["StopTunnel - Exception: " + BAD_VARIANT])]}

value, NI = wire.encode_value, wire.NOT_IMPLEMENTED
HUGE = b"\xff\xff\xff\xff\xff"            # size field: 255, then 4,294,967,295
NESTED = b"\x0c\x01" * 100000 + b"\x00"   # 100,000 lists, each holding the next
# (what it is, bytes, the reply): the channel layer's empty reply where no method call decodes.
BYTES = [
    ("empty message", b"", NI), ("method name with a huge size", b"\x07" + HUGE + b"isConnected", NI),
    ("isConnected, arguments a list of huge count", value("isConnected") + b"\x0c" + HUGE + b"\x00", wire.FALSE),
    ("startTunnel, arguments a map of huge count", value("startTunnel") + b"\x0d" + HUGE + b"\x07\x06config",
     INVALID_START),
    ("startTunnel, config a string of huge size", value("startTunnel") + b"\x0d\x02" + value("networkId")
     + value("office") + value("config") + b"\x07" + HUGE + b"[Interface]\n", START_ERROR),
    ("100,000 nested lists as the message", NESTED, NI),
    ("startTunnel, arguments 100,000 nested lists", value("startTunnel") + NESTED, INVALID_START),
    ("unknown type byte 15", b"\x0f", NI), ("unknown type bytes 255 254 253", b"\xff\xfe\xfd", NI),
    ("stopTunnel, arguments of unknown type 42", value("stopTunnel") + b"\x2a", INVALID_STOP),
    ("startTunnel, networkId of unknown type 15", value("startTunnel") + b"\x0d\x02" + value("networkId") + b"\x0f"
     + value("config") + value(driver.SAMPLE_CONFIG), START_ERROR),
    ("truncated method name", value("isConnected")[:5], NI),
    ("startTunnel without its arguments value", value("startTunnel"), INVALID_START),
    ("startTunnel cut 10 bytes short", value("startTunnel", {"networkId": "office", "config": driver.SAMPLE_CONFIG})[:-10],
     START_ERROR)]

SEED = int(os.environ.get("TARVEX_HOSTILE_SEED", "1607"), 0)
TRAFFIC = 2000
METHODS = ["startTunnel"] * 4 + ["stopTunnel"] * 3 + ["isConnected"] * 2 + [  # over names nearly like them
    "StartTunnel", "stopTunne", "isConnected ", "", "connect"]
ACCEPTED_IDS = ["fuzz", "a", "Z-9", "x.y", "k=+_", "n" * 25]
REFUSED_IDS = ["", "n" * 26, "fuzz.", "a b", "caf\u00e9", "..\\x", "a/b", "x\x00y", 'q"', "\r\n"]
TEXTS = ACCEPTED_IDS + REFUSED_IDS + ["networkId", "config", "NetworkId", "config "]
CONFIGS = ["", "x", driver.SAMPLE_CONFIG]
OTHER_CHANNELS = ["tarvex/windows_vpn2", "tarvex/windows_vp", "Tarvex/windows_vpn", "tarvex/windows_vpn/", "x"]
TYPED_LISTS = [(9, int), (10, int), (11, float), (14, float)]
# The bytes a network id may hold, as the plugin accepts them (with at most 25 of them, not ending in a dot).
TUNNEL_NAME_BYTES = frozenset(b"abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_=+.-")
# What a start or stop may answer when its arguments cannot be read strictly.
ANY_REPLY = {"startTunnel": [INVALID_START, INVALID_CONFIG, START_ERROR, wire.FALSE],
             "stopTunnel": [INVALID_STOP, STOP_ERROR, wire.FALSE, wire.TRUE]}


UNREADABLE = object()


def read_call(data):
    """Method name and arguments as wire.py reads them (UNREADABLE where it cannot; trailing bytes ignored)."""
    reader = wire.Reader(data)
    try:
        name = reader.value()
    except ValueError:
        return UNREADABLE, UNREADABLE
    try:
        return name, reader.value() if reader.pos < len(data) else None
    except ValueError:
        return name, UNREADABLE


def could_create_a_tunnel(data):
    """A "startTunnel" with a configuration and an id of tunnel-name bytes, or what might read as one."""
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
        return [wire.NOT_IMPLEMENTED]  # no method name, or not one of the plugin's
    if name == "isConnected":
        return [wire.FALSE]
    if arguments is UNREADABLE:
        return ANY_REPLY[name]
    if not isinstance(arguments, dict):
        return [INVALID_START if name == "startTunnel" else INVALID_STOP]
    network_id = arguments.get("networkId", "tarvex_default")
    if not isinstance(network_id, str):
        return [START_ERROR if name == "startTunnel" else STOP_ERROR]
    if name == "stopTunnel":  # no tunnel exists, so an accepted id is removed at once
        data = network_id.encode("utf-8", "surrogateescape")
        return [wire.success(0 < len(data) <= 25 and data[-1:] != b"." and set(data) <= TUNNEL_NAME_BYTES)]
    if "config" not in arguments:
        return [INVALID_CONFIG]
    return [wire.FALSE if isinstance(arguments["config"], str) else START_ERROR]


def random_text(rng):
    return rng.choice(TEXTS) if rng.random() < 0.7 else bytes(
        rng.getrandbits(8) for _ in range(rng.randrange(12))).decode("utf-8", "surrogateescape")


def random_typed_list(rng):
    type_byte, element = rng.choice(TYPED_LISTS)
    return wire.TypedList(type_byte, (element(rng.randint(-9, 9)) for _ in range(rng.randrange(4))))


def random_value(rng, depth=0):
    # Lists and maps (the last two kinds) only two deep.
    return [lambda: None, lambda: True, lambda: False, lambda: rng.randint(-2**31, 2**31 - 1),
            lambda: wire.Int64(rng.randint(-2**63, 2**63 - 1)), lambda: rng.uniform(-1e6, 1e6),
            lambda: random_text(rng), lambda: bytes(rng.getrandbits(8) for _ in range(rng.randrange(5))),
            lambda: random_typed_list(rng),
            lambda: [random_value(rng, depth + 1) for _ in range(rng.randrange(4))],
            lambda: {random_text(rng): random_value(rng, depth + 1) for _ in range(rng.randrange(4))},
            ][rng.randrange(11 if depth < 2 else 9)]()


def random_call(rng):
    """A method name, mostly the channel's, and arguments, mostly a map of "networkId" and "config"."""
    method = rng.choice(METHODS) if rng.random() < 0.9 else random_text(rng)
    if rng.random() < 0.2:
        return wire.encode_value(method, random_value(rng))
    entries = []
    if rng.random() < 0.8:
        entries.append(("networkId", rng.choice(ACCEPTED_IDS + REFUSED_IDS) if rng.random() < 0.9
                        else random_value(rng, 1)))
    if rng.random() < 0.8:
        entries.append(("config", rng.choice(CONFIGS) if rng.random() < 0.9 else random_value(rng, 1)))
    entries += [(random_text(rng) if rng.random() < 0.8 else rng.randint(-5, 5), random_value(rng, 1))
                for _ in range(rng.randrange(3))]
    rng.shuffle(entries)
    return wire.encode_value(method, dict(entries))


def damaged(rng, data):
    layout = wire.Reader(data)
    with contextlib.suppress(ValueError):  # an empty typed list off its alignment does not read back as written
        layout.value(), layout.value()
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
            messages.append((driver.CHANNEL, wire.encode_value("isConnected", None), "isConnected"))
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
