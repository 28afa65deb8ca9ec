"""The client layer end to end: echo_host.exe (hosts/echo_host.cc) decodes
and re-encodes on "orvalin.test/echo", so a reply equal byte for byte to
ours (maps in host order: `host_sorted`) checks both codec directions."""

import math
import struct

import pytest

from orvalin_dev.codec import (
    Float32List, Float64List, Int32List, Int64, Int64List, MapEntries,
    canonical, decode_envelope, encode_error, encode_message,
    encode_method_call, encode_success, host_sorted)

CHANNEL = "orvalin.test/echo"
ECHO_CALL = encode_method_call("echo")[:-1]  # the arguments value follows
NAN = struct.unpack("<d", bytes.fromhex("0100000000f8ff7f"))[0]  # a payload


@pytest.fixture(scope="module")
def echo_process(module_launch):
    """One echo host shared by the module's round trips."""
    host = module_launch("echo_host.exe")
    host.dart.wait_connected(60)
    host.dart.wait_event("view_created")
    yield host
    # every call of the module was answered exactly once
    assert "Failed to respond" not in host.stderr()
    assert "Only one of Success" not in host.stderr()


@pytest.fixture
def echo(echo_process):
    assert echo_process.running, echo_process.stderr()[-2000:]
    return echo_process.dart


def ladder(value):
    """The value after strings of 0 to 8 bytes, so it starts at every
    offset modulo 8 in the call and in the reply."""
    return [["x" * n, value] for n in range(9)]


@pytest.mark.parametrize("value", [
    None, True, 0, -1, 2**31 - 1, -2**31, 2**31, -2**31 - 1, Int64(1),
    Int64(-2**63), Int64(2**63 - 1), [1, Int64(1)], -0.0, 5e-324, math.inf,
    1.7976931348623157e308, NAN, Float64List([NAN]), "", "안녕 🙂",
    "nul\x00inside", "x" * 253, "y" * 254, "z" * 65536, b"",
    bytes(range(256)) * 274, Int32List([-2**31, 2**31 - 1]),
    Int64List([-2**63, 2**63 - 1]), Float32List([1.5, -0.0, 3.4e38]),
    Float64List(), Int32List(range(300)), [[], {}, [[]], {"": {}}, b"", ""],
    {"profile": {"name": "김민지", "id": Int64(2**40),
                 "scores": Float64List([1.5])}, "levels": [[[[[[1]]]]]]},
    ladder(2.5), ladder(Int32List([5])), ladder(Int64List([-5])),
    ladder(Float32List([0.25])), ladder(Float64List([2.0])),
    ladder(Float64List()), ladder({"k": 1.25}),
    [i * 7919 - 2**20 for i in range(20000)],
], ids=lambda v: repr(v)[:50])
def test_value_comes_back_byte_for_byte(echo, value):
    reply = echo.send_raw(CHANNEL, encode_method_call("echo", value))
    assert reply == encode_success(host_sorted(value))


def test_map_keys_come_back_in_host_order(echo):
    value = MapEntries([
        ("b", 0), ("a", 1), ("B", 2), ("", 3), (b"\x01", 5), (Int64(1), 6),
        (1, 7), (-1, 8), (2.5, 9), (True, 10), (None, 12), ([1], 13),
        (Int32List([1]), 14)])
    reply = echo.send_raw(CHANNEL, encode_method_call("echo", value))
    keys = [k for k, _ in decode_envelope(reply).value.entries]
    assert canonical(keys) == canonical([
        None, True, -1, 1, Int64(1), 2.5, "", "B", "a", "b", b"\x01",
        Int32List([1]), [1]])


@pytest.mark.parametrize("argument_bytes, answer, logged", [
    (encode_message(MapEntries([("a", 1), ("b", 2), ("a", 3)])),
     {"a": 1, "b": 2}, None),                    # first of a duplicate key
    ("05 03 616263", "abc", None),               # tag 5 comes back as 7
    ("0c fe 0200 07 ff 03000000 616263 08 fe 0100 09",
     ["abc", b"\x09"], None),                    # lengths come back minimal
    ("", None, None),                            # no arguments value
    ("0f", None,
     "Unknown type in StandardCodecSerializer::ReadValueOfType: 15"),
    ("03 0100", 0, "Invalid read in StandardCodecByteStreamReader"),
    ("0c ff ffffffff 00", ..., None),            # a huge count: any answer
])
def test_echo_decodes_what_the_format_allows(echo, echo_process,
                                             argument_bytes, answer, logged):
    if isinstance(argument_bytes, str):
        argument_bytes = bytes.fromhex(argument_bytes)
    reply = echo.send_raw(CHANNEL, ECHO_CALL + argument_bytes)
    assert reply[:1] == b"\x00" if answer is ... else \
        reply == encode_success(answer)
    if logged:
        assert logged in echo_process.stderr()


@pytest.mark.parametrize("channel, payload", [
    (CHANNEL, encode_method_call("Echo", [1])),
    (CHANNEL, encode_method_call("echo ", [1])),
    (CHANNEL, encode_message(5) + b"\x00"),      # not a method call
    ("orvalin.test/nobody", encode_method_call("echo", 1))])
def test_not_implemented(echo, channel, payload):
    assert echo.send_raw(channel, payload) == b""


KOREAN = {"z": "응답", "a": Int64List([7])}


@pytest.mark.parametrize("arguments, answer, reported", [
    ("안녕", encode_success(KOREAN), KOREAN),
    ({"b": [1.5, Int64(2)], "a": Float32List([0.5])},
     encode_success(ladder(0.75)), ladder(0.75)),
    ([1, 2], encode_error("refused", "거절됨", {"why": 1}),
     {"error": "refused"}),
], ids=["korean", "aligned", "error"])
def test_host_calls_the_dart_side_and_reports_its_answer(
        echo, arguments, answer, reported):
    request = echo.post(CHANNEL, encode_method_call("invokeBack", arguments))
    message = echo.wait_host_call(CHANNEL, "fromHost")
    assert message.id != 0 and message.payload == encode_method_call(
        "fromHost", host_sorted(arguments))
    echo.reply_to_host(message.id, answer)
    result = echo.wait_host_call(CHANNEL, "fromHostResult")
    assert result.id == 0
    assert result.payload == encode_method_call(
        "fromHostResult", host_sorted(reported))
    assert echo.wait_reply(request) == encode_success()


def test_engine_events_in_order_and_quit(launch):
    host = launch("echo_host.exe")
    host.dart.wait_connected(60)
    host.dart.wait_event("next_frame")
    assert host.dart.send_raw(CHANNEL, encode_method_call("quit")) == \
        encode_success()
    assert host.wait(30) == 0
    host.dart.wait_closed()
    assert host.dart.event_names() == [
        "engine_created", "view_created", "next_frame", "engine_shutdown"]
