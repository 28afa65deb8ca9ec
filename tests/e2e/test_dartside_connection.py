"""The Dart side's connection server against a scripted engine in Python:
framing, matching of replies and host calls, and waits that fail instead of
hanging. No Wine needed."""

import json
import socket
import struct
import threading

import pytest

from dartside import codec
from dartside.connection import DartSide


def frame(kind, *fields):
    body = bytes([kind])
    for f in fields:
        if isinstance(f, int):
            body += struct.pack("<I", f)
        else:
            data = f.encode() if isinstance(f, str) else f
            body += struct.pack("<I", len(data)) + data
    return struct.pack("<I", len(body)) + body


class FakeEngine:
    def __init__(self, dart):
        host, port = dart.address.split(":")
        self.sock = socket.create_connection((host, int(port)), timeout=5)

    def send(self, data):
        self.sock.sendall(data)

    def recv_exact(self, n):
        data = b""
        while len(data) < n:
            chunk = self.sock.recv(n - len(data))
            assert chunk, "connection closed"
            data += chunk
        return data

    def read_frame(self):
        (length,) = struct.unpack("<I", self.recv_exact(4))
        return self.recv_exact(length)

    def close(self):
        self.sock.close()


@pytest.fixture
def pair():
    dart = DartSide()
    engine = FakeEngine(dart)
    dart.wait_connected(5)
    yield dart, engine
    engine.close()
    dart.close()


def test_env_names_a_loopback_port_and_unconnected_waits_fail():
    with DartSide() as dart:
        (value,) = dart.env.values()
        host, port = value.split(":")
        assert host == "127.0.0.1" and 0 < int(port) < 65536
        with pytest.raises(AssertionError, match="not connected"):
            dart.wait_connected(0.3)


def test_message_frame_and_reply(pair):
    dart, engine = pair
    reply_box = []
    t = threading.Thread(target=lambda: reply_box.append(
        dart.invoke("orvalin.test/echo", "echo", {"k": 1.5}, timeout=5)))
    t.start()
    body = engine.read_frame()
    assert body[0] == 0x01
    (id_,) = struct.unpack_from("<I", body, 1)
    (n,) = struct.unpack_from("<I", body, 5)
    assert body[9:9 + n] == b"orvalin.test/echo"
    (m,) = struct.unpack_from("<I", body, 9 + n)
    payload = body[13 + n:]
    assert len(payload) == m
    assert payload == codec.encode_method_call("echo", {"k": 1.5})
    # the reply is split across two sends to exercise reassembly
    data = frame(0x81, id_, codec.encode_success({"k": 1.5}))
    engine.send(data[:3])
    engine.send(data[3:])
    t.join(5)
    assert reply_box == [{"k": 1.5}]


def test_replies_are_matched_by_id(pair):
    dart, engine = pair
    first = dart.post("c", b"one")
    second = dart.post("c", b"two")
    ids = [struct.unpack_from("<I", engine.read_frame(), 1)[0] for _ in range(2)]
    assert ids == [first, second]
    engine.send(frame(0x81, second, b"\x00\x01") + frame(0x81, first, b""))
    assert dart.wait_reply(first, 5) == b""
    assert dart.wait_reply(second, 5) == b"\x00\x01"


@pytest.mark.parametrize("reply, raised", [
    (b"", codec.MethodNotImplemented),
    (codec.encode_error("bad_args", "missing key"), codec.MethodError)])
def test_invoke_raises_for_non_success(pair, reply, raised):
    dart, engine = pair
    box = []

    def call():
        try:
            dart.invoke("c", "m", timeout=5)
        except Exception as e:  # noqa: BLE001 - handed to the test thread
            box.append(e)
    t = threading.Thread(target=call)
    t.start()
    id_ = struct.unpack_from("<I", engine.read_frame(), 1)[0]
    engine.send(frame(0x81, id_, reply))
    t.join(5)
    assert len(box) == 1 and isinstance(box[0], raised)


def test_events_are_logged_and_awaited(pair):
    dart, engine = pair
    engine.send(frame(0x83, "view_created",
                      json.dumps({"width": 1280, "height": 720})))
    engine.send(frame(0x83, "next_frame", "{}"))
    event = dart.wait_event("view_created", timeout=5)
    assert event.data == {"width": 1280, "height": 720}
    # Both frames were sent before the wait; the second may still be on its
    # way when the first is seen.
    dart.wait_event("next_frame", timeout=5)
    mark = dart.mark()
    assert mark == 2
    engine.send(frame(0x83, "next_frame", "{}"))
    later = dart.wait_event("next_frame", since=mark, timeout=5)
    assert later.index == 2
    assert dart.event_names() == ["view_created", "next_frame", "next_frame"]


def test_host_calls_are_claimed_in_order_and_answered(pair):
    dart, engine = pair
    engine.send(frame(0x82, 0, "orvalin.ai/auth_callback",
                      codec.encode_method_call("authCallback", "u1")))
    engine.send(frame(0x82, 7, "orvalin.test/echo",
                      codec.encode_method_call("fromHost", [1])))
    engine.send(frame(0x82, 8, "orvalin.test/echo", b"\x03"))
    id_, channel, call = dart.wait_host_call("orvalin.test/echo", timeout=5)
    assert (id_, channel, call) == (7, "orvalin.test/echo",
                                    codec.MethodCall("fromHost", [1]))
    message = dart.wait_host_call(method="authCallback", timeout=5)
    assert message.id == 0 and message.arguments == "u1"
    raw = dart.wait_host_message("orvalin.test/echo", timeout=5)
    assert raw.call is None and raw.payload == b"\x03"
    assert len(dart.host_messages) == 3
    dart.reply_to_host(7, codec.encode_success("ok"))
    body = engine.read_frame()
    reply = codec.encode_success("ok")
    assert body == bytes([0x02]) + struct.pack("<I", 7) + \
        struct.pack("<I", len(reply)) + reply
    with pytest.raises(AssertionError):
        dart.reply_to_host(0, b"")


def test_control_frame(pair):
    dart, engine = pair
    dart.control("claim_message", 36)
    assert engine.read_frame() == bytes([0x03]) + frame(0, "claim_message")[5:] \
        + frame(0, "36")[5:]


def test_waits_time_out_with_a_description(pair):
    dart, engine = pair
    engine.send(frame(0x83, "engine_created", "{}"))
    dart.wait_event("engine_created", timeout=5)
    with pytest.raises(AssertionError, match="'next_frame'.*engine_created"):
        dart.wait_event("next_frame", timeout=0.3)
    with pytest.raises(AssertionError, match="reply to message"):
        dart.send_raw("c", b"", timeout=0.3)
    with pytest.raises(AssertionError, match="host call 'fromHost'"):
        dart.wait_host_call(method="fromHost", timeout=0.3)
    engine.send(frame(0x82, 3, "c", b"\x07\x01"))
    with pytest.raises(AssertionError, match="undecodable: string bytes"):
        dart.wait_host_call("c", "fromHost", timeout=0.5)


def test_engine_shutdown_ends_our_half_of_the_stream(pair):
    dart, engine = pair
    engine.send(frame(0x83, "engine_shutdown", "{}"))
    engine.sock.settimeout(5)
    assert engine.sock.recv(1) == b""  # end of stream, not a timeout
    assert not dart.closed
    engine.close()
    dart.wait_closed(5)
    assert dart.event_names() == ["engine_shutdown"]
    with pytest.raises(AssertionError, match="closed"):
        dart.post("c", b"")
