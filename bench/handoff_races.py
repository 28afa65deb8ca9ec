"""Later instances started at random moments of first-instance lives, and
an account of every return URL they carry.

A life starts with no instance running: a first instance starts (slowly,
normally, to be minimised, to be closed, to fail making its window, a
hung stand-in, one whose first frame never comes, one that stalls its
main thread for 6-12 s, or the head of a chain of take-overs where each
first instance lives 20-28 s before it is closed), and later instances,
each with a URL of its own, start in bursts at random moments across it.
A later instance that outlives the first becomes the next first instance,
and the rest hand over to it. The life ends once every process is done;
the harness closes what still runs. Some URLs are as long as a hand-off
record allows, some longer.

Every URL must reach exactly one instance's Dart side (pushed as
"authCallback" or returned by "takePendingAuthCallbackUrls"), or its
sender exits 1 with its line, which is allowed only against a hung
instance or for a URL longer than the record. Engines of two instances
never run at once.

    /usr/bin/python3 bench/handoff_races.py [--hand-offs 500] [--seed 1]

runs the long version against ORVALIN_BUILD_DIR (default build/windows)
and prints the figures; tests/e2e/test_handoff_races.py runs a short
seeded one.
"""

import argparse
import os
import random
import sys
import tempfile
import threading
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path[:0] = [str(REPO / "tests" / "e2e"), str(REPO / "tools")]

from app_support import (  # noqa: E402
    APP, AUTH_CALLBACK, TAKE_PENDING, copy_bundle, probe)
from orvalin_dev.launch import Launcher  # noqa: E402
from orvalin_dev.wine import WineSession  # noqa: E402

KINDS = ("slow", "running", "minimised", "closing", "failing", "hung",
         "never-drawn", "stalling", "chain")
HUNG_LINES = (
    "The running instance did not take the return URL within 5 s.",
    "The running instance is not responding; the return URL was not handed "
    "over.")
TOO_LONG_LINE = ("The return URL is longer than the running instance "
                 "accepts; it was not handed over.")
MAX_URL_UNITS = 8191  # the longest URL a hand-off record carries
# Seconds a process may take: the design bounds a wait at 35 s, or at 95 s
# across take-overs.
WAIT_LIMIT = 150
CHAIN_LINKS = 2
CHAIN_LIFE = (20.0, 28.0)  # seconds each first instance of a chain lives
STALL_MS = (6000, 12000)


class Figures:
    def __init__(self):
        self.lives = self.hand_offs = self.delivered = self.refused = 0
        self.lost = self.doubled = self.overlaps = 0
        self.longest = 0.0
        self.failures = []

    def line(self):
        return (f"lives {self.lives}  hand-offs {self.hand_offs}  delivered "
                f"{self.delivered}  refused with a line {self.refused}  lost "
                f"{self.lost}  doubled {self.doubled}  engines at once "
                f"{self.overlaps}  longest hand-off {self.longest:.1f} s")


