"""The Dart side of the stand-in engine's connection.

The test listens on 127.0.0.1 with an ephemeral port and hands the engine
`ORVALIN_STANDIN_DART_SIDE=127.0.0.1:<port>` (see `DartSide.env`). The engine
connects when it is created. Frames are a 32-bit little-endian body length
then the body: one kind byte and its fields (u32 little-endian; str and
bytes are a u32 count then the bytes).

Every wait takes a timeout and fails with an AssertionError that says what
was awaited and what did arrive; nothing here can hang a test.
"""

import json
import socket
import struct
import threading
import time

from . import codec

MESSAGE, HOST_REPLY, CONTROL = 0x01, 0x02, 0x03
REPLY, HOST_MESSAGE, EVENT = 0x81, 0x82, 0x83

DEFAULT_TIMEOUT = 20.0


class ProtocolError(Exception):
    """The engine sent a frame that does not follow the protocol."""


class Event:
    __slots__ = ("name", "data", "time", "index")

    def __init__(self, name, data, index):
        self.name = name
        self.data = data
        self.time = time.monotonic()
        self.index = index

    def __repr__(self):
        return f"Event({self.name!r}, {self.data!r})"


class HostMessage:
    """A message the host sent to the Dart side. `id` is 0 when the host
    awaits no reply. `call` is the decoded method call, or None when the
    payload is not a method call (then `decode_error` says why)."""

    __slots__ = ("id", "channel", "payload", "call", "decode_error", "index")

    def __init__(self, id, channel, payload, index):
        self.id = id
        self.channel = channel
        self.payload = payload
        self.index = index
        try:
            self.call = codec.decode_method_call(payload)
            self.decode_error = None
        except codec.DecodeError as e:
            self.call = None
            self.decode_error = e

    @property
    def method(self):
        return self.call.method if self.call else None

    @property
    def arguments(self):
        return self.call.arguments if self.call else None

    def __iter__(self):  # id, channel, call = message
        return iter((self.id, self.channel, self.call))

    def __repr__(self):
        return (f"HostMessage(id={self.id}, channel={self.channel!r}, "
                f"call={self.call!r})")


def _pack_str(text):
    data = text.encode("utf-8") if isinstance(text, str) else bytes(text)
    return struct.pack("<I", len(data)) + data


class _Fields:
    def __init__(self, body):
        self.body = body
        self.pos = 1

    def u32(self):
        if self.pos + 4 > len(self.body):
            raise ProtocolError(f"frame ends inside a u32: {self.body!r}")
        (value,) = struct.unpack_from("<I", self.body, self.pos)
        self.pos += 4
        return value

    def bytes(self):
        n = self.u32()
        if self.pos + n > len(self.body):
            raise ProtocolError(f"frame ends inside a field of {n} bytes")
        data = self.body[self.pos:self.pos + n]
        self.pos += n
        return data

    def str(self):
        return self.bytes().decode("utf-8")

    def end(self):
        if self.pos != len(self.body):
            raise ProtocolError(
                f"{len(self.body) - self.pos} bytes left in frame kind "
                f"0x{self.body[0]:02x}")


