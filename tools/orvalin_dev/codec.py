"""The standard message codec and the standard method codec, Dart side.

Values, as Python objects (encode accepts them, decode produces them):

    tag  wire type            Python
    0    null                 None
    1/2  bool                 True / False
    3    32-bit integer       int (encode: any int that fits)
    4    64-bit integer       Int64 (encode: Int64, or an int outside 32 bits)
    6    double               float
    5/7  string               str (RawString when the bytes are not UTF-8)
    8    byte list            bytes (bytearray and memoryview encode too)
    9    32-bit integer list  Int32List
    10   64-bit integer list  Int64List
    11   double list          Float64List
    12   list                 list (tuples encode too)
    13   map                  dict; MapEntries when Python cannot hold the keys
    14   float list           Float32List

Maps are written in the order given. The host keeps its maps sorted by key
and writes them that way; `host_sorted` gives a value whose maps are in the
host's order, for predicting the host's bytes.

Decoding is strict: reading past the end, an unknown tag or bytes left over
after the value raise DecodeError. A test peer wants to hear about every
malformed message the host sends.
"""

import functools
import struct

__all__ = [
    "DecodeError", "Int64", "RawString", "Int32List", "Int64List",
    "Float32List", "Float64List", "MapEntries", "encode_message",
    "decode_message", "decode_value_at", "encode_length", "compare_values",
    "host_sorted", "canonical", "MethodCall", "Success", "ErrorResult",
    "NOT_IMPLEMENTED", "MethodError", "MethodNotImplemented",
    "encode_method_call", "decode_method_call", "encode_success",
    "encode_error", "decode_envelope", "envelope_value",
]

INT32_MIN, INT32_MAX = -(1 << 31), (1 << 31) - 1
INT64_MIN, INT64_MAX = -(1 << 63), (1 << 63) - 1


class DecodeError(ValueError):
    """A message that is not well-formed standard-codec data."""


# --------------------------------------------------------------------------
# Value types

class Int64(int):
    """An int that travels as a 64-bit integer (tag 4).

    It is equal only to other Int64 values, so a test comparing decoded
    values tells a 64-bit 1 from a 32-bit 1 (and both from True)."""

    def __new__(cls, value):
        value = int(value)
        if not INT64_MIN <= value <= INT64_MAX:
            raise OverflowError(f"{value} does not fit in 64 bits")
        return super().__new__(cls, value)

    def __eq__(self, other):
        if isinstance(other, Int64):
            return int(self) == int(other)
        if isinstance(other, (int, float, complex)):
            return False
        return NotImplemented

    def __ne__(self, other):
        result = self.__eq__(other)
        return result if result is NotImplemented else not result

    __hash__ = int.__hash__

    def __repr__(self):
        return f"Int64({int(self)})"


class RawString:
    """A string value whose bytes are not valid UTF-8 (the wire allows any
    byte). Encodes with tag 7, exactly these bytes."""

    __slots__ = ("data",)

    def __init__(self, data):
        self.data = bytes(data)

    def __eq__(self, other):
        return isinstance(other, RawString) and other.data == self.data

    def __hash__(self):
        return hash((RawString, self.data))

    def __repr__(self):
        return f"RawString({self.data!r})"


class _TypedList(list):
    """A list of numbers with a fixed element type. Equal only to a list of
    the same class with equal elements."""

    _format = ""
    _size = 0
    _align = 0
    _tag = 0

    def __init__(self, values=()):
        super().__init__(self._check(v) for v in values)

    def _check(self, v):
        return v

    def __eq__(self, other):
        if type(other) is not type(self):
            return False
        return list.__eq__(self, other)

    def __ne__(self, other):
        return not self.__eq__(other)

    __hash__ = None

    def __repr__(self):
        return f"{type(self).__name__}({list.__repr__(self)})"


class _IntList(_TypedList):
    """Signed integers of `_size` bytes; a value out of range is refused."""

    def _check(self, v):
        v = int(v)
        bits = 8 * self._size
        if not -(1 << (bits - 1)) <= v < (1 << (bits - 1)):
            raise OverflowError(f"{v} does not fit in {bits} bits")
        return v


class Int32List(_IntList):
    _format, _size, _align, _tag = "i", 4, 4, 9


class Int64List(_IntList):
    _format, _size, _align, _tag = "q", 8, 8, 10


class Float64List(_TypedList):
    _format, _size, _align, _tag = "d", 8, 8, 11

    def _check(self, v):
        return float(v)


class Float32List(_TypedList):
    """Elements are rounded to 32-bit floats when the list is built, so what
    a test holds is exactly what travels."""

    _format, _size, _align, _tag = "f", 4, 4, 14

    def _check(self, v):
        return struct.unpack("<f", struct.pack("<f", float(v)))[0]


