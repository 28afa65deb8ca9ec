"""orvalin_ai.exe under load and attack, while the Dart side keeps calling
its services: fifty later instances handing over their return URLs at once,
and another program flooding the window with hostile messages. Every wait
is bounded; a stuck host fails the test instead of hanging it."""

import collections
import threading
import time

from app_support import (
    APP, AUTH_CALLBACK, TAKE_PENDING, Success, probe, pushed_urls, start_app,
    take_pending, wait_pushed)

SECOND_INSTANCES = 50
CALL_TIMEOUT = 30  # no single call may stay unanswered longer
MAX_URL_UNITS = 8191  # the longest URL a hand-off record may carry


def utf16_units(text):
    return len(text.encode("utf-16-le")) // 2


def url_of_units(head, units):
    """head, padded with "x" to exactly `units` UTF-16 units."""
    return head + "x" * (units - utf16_units(head))


class ServiceLoad:
    """Calls services on the running host from a thread until stopped,
    checking each answer; collects the URLs that takes return."""

    CALLS = [
        ("orvalin.ai/keychain", "read", {"key": "load-test/never-written"},
         lambda r: r == Success(None)),
        ("orvalin.ai/app_storage", "applicationSupportDirectory", None,
         lambda r: isinstance(r, Success) and r.value.endswith("\\Orvalin AI")),
        ("orvalin.ai/audio_player", "state", None,
         lambda r: isinstance(r, Success) and set(r.value) ==
         {"positionMs", "durationMs", "isPlaying"}),
        ("orvalin.ai/pdf_export", "savePdf", None,
         lambda r: getattr(r, "code", None) == "pdf_unsupported_windows"),
        (AUTH_CALLBACK, TAKE_PENDING, None,
         lambda r: isinstance(r, Success) and isinstance(r.value, list)),
    ]

    def __init__(self, dart):
        self.dart = dart
        self.answered = []  # monotonic time of each answer
        self.taken = []
        self.failure = None
        self._stop = threading.Event()
        self._thread = threading.Thread(target=self._run, daemon=True)
        self._thread.start()

    def _run(self):
        try:
            for i in range(10**9):
                if self._stop.is_set():
                    return
                channel, method, args, check = self.CALLS[i % len(self.CALLS)]
                result = self.dart.invoke_result(channel, method, args,
                                                 timeout=CALL_TIMEOUT)
                assert check(result), f"{channel} {method}: {result!r}"
                if method == TAKE_PENDING:
                    self.taken += result.value
                self.answered.append(time.monotonic())
        except BaseException as e:  # reported by stop()
            self.failure = e

    def answered_between(self, start, end):
        return sum(start <= t <= end for t in self.answered)

    def stop(self):
        self._stop.set()
        self._thread.join(CALL_TIMEOUT + 5)
        assert not self._thread.is_alive(), "a service call never returned"
        if self.failure is not None:
            raise AssertionError(f"service call failed: {self.failure!r}")


def test_fifty_instances_at_once_hand_over_each_url_exactly_once(launch):
    app = start_app(launch)
    assert take_pending(app.dart) == []
    since = len(app.dart.host_messages)
    urls = [f"orvalinai://login-callback?instance={i}&state=é한🔑{i}&"
            for i in range(SECOND_INSTANCES)]
    # Every tenth at the length limit; one more just past it, never relayed.
    urls[::10] = [url_of_units(u, MAX_URL_UNITS) for u in urls[::10]]
    too_long = url_of_units("orvalinai://payment-return?over=",
                            MAX_URL_UNITS + 1)
    load = ServiceLoad(app.dart)
    try:
        start = time.monotonic()
        seconds = [launch(APP, url, dart=False) for url in urls + [too_long]]
        deadline = start + 300
        codes = [s.wait(max(1, deadline - time.monotonic())) for s in seconds]
        end = time.monotonic()
        assert codes == [0] * (SECOND_INSTANCES + 1)
        # Pushes come over the socket, after the hand-offs: wait for them.
        wait_until = time.monotonic() + 60
        while len(pushed_urls(app.dart, since)) < SECOND_INSTANCES:
            assert time.monotonic() < wait_until, \
                f"{len(pushed_urls(app.dart, since))} pushes arrived"
            time.sleep(0.2)
    finally:
        load.stop()
    assert load.answered_between(start, end) > 0, \
        "no service call was answered while the instances ran"
    taken = load.taken + take_pending(app.dart)
    assert collections.Counter(taken) == collections.Counter(urls)
    assert collections.Counter(pushed_urls(app.dart, since)) == \
        collections.Counter(urls)
    assert app.running


def test_hostile_flood_relays_nothing_and_the_host_keeps_answering(
        launch, wine, bundle_dir):
    app = start_app(launch)
    assert take_pending(app.dart) == []
    since = len(app.dart.host_messages)
    load = ServiceLoad(app.dart)
    try:
        start = time.monotonic()
        # 10k malformed or foreign records and 10k random messages.
        code, lines = probe(wine, bundle_dir, "flood", "20000", "1206",
                            timeout=600)
        end = time.monotonic()
    finally:
        load.stop()
    assert code == 0, lines
    assert lines == ["copydata 10000 10000", "other 10000", "timeouts 0"]
    assert app.running, app.stderr()[-2000:]
    assert load.answered_between(start, end) > 0
    assert load.taken == []
    assert take_pending(app.dart) == []
    assert pushed_urls(app.dart, since) == []
    # Still listening: a well-formed record after the flood is relayed.
    url = "orvalinai://payment-return?after=flood"
    assert probe(wine, bundle_dir, "url", url) == (0, ["url 1"])
    wait_pushed(app.dart, url)
    assert take_pending(app.dart) == [url]
