"""The Dart side's own codec against the wire format's byte examples and
boundaries. Pure Python: no Wine, no build needed. (test_echo_host.py
checks the host's codec against this one.)"""

import struct

import pytest

from orvalin_dev.codec import (
    NOT_IMPLEMENTED, DecodeError, ErrorResult, Float32List, Float64List,
    Int32List, Int64, Int64List, MapEntries, MethodCall, MethodError,
    MethodNotImplemented, RawString, Success, canonical, compare_values,
    decode_envelope, decode_message, decode_method_call, decode_value_at,
    encode_error, encode_length, encode_message, encode_method_call,
    encode_success, envelope_value, host_sorted)


def h(text):
    return bytes.fromhex(text)


NAN = struct.unpack("<d", h("0100000000f8ff7f"))[0]


@pytest.mark.parametrize("value, wire", [
    (None, "00"), (True, "01"), (False, "02"),
    (7, "03 07000000"), (-2, "03 feffffff"),
    (2**31 - 1, "03 ffffff7f"), (-2**31, "03 00000080"),
    (2**31, "04 0000008000000000"), (-2**31 - 1, "04 ffffff7fffffffff"),
    (Int64(-1), "04 ffffffffffffffff"), (Int64(7), "04 0700000000000000"),
    (1.0, "06 00000000000000 000000000000f03f"),
    (-0.0, "06 00000000000000 0000000000000080"),
    (NAN, "06 00000000000000 0100000000f8ff7f"),
    ("", "07 00"), ("abc", "07 03 616263"), ("안", "07 03 ec9588"),
    (RawString(b"a\xffb"), "07 03 61ff62"),
    ("x" * 253, "07 fd" + "78" * 253), ("x" * 254, "07 fe fe00" + "78" * 254),
    (b"", "08 00"), (b"\x00\xff", "08 02 00ff"),
    (Int32List(), "09 00 0000"), (Int32List([1]), "09 01 0000 01000000"),
    (Int64List(), "0a 00 000000000000"),
    (Int64List([-2]), "0a 01 000000000000 feffffffffffffff"),
    (Float64List(), "0b 00 000000000000"),
    (Float64List([1.0]), "0b 01 000000000000 000000000000f03f"),
    (Float32List(), "0e 00 0000"), (Float32List([1.0]), "0e 01 0000 0000803f"),
    ([], "0c 00"), ([None, True], "0c 02 00 01"),
    ({}, "0d 00"), ({"a": 1}, "0d 01 07 01 61 03 01000000"),
    # maps are written in the order given
    ({"b": None, "a": None}, "0d 02 0701 62 00 0701 61 00"),
])
def test_value_encodes_to_its_bytes_and_back(value, wire):
    assert encode_message(value) == h(wire)
    assert canonical(decode_message(h(wire))) == canonical(value)


@pytest.mark.parametrize("wire, value", [
    ("05 03 616263", "abc"),                      # tag 5 is a string too
    ("05 fe 0100 7a", "z"),
    ("07 fe 0300 616263", "abc"),                 # non-minimal lengths
    ("07 ff 03000000 616263", "abc"),
    ("0c ff 02000000 00 01", [None, True]),
    ("0d 02 0701 61 03 01000000 0701 61 03 02000000", {"a": 1}),  # first wins
])
def test_decodes_every_form_the_format_allows(wire, value):
    assert canonical(decode_message(h(wire))) == canonical(value)


@pytest.mark.parametrize("n, wire", [
    (0, "00"), (253, "fd"), (254, "fefe00"), (65535, "feffff"),
    (65536, "ff00000100"), (2**32 - 1, "ffffffffff")])
def test_length_forms(n, wire):
    out = bytearray()
    encode_length(n, out)
    assert bytes(out) == h(wire)
    if n <= 70000:
        assert decode_message(encode_message(b"q" * n)) == b"q" * n


def test_widths_and_ranges_are_kept():
    decoded = decode_message(encode_message(Int64(1)))
    assert type(decoded) is Int64 and decoded == Int64(1)
    assert decoded != 1 and 1 != decoded and decoded != True  # noqa: E712
    with pytest.raises(OverflowError):
        Int32List([2**31])
    for make in (encode_message, Int64, lambda v: Int64List([v])):
        with pytest.raises(OverflowError):
            make(2**63)
    with pytest.raises(TypeError):
        encode_message(object())
    # Float32List rounds when built, so what a test holds is what travels.
    assert Float32List([0.1])[0] == struct.unpack("<f", struct.pack("<f", 0.1))[0]
    kinds = [Int32List([1]), Int64List([1]), Float32List([1]),
             Float64List([1]), [1], b"\x01"]
    for k in kinds:
        back = decode_message(encode_message(k))
        assert type(back) is type(k) and back == k
        assert [k2 == k for k2 in kinds].count(True) == 1