class MapEntries:
    """A map given as an ordered sequence of (key, value) pairs.

    Used where a dict cannot hold the map: keys Python treats as equal but
    the wire does not (True and 1, 1 and 1.0), unhashable keys (lists,
    maps), or a deliberate duplicate key in a message sent to the host.
    Decoding produces one only when a dict cannot represent the map."""

    __slots__ = ("entries",)

    def __init__(self, entries):
        if isinstance(entries, dict):
            entries = entries.items()
        self.entries = [(k, v) for k, v in entries]

    def __eq__(self, other):
        if isinstance(other, MapEntries):
            return canonical(self) == canonical(other)
        return NotImplemented

    __hash__ = None

    def __len__(self):
        return len(self.entries)

    def __repr__(self):
        return f"MapEntries({self.entries!r})"


# --------------------------------------------------------------------------
# Message codec

def encode_length(n, out):
    """Appends the length form of count n to the bytearray `out`."""
    if n < 0:
        raise ValueError("negative length")
    if n < 254:
        out.append(n)
    elif n <= 0xFFFF:
        out.append(254)
        out += struct.pack("<H", n)
    elif n <= 0xFFFFFFFF:
        out.append(255)
        out += struct.pack("<I", n)
    else:
        raise OverflowError(f"length {n} does not fit in 32 bits")


def _align(out, alignment):
    m = len(out) % alignment
    if m:
        out += bytes(alignment - m)


def _map_items(value):
    if isinstance(value, MapEntries):
        return value.entries
    return list(value.items())


def _write_value(value, out):
    # bool before int: bool is a subclass of int.
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
        if INT32_MIN <= value <= INT32_MAX:
            out.append(3)
            out += struct.pack("<i", value)
        elif INT64_MIN <= value <= INT64_MAX:
            out.append(4)
            out += struct.pack("<q", value)
        else:
            raise OverflowError(f"{value} does not fit in 64 bits")
    elif isinstance(value, float):
        out.append(6)
        _align(out, 8)
        out += struct.pack("<d", value)
    elif isinstance(value, str):
        data = value.encode("utf-8")
        out.append(7)
        encode_length(len(data), out)
        out += data
    elif isinstance(value, RawString):
        out.append(7)
        encode_length(len(value.data), out)
        out += value.data
    elif isinstance(value, (bytes, bytearray, memoryview)):
        data = bytes(value)
        out.append(8)
        encode_length(len(data), out)
        out += data
    elif isinstance(value, _TypedList):
        out.append(value._tag)
        encode_length(len(value), out)
        _align(out, value._align)
        out += struct.pack(f"<{len(value)}{value._format}", *value)
    elif isinstance(value, (list, tuple)):
        out.append(12)
        encode_length(len(value), out)
        for element in value:
            _write_value(element, out)
    elif isinstance(value, (dict, MapEntries)):
        items = _map_items(value)
        out.append(13)
        encode_length(len(items), out)
        for k, v in items:
            _write_value(k, out)
            _write_value(v, out)
    else:
        raise TypeError(f"no standard-codec form for {type(value).__name__}")


def encode_message(value, prefix=b""):
    """Encodes one value as a message. With `prefix`, the value is written
    after those bytes (alignment counts them) and the whole is returned."""
    out = bytearray(prefix)
    _write_value(value, out)
    return bytes(out)


class _Reader:
    __slots__ = ("data", "pos")

    def __init__(self, data, pos=0):
        self.data = memoryview(bytes(data))
        self.pos = pos

    def take(self, n, what):
        if self.pos + n > len(self.data):
            raise DecodeError(
                f"{what}: needs {n} bytes at offset {self.pos}, "
                f"message has {len(self.data)}")
        chunk = self.data[self.pos:self.pos + n]
        self.pos += n
        return chunk

    def byte(self, what):
        return self.take(1, what)[0]

    def align(self, alignment):
        m = self.pos % alignment
        if m:
            self.take(alignment - m, "alignment padding")

    def length(self):
        b = self.byte("length")
        if b < 254:
            return b
        if b == 254:
            return struct.unpack("<H", self.take(2, "16-bit length"))[0]
        return struct.unpack("<I", self.take(4, "32-bit length"))[0]


_TYPED = {9: Int32List, 10: Int64List, 11: Float64List, 14: Float32List}


