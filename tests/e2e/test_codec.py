"""The Python codec's bytes against literal wire examples, so that the echo
host's byte-for-byte replies are checked against the format itself and not
only against this codec. Pure Python: no Wine, no build needed."""

import pytest

from orvalin_dev.codec import (
    ErrorResult, Float32List, Float64List, Int32List, Int64, Int64List,
    MethodCall, RawString, Success, canonical, decode_envelope,
    decode_message, decode_method_call, encode_error, encode_message,
    encode_method_call, encode_success)


@pytest.mark.parametrize("value, wire", [
    (None, "00"), (True, "01"), (False, "02"),
    (2**31 - 1, "03 ffffff7f"), (-2**31, "03 00000080"),
    (2**31, "04 0000008000000000"), (Int64(-1), "04 ffffffffffffffff"),
    (-0.0, "06 00000000000000 0000000000000080"),
    ("안", "07 03 ec9588"), (RawString(b"a\xffb"), "07 03 61ff62"),
    ("x" * 253, "07 fd" + "78" * 253), ("x" * 254, "07 fe fe00" + "78" * 254),
    (b"\x00\xff", "08 02 00ff"),
    (Int32List([1]), "09 01 0000 01000000"),
    (Int64List([-2]), "0a 01 000000000000 feffffffffffffff"),
    (Float64List([1.0]), "0b 01 000000000000 000000000000f03f"),
    (Float32List([1.0]), "0e 01 0000 0000803f"),
    ([None, True], "0c 02 00 01"),
    ({"b": None, "a": 1}, "0d 02 0701 62 00 0701 61 03 01000000"),
], ids=repr)
def test_value_bytes(value, wire):
    assert encode_message(value) == bytes.fromhex(wire)
    assert canonical(decode_message(bytes.fromhex(wire))) == canonical(value)


@pytest.mark.parametrize("encoded, wire, decode, decoded", [
    (encode_method_call("ab", 2.0), "07 02 6162 06 000000 0000000000000040",
     decode_method_call, MethodCall("ab", 2.0)),
    (encode_success(), "00 00", decode_envelope, Success(None)),
    (encode_error("abc", "", None), "01 0703 616263 00 00", decode_envelope,
     ErrorResult("abc", "", None)),
], ids=["call", "success", "error"])
def test_method_codec_bytes(encoded, wire, decode, decoded):
    assert encoded == bytes.fromhex(wire)
    assert decode(bytes.fromhex(wire)) == decoded