class Life:
    def __init__(self, kind, rng, launcher, wine, bundle_dir, failing_dir):
        self.kind, self.rng, self.wine = kind, rng, wine
        self.launch, self.bundle_dir = launcher, bundle_dir
        self.failing_dir = failing_dir
        self.senders = []  # (url, process, started)
        self.first = None
        self.threads = []
        self.ended = {}  # process: when it was seen ended
        self.taken = {}  # process: URLs its Dart side took before a close
        self.watching = True
        self.watcher = threading.Thread(target=self._watch)
        self.watcher.start()

    def _watch(self):
        while self.watching:
            for _, process, _ in list(self.senders):
                if process not in self.ended and not process.running:
                    self.ended[process] = time.monotonic()
            time.sleep(0.02)

    def start_first(self):
        env = {}
        if self.kind == "never-drawn":
            env["ORVALIN_STANDIN_NO_FIRST_FRAME"] = "1"
        if self.kind == "slow":
            env["ORVALIN_STANDIN_START_DELAY_MS"] = str(
                self.rng.randint(2000, 8000))
        if self.kind == "hung":
            self.first = self.launch("decoy_window.exe", "12000", "hung",
                                     dart=False)
        elif self.kind == "failing":
            env["ORVALIN_STANDIN_START_DELAY_MS"] = str(
                self.rng.randint(0, 3000))
            self.first = self.launch(self.failing_dir / APP, env=env)
        else:
            self.first = self.launch(APP, env=env)

    def in_background(self, *args):
        thread = threading.Thread(target=probe, args=(self.wine,
                                                      self.bundle_dir) + args)
        thread.start()
        self.threads.append(thread)

    def stall_first(self, after, stall_ms):
        """Stalls the first instance's main thread `after` seconds after
        its Dart side connected."""
        def stall():
            try:
                self.first.dart.wait_connected(60)
                time.sleep(after)
                self.first.dart.control("stall", stall_ms)
            except AssertionError:
                pass  # it never connected: the accounting tells
        thread = threading.Thread(target=stall)
        thread.start()
        self.threads.append(thread)

    def url(self, url_id):
        """A URL of its own; one in ten exactly as long as the record
        allows, one in twenty a little longer."""
        url = f"orvalinai://login-callback?race={url_id}&"
        draw = self.rng.random()
        if draw < 0.1:
            url += "x" * (MAX_URL_UNITS - len(url))
        elif draw < 0.15:
            url += "x" * (MAX_URL_UNITS + self.rng.randint(1, 64) - len(url))
        return url

    def later(self, url):
        env = {}
        if self.kind == "chain":  # so each take-over is a slow one
            env["ORVALIN_STANDIN_START_DELAY_MS"] = str(
                self.rng.randint(2000, 8000))
        self.senders.append((url, self.launch(APP, url, env=env),
                             time.monotonic()))

    def actions(self, span):
        """(seconds from the start, what) the life does to its running
        instance besides the later instances."""
        if self.kind in ("minimised", "closing"):
            return [(self.rng.uniform(span / 3, span),
                     "close" if self.kind == "closing" else "minimize")]
        if self.kind == "stalling":
            return [(self.rng.uniform(0, span / 2), "stall")]
        if self.kind == "chain":
            at, closes = 0.0, []
            for _ in range(CHAIN_LINKS):
                at += self.rng.uniform(*CHAIN_LIFE)
                closes.append((at, "close"))
            return closes
        return []

    def drain(self):
        """Takes the pending URLs of every running Dart side, as the app's
        Dart side does once it starts: a taker's own start URL is only
        pending, and a chain closes the taker too."""
        for process in [self.first] + [p for _, p, _ in self.senders]:
            if process.dart is None or not process.running or \
                    not process.dart.connected:
                continue
            try:
                urls = process.dart.invoke(AUTH_CALLBACK, TAKE_PENDING,
                                           timeout=30)
            except AssertionError:
                continue  # it ended meanwhile
            self.taken.setdefault(process, set()).update(urls)

    def act(self, what):
        if what == "close":
            self.drain()
        if what == "stall":
            self.stall_first(0, self.rng.randint(*STALL_MS))
        else:
            self.in_background(what)

    def run(self, bursts, next_id, span):
        """Starts the first instance and `bursts` groups of later ones
        across `span` seconds (a chain: across all its links); returns the
        next unused URL id."""
        self.start_first()
        begun = time.monotonic()
        actions = self.actions(span)
        if self.kind == "chain":
            span = actions[-1][0] + 3
            bursts += CHAIN_LINKS * 2
        plan = sorted(self.rng.uniform(0, span) for _ in range(bursts))
        for at in plan:
            while True:
                now = time.monotonic() - begun
                while actions and actions[0][0] <= now:
                    self.act(actions.pop(0)[1])
                if now >= at:
                    break
                time.sleep(0.02)
            for _ in range(self.rng.randint(1, 3)):
                self.later(self.url(next_id))
                next_id += 1
        for at, what in actions:
            time.sleep(max(0.0, at - (time.monotonic() - begun)))
            self.act(what)
        return next_id

    def finish(self):
        """Waits for every sender, then drains and closes whichever
        instances still run. Returns {url: [process, ...]} of Dart sides."""
        for thread in self.threads:
            thread.join()
        deadline = time.monotonic() + WAIT_LIMIT
        processes = [self.first] + [p for _, p, _ in self.senders]
        while (self.first.dart is not None and self.first.running
               and not self.first.dart.connected):
            assert time.monotonic() < deadline, "the first instance hangs"
            time.sleep(0.2)
        # Senders end, or one of them runs on as the next first instance.
        while any(p.running and not (p.dart and p.dart.connected)
                  for _, p, _ in self.senders):
            assert time.monotonic() < deadline, "a later instance hangs"
            time.sleep(0.2)
        seen = {}
        for process in processes:
            if process.dart is None:
                continue
            urls = set(self.taken.get(process, ()))
            if process.running and process.dart.connected:
                try:
                    urls.update(process.dart.invoke(AUTH_CALLBACK, TAKE_PENDING,
                                                    timeout=30))
                except AssertionError:
                    pass
            urls.update(m.arguments for m in process.dart.host_messages
                        if m.channel == AUTH_CALLBACK
                        and m.method == "authCallback")
            for url in urls:
                seen.setdefault(url, []).append(process)
        while any(p.running for p in processes):
            assert time.monotonic() < deadline, "an instance does not end"
            # A hung stand-in ends by itself; an instance that took over
            # from it is closed as any other.
            if self.kind != "hung" or not self.first.running:
                probe(self.wine, self.bundle_dir, "close")
            time.sleep(0.5)
        return seen

    def engine_spans(self):
        spans = []
        for process in [self.first] + [p for _, p, _ in self.senders]:
            if process.dart is None:
                continue
            times = {e.name: e.time for e in process.dart.events}
            if "engine_created" in times:
                spans.append((times["engine_created"],
                              times.get("engine_shutdown", float("inf"))))
        return sorted(spans)