def _read_value(r):
    start = r.pos
    tag = r.byte("tag")
    if tag == 0:
        return None
    if tag == 1:
        return True
    if tag == 2:
        return False
    if tag == 3:
        return struct.unpack("<i", r.take(4, "32-bit integer"))[0]
    if tag == 4:
        return Int64(struct.unpack("<q", r.take(8, "64-bit integer"))[0])
    if tag == 6:
        r.align(8)
        return struct.unpack("<d", r.take(8, "double"))[0]
    if tag in (5, 7):
        data = bytes(r.take(r.length(), "string bytes"))
        try:
            return data.decode("utf-8")
        except UnicodeDecodeError:
            return RawString(data)
    if tag == 8:
        return bytes(r.take(r.length(), "byte list"))
    if tag in _TYPED:
        cls = _TYPED[tag]
        n = r.length()
        r.align(cls._align)
        raw = r.take(n * cls._size, cls.__name__)
        result = cls()
        list.extend(result, struct.unpack(f"<{n}{cls._format}", raw))
        return result
    if tag == 12:
        n = r.length()
        if n > len(r.data) - r.pos:
            raise DecodeError(f"list of {n} elements at offset {start} "
                              "is longer than the message")
        return [_read_value(r) for _ in range(n)]
    if tag == 13:
        n = r.length()
        if 2 * n > len(r.data) - r.pos:
            raise DecodeError(f"map of {n} entries at offset {start} "
                              "is longer than the message")
        entries = [(_read_value(r), _read_value(r)) for _ in range(n)]
        return _build_map(entries)
    raise DecodeError(f"unknown tag {tag} at offset {start}")


def _build_map(entries):
    """A dict when Python can hold the keys exactly as the wire tells them
    apart, else MapEntries. Later duplicates of a key are dropped, as the
    host does."""
    kept = []
    seen = set()
    for k, v in entries:
        key = canonical(k)
        if key in seen:
            continue
        seen.add(key)
        kept.append((k, v))
    try:
        as_dict = dict(kept)
    except TypeError:  # unhashable key
        return MapEntries(kept)
    if len(as_dict) != len(kept):  # e.g. True and 1, or 1 and 1.0
        return MapEntries(kept)
    return as_dict


def decode_value_at(data, offset=0):
    """Decodes one value starting at `offset` of the message `data` (so
    alignment is measured from the message start). Returns (value, end)."""
    r = _Reader(data, offset)
    value = _read_value(r)
    return value, r.pos


def decode_message(data):
    """Decodes a message holding exactly one value."""
    value, end = decode_value_at(data, 0)
    if end != len(data):
        raise DecodeError(f"{len(data) - end} bytes left after the value")
    return value


# --------------------------------------------------------------------------
# Equality and the host's ordering

def canonical(value):
    """A hashable form that tells apart everything the wire tells apart
    (int32, int64, bool and double; typed list kinds; NaN bit patterns; map
    order): the value's own bytes."""
    return encode_message(value)


# Index of each wire type in the host's value model; it decides the order
# between values of different kinds.
_INDEX_OF_TAG = {0: 0, 1: 1, 2: 1, 3: 2, 4: 3, 6: 4, 7: 5, 8: 6, 9: 7,
                 10: 8, 11: 9, 12: 10, 13: 11, 14: 13}


def _cmp(a, b):
    return (a > b) - (a < b)


def _cmp_seq(xs, ys, element_cmp):
    for x, y in zip(xs, ys):
        c = element_cmp(x, y)
        if c:
            return c
    return _cmp(len(xs), len(ys))


def _utf8(value):
    if isinstance(value, str):
        return value.encode("utf-8")
    return value.data if isinstance(value, RawString) else bytes(value)


def compare_values(a, b):
    """-1, 0 or 1: the host's ordering of map keys (0: equivalent keys)."""
    tag, tag_b = canonical(a)[0], canonical(b)[0]
    ia, ib = _INDEX_OF_TAG[tag], _INDEX_OF_TAG[tag_b]
    if ia != ib:
        return _cmp(ia, ib)
    if tag == 0:
        return 0
    if tag in (1, 2):
        return _cmp(a is True, b is True)
    if tag in (3, 4, 6):
        return _cmp(a, b)  # a NaN is neither less nor greater
    if tag in (7, 8):
        return _cmp(_utf8(a), _utf8(b))  # unsigned bytes, prefix first
    if tag in (9, 10, 11, 14):
        return _cmp_seq(list(a), list(b), _cmp)
    if tag == 12:
        return _cmp_seq(list(a), list(b), compare_values)
    if tag == 13:
        def entry_cmp(x, y):
            return compare_values(x[0], y[0]) or compare_values(x[1], y[1])
        return _cmp_seq(_host_map_items(a), _host_map_items(b), entry_cmp)
    raise AssertionError(tag)


