"""The client layer end to end: echo_host.exe (a real host built on the
client layer, in a top-level window with the stand-in engine) answers the
Dart side on "orvalin.test/echo":
  echo        -> Success(arguments)
  invokeBack  -> sends "fromHost" with the arguments back (reply expected),
                 then "fromHostResult" (no reply) with the answer it got, or
                 {"error": code}; answers Success() itself
  quit        -> Success(), closes the window
  anything else -> not implemented.

The host decodes into its own value model and encodes again, so a reply
that matches byte for byte shows both directions of its codec agree with
ours. The host keeps maps sorted by key; `host_sorted` predicts that.
"""

import math
import struct

import pytest

from orvalin_dev.codec import (
    Float32List, Float64List, Int32List, Int64, Int64List, MapEntries,
    MethodCall, canonical, decode_envelope, encode_error,
    encode_message, encode_method_call, encode_success, host_sorted)

CHANNEL = "orvalin.test/echo"
INT32_MIN, INT32_MAX = -2**31, 2**31 - 1
INT64_MIN, INT64_MAX = -2**63, 2**63 - 1
NAN = struct.unpack("<d", bytes.fromhex("0100000000f8ff7f"))[0]


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
    """The shared echo host's Dart side, checked to be alive."""
    assert echo_process.running, \
        f"echo host has ended: {echo_process.stderr()[-2000:]}"
    return echo_process.dart


def round_trip(dart, value):
    reply = dart.send_raw(CHANNEL, encode_method_call("echo", value))
    assert reply == encode_success(host_sorted(value))
    return reply


def ladder(value):
    """The value after string prefixes of 0 to 8 bytes, in one list, so it
    starts at every offset modulo 8 in the call and in the reply."""
    return [[("x" * n), value] for n in range(9)]


VALUES = [
    None, True, False, 0, -1, 7, INT32_MAX, INT32_MIN,
    Int64(0), Int64(1), Int64(INT64_MAX), Int64(INT64_MIN), 2**31, -2**31 - 1,
    [1, Int64(1), -1, Int64(-1)],
    1.0, -0.0, 0.1, math.inf, -math.inf, 5e-324, 1.7976931348623157e308,
    NAN, Float64List([NAN]),
    # strings and byte lists around the length forms' limits
    "", "a", "abc", "안녕하세요", "Orvalin AI — 프로필 이미지", "emoji 🙂 ok",
    "nul\x00inside", "x" * 253, "y" * 254, "가" * 100, "z" * 65535,
    "w" * 65536,
    b"", b"\x00", bytes(range(256)), bytes(253), bytes(254),
    bytes(range(256)) * 274,
    Int32List(), Int32List([1]), Int32List([INT32_MIN, -1, 0, INT32_MAX]),
    Int64List(), Int64List([INT64_MIN, -1, 0, INT64_MAX]),
    Float32List(), Float32List([1.5, -0.0, math.inf, 3.4028234663852886e38]),
    Float64List(), Float64List([0.5, -0.0, -math.inf, 5e-324]),
    Int32List(range(300)), Float64List([i / 7 for i in range(70)]),
    [], {}, [[], {}, [[]], {"": {}}, b"", ""],
    {"profile": {"name": "김민지", "age": 31, "id": Int64(2**40),
                 "scores": Float64List([1.5, 2.5])},
     "tags": ["a", "b", ["c", {"d": None}]], "image": bytes(range(10)),
     "levels": [[[[[[1]]]]]]},
    [i * 7919 - 2**20 for i in range(20000)],
]


def value_id(value):
    text = repr(value)
    return text if len(text) < 60 else f"{type(value).__name__}:{len(value)}"


class TestEchoRoundTrip:
    @pytest.mark.parametrize("value", VALUES, ids=value_id)
    def test_value(self, echo, value):
        round_trip(echo, value)

    @pytest.mark.parametrize("value", [
        2.5, -1e-300, Int32List([5]), Int32List(), Int64List([-5]),
        Int64List(), Float32List([0.25]), Float32List(), Float64List([2.0]),
        Float64List(), {"k": 1.25}], ids=repr)
    def test_aligned_values_at_every_offset(self, echo, value):
        # The call's value starts after "echo"'s name; the reply's after
        # one kind byte: the padding differs and the host must redo it.
        round_trip(echo, ladder(value))

    def test_map_keys_come_back_in_host_order(self, echo):
        value = MapEntries([
            ("b", 0), ("a", 1), ("B", 2), ("", 3), ("ab", 4), (b"\x01", 5),
            (Int64(1), 6), (1, 7), (-1, 8), (2.5, 9), (True, 10),
            (False, 11), (None, 12), ([1], 13), (Int32List([1]), 14)])
        reply = round_trip(echo, value)
        keys = [k for k, _ in decode_envelope(reply).value.entries]
        assert canonical(keys) == canonical([
            None, False, True, -1, 1, Int64(1), 2.5, "", "B", "a", "ab", "b",
            b"\x01", Int32List([1]), [1]])


