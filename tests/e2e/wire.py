"""The standard message and method codecs of the channel, written for the
end-to-end driver from the wire format alone: it shares no code with the
C++ codec, so a fault in one is not mirrored in the other.

Values map to Python as: None, bool, int (32-bit when it fits, else 64-bit),
float, str (UTF-8), bytes (byte list), list, dict, and the typed lists
Int32List, Int64List, Float64List, Float32List.
"""

import struct


class Int32List(list):
    pass


class Int64List(list):
    pass


class Float64List(list):
    pass


class Float32List(list):
    pass


class Int64(int):
    """An integer that travels as a 64-bit integer even when it is small."""


_TYPED_LISTS = (
    (Int32List, 9, 4, "<i"),
    (Int64List, 10, 8, "<q"),
    (Float64List, 11, 8, "<d"),
    (Float32List, 14, 4, "<f"),
)


def _write_size(out, size):
    if size < 254:
        out.append(size)
    elif size <= 0xFFFF:
        out.append(254)
        out += struct.pack("<H", size)
    else:
        out.append(255)
        out += struct.pack("<I", size & 0xFFFFFFFF)


def _align(out, n):
    out += bytes((-len(out)) % n)


def write_value(out, value):
    """Appends `value` to the bytearray `out` (padding counts from its start)."""
    if value is None:
        out.append(0)
    elif value is True:
        out.append(1)
    elif value is False:
        out.append(2)
    elif isinstance(value, Int64):
        out.append(4)
        out += struct.pack("<q", value)
    elif isinstance(value, int):
        if -(2**31) <= value < 2**31:
            out.append(3)
            out += struct.pack("<i", value)
        else:
            out.append(4)
            out += struct.pack("<q", value)
    elif isinstance(value, float):
        out.append(6)
        _align(out, 8)
        out += struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode("utf-8", "surrogateescape")
        out.append(7)
        _write_size(out, len(data))
        out += data
    elif isinstance(value, (bytes, bytearray)):
        out.append(8)
        _write_size(out, len(value))
        out += value
    elif isinstance(value, (Int32List, Int64List, Float64List, Float32List)):
        for kind, type_byte, width, fmt in _TYPED_LISTS:
            if isinstance(value, kind):
                out.append(type_byte)
                _write_size(out, len(value))
                if value:
                    _align(out, width)
                    for element in value:
                        out += struct.pack(fmt, element)
                break
    elif isinstance(value, list):
        out.append(12)
        _write_size(out, len(value))
        for element in value:
            write_value(out, element)
    elif isinstance(value, dict):
        out.append(13)
        _write_size(out, len(value))
        for key, element in value.items():
            write_value(out, key)
            write_value(out, element)
    else:
        raise TypeError("no wire form for %r" % (value,))


def encode_value(value):
    out = bytearray()
    write_value(out, value)
    return bytes(out)


def encode_method_call(method, arguments=None):
    """The method name as a string value, then the arguments (null when None)."""
    out = bytearray()
    write_value(out, method)
    write_value(out, arguments)
    return bytes(out)


class Truncated(Exception):
    pass


class Reader:
    def __init__(self, data):
        self.data = bytes(data)
        self.pos = 0

    def take(self, count):
        if self.pos + count > len(self.data):
            raise Truncated("needs %d bytes at %d of %d" % (count, self.pos, len(self.data)))
        chunk = self.data[self.pos:self.pos + count]
        self.pos += count
        return chunk

    def align(self, n):
        self.pos += (-self.pos) % n

    def size(self):
        first = self.take(1)[0]
        if first < 254:
            return first
        if first == 254:
            return struct.unpack("<H", self.take(2))[0]
        return struct.unpack("<I", self.take(4))[0]

    def value(self):
        type_byte = self.take(1)[0]
        if type_byte == 0:
            return None
        if type_byte in (1, 2):
            return type_byte == 1
        if type_byte == 3:
            return struct.unpack("<i", self.take(4))[0]
        if type_byte == 4:
            return Int64(struct.unpack("<q", self.take(8))[0])
        if type_byte == 6:
            self.align(8)
            return struct.unpack("<d", self.take(8))[0]
        if type_byte in (5, 7):
            return self.take(self.size()).decode("utf-8", "surrogateescape")
        if type_byte == 8:
            return self.take(self.size())
        for kind, typed_byte, width, fmt in _TYPED_LISTS:
            if type_byte == typed_byte:
                count = self.size()
                self.align(width)
                return kind(struct.unpack(fmt, self.take(width))[0] for _ in range(count))
        if type_byte == 12:
            return [self.value() for _ in range(self.size())]
        if type_byte == 13:
            result = {}
            for _ in range(self.size()):
                key = self.value()
                element = self.value()
                result.setdefault(_hashable(key), element)
            return result
        raise ValueError("unknown type byte %d at %d" % (type_byte, self.pos - 1))


def _hashable(key):
    if isinstance(key, list):
        return tuple(_hashable(k) for k in key)
    if isinstance(key, dict):
        return tuple(sorted((_hashable(k), repr(v)) for k, v in key.items()))
    return key


def decode_value(data):
    return Reader(data).value()


class Success:
    def __init__(self, value):
        self.value = value

    def __eq__(self, other):
        return isinstance(other, Success) and _same(self.value, other.value)

    def __repr__(self):
        return "Success(%r)" % (self.value,)


class Error:
    def __init__(self, code, message, details=None):
        self.code, self.message, self.details = code, message, details

    def __eq__(self, other):
        return (isinstance(other, Error) and (self.code, self.message) == (other.code, other.message)
                and _same(self.details, other.details))

    def __repr__(self):
        return "Error(%r, %r, %r)" % (self.code, self.message, self.details)


class NotImplementedReply:
    def __eq__(self, other):
        return isinstance(other, NotImplementedReply)

    def __repr__(self):
        return "NotImplemented"


def _same(a, b):
    return type(a) is type(b) and a == b if isinstance(a, bool) or isinstance(b, bool) else a == b


def decode_envelope(data):
    """A reply: Success, Error, or NotImplementedReply for an empty reply."""
    if len(data) == 0:
        return NotImplementedReply()
    reader = Reader(data)
    flag = reader.take(1)[0]
    if flag == 0:
        return Success(reader.value())
    if flag == 1:
        code = reader.value()
        message = reader.value()
        details = reader.value()
        return Error(code, "" if message is None else message, details)
    raise ValueError("envelope flag %d" % flag)


def describe(value):
    """A short readable form of a decoded value, for people."""
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, str):
        return '"%s"' % value.encode("unicode_escape").decode("ascii").replace('"', '\\"')
    if isinstance(value, bytes):
        return "bytes[%d]" % len(value)
    if isinstance(value, dict):
        return "{" + ", ".join("%s: %s" % (describe(k), describe(v)) for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ", ".join(describe(v) for v in value) + "]"
    return repr(value)


def describe_reply(reply):
    if isinstance(reply, Success):
        return "success " + describe(reply.value)
    if isinstance(reply, Error):
        return "error %s %s%s" % (describe(reply.code), describe(reply.message),
                                  "" if reply.details is None else " " + describe(reply.details))
    return "not implemented (empty reply)"