def _host_map_items(value):
    """The entries as the host holds them: first of equivalent keys kept,
    sorted by key."""
    kept = []
    for k, v in _map_items(value):
        if not any(compare_values(k, k2) == 0 for k2, _ in kept):
            kept.append((k, v))
    by_key = functools.cmp_to_key(lambda x, y: compare_values(x[0], y[0]))
    return sorted(kept, key=by_key)


def host_sorted(value):
    """The value as the host would write it back: every map (nested ones too)
    sorted by key in the host's order, duplicate keys dropped (first wins).
    Maps come back as MapEntries, which encode in their given order."""
    if isinstance(value, (dict, MapEntries)):
        return MapEntries([(host_sorted(k), host_sorted(v))
                           for k, v in _host_map_items(value)])
    if isinstance(value, (list, tuple)) and not isinstance(value, _TypedList):
        return [host_sorted(v) for v in value]
    return value


# --------------------------------------------------------------------------
# Method codec

class MethodCall:
    __slots__ = ("method", "arguments")

    def __init__(self, method, arguments=None):
        self.method = method
        self.arguments = arguments

    def __eq__(self, other):
        return (isinstance(other, MethodCall) and other.method == self.method
                and canonical(other.arguments) == canonical(self.arguments))

    __hash__ = None

    def __repr__(self):
        return f"MethodCall({self.method!r}, {self.arguments!r})"


class Success:
    __slots__ = ("value",)

    def __init__(self, value=None):
        self.value = value

    def __eq__(self, other):
        return (isinstance(other, Success)
                and canonical(other.value) == canonical(self.value))

    __hash__ = None

    def __repr__(self):
        return f"Success({self.value!r})"


class ErrorResult:
    __slots__ = ("code", "message", "details")

    def __init__(self, code, message="", details=None):
        self.code = code
        self.message = message
        self.details = details

    def __eq__(self, other):
        return (isinstance(other, ErrorResult) and other.code == self.code
                and other.message == self.message
                and canonical(other.details) == canonical(self.details))

    __hash__ = None

    def __repr__(self):
        return f"ErrorResult({self.code!r}, {self.message!r}, {self.details!r})"


class _NotImplementedResult:
    def __repr__(self):
        return "NOT_IMPLEMENTED"


NOT_IMPLEMENTED = _NotImplementedResult()


class MethodError(Exception):
    """The host answered a call with an error envelope."""

    def __init__(self, code, message="", details=None):
        super().__init__(f"{code}: {message}"
                         + ("" if details is None else f" ({details!r})"))
        self.code = code
        self.message = message
        self.details = details


class MethodNotImplemented(Exception):
    """The host answered a call with the empty (not-implemented) reply."""


def encode_method_call(method, arguments=None):
    out = bytearray()
    _write_value(method if isinstance(method, RawString) else str(method), out)
    _write_value(arguments, out)
    return bytes(out)


def decode_method_call(data):
    """A call: the method name (a string) then exactly one arguments value."""
    r = _Reader(data)
    name = _read_value(r)
    if not isinstance(name, (str, RawString)):
        raise DecodeError(f"method name is not a string: {name!r}")
    arguments = _read_value(r)
    if r.pos != len(r.data):
        raise DecodeError(f"{len(r.data) - r.pos} bytes left after the call")
    return MethodCall(name, arguments)


def encode_success(value=None):
    return encode_message(value, prefix=b"\x00")


def encode_error(code, message="", details=None):
    out = bytearray(b"\x01")
    _write_value(code, out)
    _write_value(message if message else None, out)
    _write_value(details, out)
    return bytes(out)


def decode_envelope(data):
    """Success(value), ErrorResult(code, message, details) or
    NOT_IMPLEMENTED (the empty reply). A null error message reads as ""."""
    if len(data) == 0:
        return NOT_IMPLEMENTED
    r = _Reader(data)
    kind = r.byte("envelope kind")
    if kind == 0:
        result = Success(_read_value(r))
    elif kind == 1:
        code = _read_value(r)
        message = _read_value(r)
        details = _read_value(r)
        if not isinstance(code, str):
            raise DecodeError(f"error code is not a string: {code!r}")
        if message is not None and not isinstance(message, str):
            raise DecodeError(f"error message is not a string: {message!r}")
        result = ErrorResult(code, message or "", details)
    else:
        raise DecodeError(f"unknown envelope kind {kind}")
    if r.pos != len(r.data):
        raise DecodeError(f"{len(r.data) - r.pos} bytes left after the envelope")
    return result


def envelope_value(data):
    """The success value of a reply; raises MethodError for an error
    envelope and MethodNotImplemented for the empty reply."""
    result = decode_envelope(data)
    if result is NOT_IMPLEMENTED:
        raise MethodNotImplemented()
    if isinstance(result, ErrorResult):
        raise MethodError(result.code, result.message, result.details)
    return result.value