ECHO_CALL = encode_method_call("echo")[:-1]  # the arguments value follows


@pytest.mark.parametrize("argument_bytes, answer, logged", [
    (encode_message(MapEntries([("a", 1), ("b", 2), ("a", 3)])),
     {"a": 1, "b": 2}, None),                    # first of a duplicate key
    ("05 03 616263", "abc", None),               # tag 5 comes back as 7
    ("0c fe 0200 07 ff 03000000 616263 08 fe 0100 09",
     ["abc", b"\x09"], None),                   # lengths come back minimal
    ("", None, None),                            # no arguments value
    ("0f", None,
     "Unknown type in StandardCodecSerializer::ReadValueOfType: 15"),
    ("03 0100", 0, "Invalid read in StandardCodecByteStreamReader"),
])
def test_echo_decodes_what_the_format_allows(echo, echo_process,
                                             argument_bytes, answer, logged):
    if isinstance(argument_bytes, str):
        argument_bytes = bytes.fromhex(argument_bytes)
    reply = echo.send_raw(CHANNEL, ECHO_CALL + argument_bytes)
    assert reply == encode_success(answer)
    if logged:
        assert logged in echo_process.stderr()


def test_huge_declared_count_is_survived(echo):
    reply = echo.send_raw(CHANNEL, ECHO_CALL + bytes.fromhex("0c ff ffffffff 00"))
    assert reply[:1] == b"\x00"  # answered, and the host lives on
    round_trip(echo, "still here")


@pytest.mark.parametrize("channel, payload", [
    (CHANNEL, encode_method_call(method, [1]))
    for method in ("Echo", "", "echo ", "unknown")] + [
    (CHANNEL, encode_message(5) + b"\x00"),      # not a method call
    ("orvalin.test/nobody", encode_method_call("echo", 1))])
def test_not_implemented(echo, channel, payload):
    assert echo.send_raw(channel, payload) == b""


class TestHostInitiatedCall:
    @pytest.mark.parametrize("arguments, answer", [
        (None, {"z": "응답", "a": [2.5, Int64List([7])]}),
        ("안녕", {"z": "응답", "a": [2.5, Int64List([7])]}),
        ({"b": [1.5, Int64(2)], "a": Float32List([0.5])}, {"b": 1, "a": 2}),
        # the answer's doubles sit at other offsets in "fromHostResult"
        (1, ladder(0.75))], ids=["null", "korean", "map", "aligned"])
    def test_answered_with_success(self, echo, arguments, answer):
        request = echo.post(CHANNEL, encode_method_call("invokeBack", arguments))
        message = echo.wait_host_call(CHANNEL, "fromHost")
        assert message.id != 0
        assert message.payload == encode_method_call(
            "fromHost", host_sorted(arguments))
        echo.reply_to_host(message.id, encode_success(answer))
        result = echo.wait_host_call(CHANNEL, "fromHostResult")
        assert result.id == 0
        assert result.payload == encode_method_call(
            "fromHostResult", host_sorted(answer))
        assert echo.wait_reply(request) == encode_success()

    def test_answered_with_error(self, echo):
        request = echo.post(CHANNEL, encode_method_call("invokeBack", [1, 2]))
        message = echo.wait_host_call(CHANNEL, "fromHost")
        assert message.call == MethodCall("fromHost", [1, 2])
        echo.reply_to_host(message.id, encode_error(
            "refused", "거절됨", {"why": 1}))
        result = echo.wait_host_call(CHANNEL, "fromHostResult")
        assert result.id == 0
        assert result.call == MethodCall("fromHostResult", {"error": "refused"})
        assert echo.wait_reply(request) == encode_success()


class TestLifecycle:
    def test_engine_events_and_quit(self, launch, wine):
        host = launch("echo_host.exe")
        dart = host.dart
        dart.wait_connected(60)
        created = dart.wait_event("engine_created").data
        assert created["assets_path"].endswith("data\\flutter_assets")
        assert created["icu_data_path"].endswith("data\\icudtl.dat")
        assert created["aot_library_path"].endswith("data\\app.so")
        assert isinstance(created["arguments"], list)
        view = dart.wait_event("view_created").data
        assert view["width"] > 0 and view["height"] > 0
        dart.wait_event("next_frame")
        assert dart.invoke(CHANNEL, "echo", "hi") == "hi"

        assert dart.send_raw(CHANNEL, encode_method_call("quit")) == encode_success()
        dart.wait_event("engine_shutdown")
        assert host.wait(30) == 0
        dart.wait_closed()
        names = dart.event_names()
        order = [names.index(n) for n in
                 ("engine_created", "view_created", "next_frame",
                  "engine_shutdown")]
        assert order == sorted(order)
        assert names[-1] == "engine_shutdown"
        # every call was answered exactly once
        assert "Failed to respond" not in host.stderr()
        assert "Only one of Success" not in host.stderr()
