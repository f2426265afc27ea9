"""The channel's standard message and method codecs, written from the wire format alone (no code
shared with the C++ codec, so a fault in one is not mirrored in the other). Values: None, bool, int
(32-bit when it fits), Int64, float, str, bytes, list, dict, TypedList; replies are compared as bytes."""

import contextlib
import json
import struct


class Int64(int):  # travels as 64 bits even when it is small
    pass

class TypedList(list):
    def __init__(self, type_byte, values=()):
        super().__init__(values)
        self.type_byte = type_byte


TYPED = {9: (4, "<i"), 10: (8, "<q"), 11: (8, "<d"), 14: (4, "<f")}


def _size(size):
    return bytes([size]) if size < 254 else b"\xfe" + struct.pack("<H", size) if size <= 0xFFFF else \
        b"\xff" + struct.pack("<I", size & 0xFFFFFFFF)


def write_value(out, value):
    if value is None or isinstance(value, bool):
        out.append(0 if value is None else 1 if value else 2)
    elif isinstance(value, int):
        small = not isinstance(value, Int64) and -(2**31) <= value < 2**31
        out += b"\x03" + struct.pack("<i", value) if small else b"\x04" + struct.pack("<q", value)
    elif isinstance(value, float):
        out += b"\x06" + bytes(-(len(out) + 1) % 8) + struct.pack("<d", value)
    elif isinstance(value, (str, bytes)):
        data = value.encode("utf-8", "surrogateescape") if isinstance(value, str) else value
        out += (b"\x07" if isinstance(value, str) else b"\x08") + _size(len(data)) + data
    elif isinstance(value, TypedList):
        width, fmt = TYPED[value.type_byte]
        out += bytes([value.type_byte]) + _size(len(value))
        if value:
            out += bytes(-len(out) % width) + b"".join(struct.pack(fmt, element) for element in value)
    elif isinstance(value, (list, dict)):
        out += (b"\x0c" if isinstance(value, list) else b"\x0d") + _size(len(value))
        for item in value.items() if isinstance(value, dict) else [(element,) for element in value]:
            for element in item:
                write_value(out, element)
    else:
        raise TypeError("no wire form for %r" % (value,))


def encode_value(*values):
    out = bytearray()
    for value in values:
        write_value(out, value)
    return bytes(out)


def success(value):
    return b"\x00" + encode_value(value)


def error(code, message, details=None):
    return b"\x01" + encode_value(code) + encode_value(message) + encode_value(details)


TRUE, FALSE, NOT_IMPLEMENTED = success(True), success(False), b""


class Reader:
    """Notes where each type byte and size field lies; gives up 32 deep, short of the channel's own limit (past
    which it reads the rest as null) and far deeper than any call the suites make."""

    def __init__(self, data):
        self.data, self.pos, self.types, self.sizes = bytes(data), 0, [], []

    def take(self, count):
        if self.pos + count > len(self.data):
            raise ValueError("truncated: needs %d bytes at %d of %d" % (count, self.pos, len(self.data)))
        self.pos += count
        return self.data[self.pos - count:self.pos]

    def size(self):
        self.sizes.append(self.pos)
        first = self.take(1)[0]
        return first if first < 254 else struct.unpack("<H" if first == 254 else "<I",
                                                       self.take(2 if first == 254 else 4))[0]

    def value(self, depth=0):
        if depth == 32:
            raise ValueError("nested 32 deep")
        self.types.append(self.pos)
        type_byte = self.take(1)[0]
        if type_byte <= 2:
            return [None, True, False][type_byte]
        if type_byte in (3, 4):
            number = struct.unpack("<i" if type_byte == 3 else "<q", self.take(4 if type_byte == 3 else 8))[0]
            return number if type_byte == 3 else Int64(number)
        if type_byte == 6:
            self.pos += (-self.pos) % 8
            return struct.unpack("<d", self.take(8))[0]
        if type_byte in (5, 7, 8):
            data = self.take(self.size())
            return data if type_byte == 8 else data.decode("utf-8", "surrogateescape")
        if type_byte in TYPED:
            (width, fmt), count = TYPED[type_byte], self.size()
            self.pos += (-self.pos) % width
            return TypedList(type_byte, (struct.unpack(fmt, self.take(width))[0] for _ in range(count)))
        if type_byte == 12:
            return [self.value(depth + 1) for _ in range(self.size())]
        if type_byte == 13:  # the first occurrence of a key wins, as in the channel's decoder
            result = {}
            for _ in range(self.size()):
                key = self.value(depth + 1)
                result.setdefault(repr(key) if isinstance(key, (list, dict)) else key, self.value(depth + 1))
            return result
        raise ValueError("unknown type byte %d at %d" % (type_byte, self.pos - 1))


def describe(value):
    """A short readable form of a decoded value (long strings cut); a reply's below."""
    if isinstance(value, dict):
        return "{" + ", ".join("%s: %s" % (describe(k), describe(v)) for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(map(describe, value)) + "]"
    if isinstance(value, str) and len(value) > 40:
        value = value[:37] + "..."
    return json.dumps(value) if isinstance(value, (str, bool, type(None))) else repr(value)


UNDECODABLE = "undecodable reply: hex "


def describe_reply(data):
    if not data:
        return "not implemented (empty reply)"
    reader = Reader(data)
    reader.pos = 1  # padding counts from the envelope's first byte
    with contextlib.suppress(ValueError):
        if data[0] in (0, 1):
            return "success " + describe(reader.value()) if data[0] == 0 else "error " + " ".join(
                describe(reader.value()) for _ in range(3))
    return UNDECODABLE + data.hex()
