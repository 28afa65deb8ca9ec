"""orvalin_ai.exe under load and attack while the Dart side keeps calling
its services: instances handing over URLs at once, a hostile flood."""

import collections
import threading
import time

from app_support import (
    APP, AUTH_CALLBACK, TAKE_PENDING, Success, probe, pushed_urls, start_app,
    take_pending, wait_pushed)

MAX_URL_UNITS = 8191  # the longest URL a hand-off record may carry
TOO_LONG = ("The return URL is longer than the running instance accepts; it "
            "was not handed over.")


class ServiceLoad:
    """Calls and checks services from a thread while `during` runs."""

    CALLS = [
        ("orvalin.ai/keychain", "read", {"key": "load-test/never-written"},
         lambda r: r == Success(None)),
        ("orvalin.ai/app_storage", "applicationSupportDirectory", None,
         lambda r: r.value.endswith("\\Orvalin AI")),
        (AUTH_CALLBACK, TAKE_PENDING, None, lambda r: type(r.value) is list),
    ]

    def __init__(self, dart):
        self.dart, self.answered, self.taken, self.failure = dart, 0, [], None
        self._stop = threading.Event()

    def _run(self):
        try:
            while not self._stop.is_set():
                for channel, method, args, check in self.CALLS:
                    result = self.dart.invoke_result(channel, method, args,
                                                     timeout=30)
                    assert check(result), f"{channel} {method}: {result!r}"
                    if method == TAKE_PENDING:
                        self.taken += result.value
                    self.answered += 1
        except BaseException as e:  # reported by during()
            self.failure = e

    def during(self, action):
        """Runs action() under the load; returns its result once a call
        was answered meanwhile and the load has stopped cleanly."""
        thread = threading.Thread(target=self._run, daemon=True)
        thread.start()
        try:
            result = action()
            answered = self.answered
        finally:
            self._stop.set()
            thread.join(35)
        assert not thread.is_alive(), "a service call never returned"
        assert self.failure is None, f"service call failed: {self.failure!r}"
        assert answered > 0, "no service call was answered meanwhile"
        return result


def test_instances_at_once_hand_over_each_url_exactly_once(launch):
    app = start_app(launch)
    since = len(app.dart.host_messages)
    urls = [f"orvalinai://login-callback?instance={i}&state=é한🔑{i}&"
            for i in range(6)]
    # One at the length limit; one just past it, never relayed.
    urls[0] += "x" * (MAX_URL_UNITS - len(urls[0].encode("utf-16-le")) // 2)
    too_long = "orvalinai://payment-return?" + "x" * (MAX_URL_UNITS - 26)

    def hand_over():
        seconds = [launch(APP, url, dart=False) for url in urls + [too_long]]
        assert [s.wait(90) for s in seconds] == [0] * 6 + [1]
        # The sender knows the limit: it says so instead of exiting 0.
        assert seconds[-1].stderr().splitlines() == [TOO_LONG]
        assert all(s.stderr() == "" for s in seconds[:-1])
        deadline = time.monotonic() + 30
        while len(pushed_urls(app.dart, since)) < len(urls):
            assert time.monotonic() < deadline, pushed_urls(app.dart, since)
            time.sleep(0.2)
    load = ServiceLoad(app.dart)
    load.during(hand_over)
    taken = load.taken + take_pending(app.dart)
    assert collections.Counter(taken) == collections.Counter(urls)
    assert collections.Counter(pushed_urls(app.dart, since)) == \
        collections.Counter(urls)


def test_hostile_flood_relays_nothing_and_the_host_keeps_answering(
        launch, wine, bundle_dir):
    app = start_app(launch)
    since = len(app.dart.host_messages)
    load = ServiceLoad(app.dart)
    # 1000 malformed or foreign records and 1000 random messages.
    assert load.during(lambda: probe(
        wine, bundle_dir, "flood", "2000", "1206", timeout=100)) == \
        (0, ["copydata 1000 1000", "other 1000", "timeouts 0"])
    assert load.taken == [] and take_pending(app.dart) == []
    assert pushed_urls(app.dart, since) == []
    # Still listening: a well-formed record after the flood is relayed.
    url = "orvalinai://payment-return?after=flood"
    assert probe(wine, bundle_dir, "url", url) == (0, ["url 1"])
    wait_pushed(app.dart, url)
    assert take_pending(app.dart) == [url]