class DartSide:
    """One engine connection, played by the test.

        dart = DartSide()                       # listening
        env = dart.env                          # give this to the process
        dart.wait_connected()
        dart.invoke("orvalin.test/echo", "echo", {"a": 1})
        dart.close()
    """

    def __init__(self, host="127.0.0.1"):
        self._listener = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
        self._listener.bind((host, 0))
        self._listener.listen(1)
        self.address = "%s:%d" % self._listener.getsockname()
        self._cond = threading.Condition()
        self._sock = None
        self._send_lock = threading.Lock()
        self._next_id = 1
        self._replies = {}
        self._events = []
        self._host_messages = []   # every host message, in arrival order
        self._pending_host = []    # not yet taken by a wait
        self._closed = False       # the engine's side is gone
        self._failure = None       # a protocol error seen by the reader
        self._stopping = False
        self._reader = threading.Thread(target=self._run, daemon=True,
                                        name=f"dart-side {self.address}")
        self._reader.start()

    # ---------------------------------------------------------------- setup

    @property
    def env(self):
        """The environment the engine needs to connect here."""
        return {"ORVALIN_STANDIN_DART_SIDE": self.address}

    def close(self):
        """Stops listening, closes the connection, joins the reader."""
        with self._cond:
            self._stopping = True
            sock = self._sock
        for s in (sock, self._listener):
            if s is None:
                continue
            try:
                s.shutdown(socket.SHUT_RDWR)
            except OSError:
                pass
            s.close()
        self._reader.join(5)

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()

    # --------------------------------------------------------------- reader

    def _run(self):
        try:
            self._listener.settimeout(0.2)
            while True:
                with self._cond:
                    if self._stopping:
                        return
                try:
                    sock, _ = self._listener.accept()
                    break
                except socket.timeout:
                    continue
                except OSError:
                    return
            sock.settimeout(None)
            sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
            with self._cond:
                self._sock = sock
                self._cond.notify_all()
            self._read_frames(sock)
        except ProtocolError as e:
            with self._cond:
                self._failure = e
        except OSError:
            pass
        finally:
            with self._cond:
                self._closed = True
                self._cond.notify_all()

    def _recv_exact(self, sock, n):
        chunks = []
        while n:
            chunk = sock.recv(min(n, 1 << 20))
            if not chunk:
                return None
            chunks.append(chunk)
            n -= len(chunk)
        return b"".join(chunks)

    def _read_frames(self, sock):
        while True:
            header = self._recv_exact(sock, 4)
            if header is None:
                return
            (length,) = struct.unpack("<I", header)
            if length == 0:
                raise ProtocolError("empty frame body")
            body = self._recv_exact(sock, length)
            if body is None:
                raise ProtocolError(f"connection closed inside a frame of "
                                    f"{length} bytes")
            self._dispatch(body)

    def _dispatch(self, body):
        kind = body[0]
        f = _Fields(body)
        if kind == REPLY:
            id_, payload = f.u32(), f.bytes()
            f.end()
            with self._cond:
                if id_ in self._replies:
                    raise ProtocolError(f"second reply for message {id_}")
                if not 0 < id_ < self._next_id:
                    raise ProtocolError(f"reply for unknown message {id_}")
                self._replies[id_] = payload
                self._cond.notify_all()
        elif kind == HOST_MESSAGE:
            id_, channel, payload = f.u32(), f.str(), f.bytes()
            f.end()
            with self._cond:
                message = HostMessage(id_, channel, payload,
                                      len(self._host_messages))
                self._host_messages.append(message)
                self._pending_host.append(message)
                self._cond.notify_all()
        elif kind == EVENT:
            name, raw = f.str(), f.str()
            f.end()
            try:
                data = json.loads(raw)
            except ValueError as e:
                raise ProtocolError(f"event {name} carries bad JSON {raw!r}: {e}")
            with self._cond:
                self._events.append(Event(name, data, len(self._events)))
                self._cond.notify_all()
                sock = self._sock
            if name == "engine_shutdown":
                # Nothing can follow: end our half so that the engine's
                # reader sees the end of the stream (under Wine a blocked
                # recv does not return when the engine only shuts down its
                # own socket), then read on until the engine closes.
                try:
                    sock.shutdown(socket.SHUT_WR)
                except OSError:
                    pass
        else:
            raise ProtocolError(f"unknown frame kind 0x{kind:02x}")

    # ------------------------------------------------------------- waiting

    def _wait(self, ready, timeout, what):
        """Waits until ready() gives something not None; returns it."""
        deadline = time.monotonic() + timeout
        with self._cond:
            while True:
                result = ready()
                if result is not None:
                    return result
                if self._failure is not None:
                    raise AssertionError(f"while waiting for {what}: the "
                                         f"engine broke the protocol: "
                                         f"{self._failure}")
                remaining = deadline - time.monotonic()
                if remaining <= 0:
                    raise AssertionError(
                        f"timed out after {timeout:g}s waiting for {what}; "
                        f"{self._describe()}")
                self._cond.wait(min(remaining, 0.5))

    def _describe(self):
        state = ("not connected" if self._sock is None and not self._closed
                 else "connection closed" if self._closed else "connected")
        names = [e.name for e in self._events]
        hosts = [(m.channel, m.method if m.call else
                  f"undecodable: {m.decode_error}") for m in self._pending_host]
        return (f"{state}; events so far: {names}; "
                f"unclaimed host messages: {hosts}")

    def wait_connected(self, timeout=DEFAULT_TIMEOUT):
        self._wait(lambda: True if self._sock is not None else None,
                   timeout, "the engine to connect")

    @property
    def connected(self):
        with self._cond:
            return self._sock is not None and not self._closed

    def wait_closed(self, timeout=DEFAULT_TIMEOUT):
        """Waits until the engine closes its side of the connection."""
        self._wait(lambda: True if self._closed else None, timeout,
                   "the engine to close the connection")

    @property
    def closed(self):
        with self._cond:
            return self._closed

    # --------------------------------------------------------------- events

    @property
    def events(self):
        """Every event so far, in arrival order (a copy)."""
        with self._cond:
            return list(self._events)

    def event_names(self):
        return [e.name for e in self.events]

    def mark(self):
        """An index to pass as `since` so that a later wait only looks at
        events that arrive after this call."""
        with self._cond:
            return len(self._events)

    def wait_event(self, name, predicate=None, timeout=DEFAULT_TIMEOUT,
                   since=0):
        """The first event called `name` (at index `since` or later) for
        which predicate(data) holds."""
        def ready():
            for e in self._events[since:]:
                if e.name == name and (predicate is None or predicate(e.data)):
                    return e
            return None
        what = f"event {name!r}" + (" matching the predicate" if predicate else "")
        return self._wait(ready, timeout, what)

    # --------------------------------------------------- test to engine

    def _send(self, body):
        with self._cond:
            sock = self._sock
            closed = self._closed
        if sock is None:
            raise AssertionError("the engine has not connected yet")
        if closed:
            raise AssertionError("the engine's connection is closed")
        frame = struct.pack("<I", len(body)) + body
        with self._send_lock:
            sock.sendall(frame)

    def post(self, channel, payload):
        """Sends a MESSAGE without waiting; returns its id for wait_reply."""
        with self._cond:
            id_ = self._next_id
            self._next_id += 1
        self._send(bytes([MESSAGE]) + struct.pack("<I", id_)
                   + _pack_str(channel) + _pack_str(payload))
        return id_

    def wait_reply(self, id_, timeout=DEFAULT_TIMEOUT):
        """The reply bytes for message id_ (b"" means no handler / not
        implemented)."""
        return self._wait(lambda: self._replies.get(id_), timeout,
                          f"the reply to message {id_}")

    def send_raw(self, channel, payload, timeout=DEFAULT_TIMEOUT):
        """Sends payload bytes to the channel and returns the reply bytes."""
        return self.wait_reply(self.post(channel, payload), timeout)

    def invoke_result(self, channel, method, arguments=None,
                      timeout=DEFAULT_TIMEOUT):
        """Calls a method; returns Success, ErrorResult or NOT_IMPLEMENTED."""
        reply = self.send_raw(channel, codec.encode_method_call(method, arguments),
                              timeout)
        return codec.decode_envelope(reply)

    def invoke(self, channel, method, arguments=None, timeout=DEFAULT_TIMEOUT):
        """Calls a method; returns the success value, raises MethodError or
        MethodNotImplemented."""
        reply = self.send_raw(channel, codec.encode_method_call(method, arguments),
                              timeout)
        return codec.envelope_value(reply)

    def control(self, key, value):
        """Sends a CONTROL frame (claim_message, unclaim_message,
        watch_message, unwatch_message with a decimal message number;
        stall with milliseconds)."""
        self._send(bytes([CONTROL]) + _pack_str(key) + _pack_str(str(value)))

    # -------------------------------------------------- engine to test

    @property
    def host_messages(self):
        """Every host message so far, claimed or not (a copy)."""
        with self._cond:
            return list(self._host_messages)

    def wait_host_message(self, channel=None, predicate=None,
                          timeout=DEFAULT_TIMEOUT, _what=None):
        """Takes the oldest unclaimed host message on `channel` (any channel
        when None) for which predicate(message) holds."""
        def ready():
            for i, m in enumerate(self._pending_host):
                if channel is not None and m.channel != channel:
                    continue
                if predicate is not None and not predicate(m):
                    continue
                return self._pending_host.pop(i)
            return None
        where = f" on {channel!r}" if channel else ""
        return self._wait(ready, timeout, (_what or "a host message") + where)

    def wait_host_call(self, channel=None, method=None,
                       timeout=DEFAULT_TIMEOUT):
        """Takes the oldest unclaimed host method call on `channel` named
        `method` (either may be None for any). The result unpacks as
        `id, channel, call = dart.wait_host_call(...)`."""
        def matches(m):
            return m.call is not None and (method is None or m.method == method)
        what = f"host call {method!r}" if method else "a host call"
        return self.wait_host_message(channel, matches, timeout, what)

    def reply_to_host(self, id_, payload):
        """Answers a host message that awaits a reply (id not 0) with raw
        bytes; codec.encode_success / encode_error build them, b"" is
        not-implemented."""
        if id_ == 0:
            raise AssertionError("host message 0 awaits no reply")
        self._send(bytes([HOST_REPLY]) + struct.pack("<I", id_)
                   + _pack_str(payload))