def account(life, seen, ended, figures):
    for url, process, started in life.senders:
        figures.hand_offs += 1
        code = process.popen.returncode
        places = seen.get(url, [])
        stderr = process.stderr()
        if len(places) > 1:
            figures.doubled += 1
            figures.failures.append(f"{life.kind}: {url} seen {len(places)}x")
        elif places:
            figures.delivered += 1
            if code != 0 and process not in places:
                figures.failures.append(f"{life.kind}: {url} exit {code}")
        elif code == 1 and life.kind == "hung" and any(
                line.strip() in HUNG_LINES for line in stderr.splitlines()):
            figures.refused += 1
        elif code == 1 and len(url) > MAX_URL_UNITS and any(
                line.strip() == TOO_LONG_LINE for line in stderr.splitlines()):
            figures.refused += 1
        else:
            figures.lost += 1
            figures.failures.append(
                f"{life.kind}: {url} lost, exit {code}: {stderr[-300:]!r}")
        if code == 0 and process not in places and process in ended:
            figures.longest = max(figures.longest, ended[process] - started)
    spans = life.engine_spans()
    for (_, end), (start, _) in zip(spans, spans[1:]):
        if start < end:
            figures.overlaps += 1
            figures.failures.append(f"{life.kind}: two engines at once")


def run_races(bundle_dir, wine, work_dir, seed, hand_offs, kinds=KINDS,
              bursts=(2, 4), span=6.0, report=print):
    rng = random.Random(seed)
    figures = Figures()
    failing_dir = copy_bundle(bundle_dir, Path(work_dir) / "failing")
    (failing_dir / "data" / "icudtl.dat").unlink()
    next_id = 0
    life_kinds = list(kinds)
    while figures.hand_offs < hand_offs:
        kind = life_kinds[figures.lives % len(life_kinds)]
        if figures.lives % len(life_kinds) == 0:
            rng.shuffle(life_kinds)
            kind = life_kinds[0]
        log_dir = Path(work_dir) / f"life-{figures.lives}"
        log_dir.mkdir(parents=True, exist_ok=True)
        launcher = Launcher(bundle_dir, wine, log_dir)
        life = Life(kind, rng, launcher, wine, bundle_dir, failing_dir)
        try:
            next_id = life.run(rng.randint(*bursts), next_id, span)
            seen = life.finish()
            time.sleep(0.1)  # the watcher's last look
        finally:
            life.watching = False
            life.watcher.join()
            launcher.stop_all()
        figures.lives += 1
        account(life, seen, life.ended, figures)
        report(f"life {figures.lives} {kind}: {figures.line()}")
    return figures


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--hand-offs", type=int, default=500)
    parser.add_argument("--seed", type=int, default=1)
    args = parser.parse_args()
    build_dir = Path(os.environ.get(
        "ORVALIN_BUILD_DIR", REPO / "build" / "windows")).resolve()
    wine = WineSession(build_dir)
    try:
        with tempfile.TemporaryDirectory() as work:
            figures = run_races(build_dir / "bundle", wine, work, args.seed,
                                args.hand_offs)
    finally:
        wine.stop()
    print(figures.line())
    for failure in figures.failures:
        print("FAIL", failure)
    return 1 if figures.failures else 0


if __name__ == "__main__":
    sys.exit(main())