@pytest.mark.parametrize("prefix_len", range(9))
def test_alignment_counts_from_message_start(prefix_len):
    prefix = bytes([0xAA] * prefix_len)
    for value, align, size in ((Int32List([-1, 2]), 4, 4),
                               (Float32List([0.5, -2.0]), 4, 4),
                               (Int64List([-1, 2**40]), 8, 8),
                               (Float64List([0.25, -1e300]), 8, 8)):
        wire = encode_message(value, prefix=prefix)
        count_end = prefix_len + 2  # tag, one-byte length
        start = -(-count_end // align) * align
        assert wire[count_end:start] == bytes(start - count_end)
        assert len(wire) == start + size * len(value)
        decoded, end = decode_value_at(wire, prefix_len)
        assert decoded == value and end == len(wire)
    # a double inside containers, after a prefix, starts on a multiple of 8
    wire = encode_message({"x": [1.5, "안"]}, prefix=prefix)
    assert wire.index(struct.pack("<d", 1.5)) % 8 == 0


def test_maps_python_cannot_hold_as_dicts_round_trip():
    value = MapEntries([(True, "t"), (1, "i"), (1.0, "d"), (Int64(1), "l"),
                        ([1, 2], "list"), ({"k": 1}, "map")])
    wire = encode_message(value)
    decoded = decode_message(wire)
    assert isinstance(decoded, MapEntries) and len(decoded.entries) == 6
    assert encode_message(decoded) == wire


def test_host_orders_kinds_by_index():
    ordered = [None, False, True, -5, 9, Int64(-9), -1.0, "", "a", b"",
               Int32List(), Int64List(), Float64List(), [], {},
               Float32List()]
    for a, b in zip(ordered, ordered[1:]):
        assert (compare_values(a, b), compare_values(b, a)) == (-1, 1), (a, b)


@pytest.mark.parametrize("a, b", [
    ("B", "a"), ("ab", "abc"), ("z", "\u00e9"),  # UTF-8 bytes, unsigned
    (b"\x01\x00", b"\xff"), ([1, 2], [1, 2, 0]),
    (Int32List([-1]), Int32List([0])), (1, Int64(1))])
def test_host_orders_within_a_kind(a, b):
    assert (compare_values(a, b), compare_values(b, a)) == (-1, 1)


def test_host_sorted_sorts_nested_maps_and_drops_duplicates():
    value = MapEntries([("z", {"y": 1, "x": 2}), ("a", 0), ("z", 9)])
    assert encode_message(host_sorted(value)) == encode_message(
        MapEntries([("a", 0), ("z", MapEntries([("x", 2), ("y", 1)]))]))


@pytest.mark.parametrize("wire", [
    "", "03 0100", "04 01", "06 00", "07 05 6162", "09 02 0000 01000000",
    "0c 03 00", "0d 01 00", "08 ff ffffffff 00",
    "0c ff ffffffff", "0d ff ffffffff", "0a ff ffffffff", "07 ff ffffffff",
    "0f", "10", "ff", "00 00"])
def test_malformed_messages_are_refused(wire):
    with pytest.raises(DecodeError):
        decode_message(h(wire))


URL = "orvalinai://login-callback?code=1"


@pytest.mark.parametrize("call, wire", [
    (MethodCall("authCallback", URL),
     "07 0c" + b"authCallback".hex() + f"07 {len(URL):02x}" + URL.encode().hex()),
    (MethodCall("quit"), "07 04" + b"quit".hex() + "00"),
    (MethodCall("ab", 2.0), "07 02 6162 06 000000 0000000000000040"),
])
def test_method_calls(call, wire):
    assert encode_method_call(call.method, call.arguments) == h(wire)
    assert decode_method_call(h(wire)) == call


@pytest.mark.parametrize("wire", ["03 01000000 00", "07 01 61", "07 01 61 00 00"])
def test_malformed_method_calls(wire):
    with pytest.raises(DecodeError):
        decode_method_call(h(wire))


@pytest.mark.parametrize("wire, result", [
    (encode_success(), Success(None)), (encode_success(True), Success(True)),
    (h("00 0c 00"), Success([])),
    (encode_success(1.0), Success(1.0)),
    (h("01 07 03") + b"abc" + h("00 00"), ErrorResult("abc", "", None)),
    (b"", NOT_IMPLEMENTED)])
def test_envelopes(wire, result):
    assert decode_envelope(wire) == result


def test_envelope_bytes_and_values():
    assert encode_success() == h("00 00")
    assert encode_success(1.0) == h("00 06 000000000000 000000000000f03f")
    assert encode_error("abc", "") == h("01 07 03") + b"abc" + h("00 00")
    assert envelope_value(encode_success(1.0)) == 1.0
    wire = encode_error("bad_args", "no key", {"k": Int64(3)})
    assert decode_envelope(wire) == ErrorResult("bad_args", "no key",
                                                {"k": Int64(3)})
    with pytest.raises(MethodError) as caught:
        envelope_value(wire)
    assert (caught.value.code, caught.value.message, caught.value.details) \
        == ("bad_args", "no key", {"k": Int64(3)})
    with pytest.raises(MethodNotImplemented):
        envelope_value(b"")


@pytest.mark.parametrize("wire", ["02", "ff 00", "01 03 01000000 00 00",
                                  "01 0701 61 01 00", "00", "00 00 00"])
def test_malformed_envelopes(wire):
    with pytest.raises(DecodeError):
        decode_envelope(h(wire))
