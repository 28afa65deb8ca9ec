"""Start-up legs of orvalin_ai.exe under Wine, each beside a minimal Win32
program started the same way (bench/tools/minimal_win32.cc), as medians
over a handful of runs:

  hand-off     a second instance started with a return URL while the first
               runs under the stand-in engine with a Dart side connected,
               until the URL reaches the Dart side as the pushed
               "authCallback" host message; beside it, `minimal_win32 send`
               handing text to a running `minimal_win32 receive`.
  first frame  orvalin_ai.exe started until its `next_frame` event reaches
               the Dart side (the host shows its window only after that);
               beside it, `minimal_win32 window` until its window exists,
               not yet shown. Its first paint, after showing the window, is
               printed as well.

Every program is started through `wine` by the end-to-end tests' launcher,
in the Windows tree's prefix, with its wineserver kept running. The minimal
program reports on its standard output, which goes to a file that is polled
every millisecond.

    /usr/bin/python3 bench/wine_startup.py [--runs N] [--build-dir build/windows]
"""

import argparse
import statistics
import sys
import tempfile
import time
from pathlib import Path

REPO = Path(__file__).resolve().parents[1]
sys.path.insert(0, str(REPO / "tests" / "e2e"))

from conftest import Launcher, WineSession  # noqa: E402
from app_support import (  # noqa: E402
    APP, AUTH_CALLBACK, close_app, start_app)

MINIMAL = "minimal_win32.exe"
URL = "orvalinai://login-callback?code=bench"
POLL_SECONDS = 0.001


def wait_output(process, text, count, timeout=60):
    """Waits until `text` has appeared `count` times in the process's
    standard output; returns the monotonic time it was seen."""
    deadline = time.monotonic() + timeout
    while process.stdout().count(text) < count:
        if time.monotonic() > deadline or not process.running and \
                process.stdout().count(text) < count:
            raise RuntimeError(f"{process.path.name}: no {text!r} #{count}; "
                               f"stderr: {process.stderr()[-500:]!r}")
        time.sleep(POLL_SECONDS)
    return time.monotonic()


def stop(wine, bundle, app):
    """Closes the host's window as its close button would; kills it when
    that does not end it."""
    try:
        close_app(wine, bundle, app, timeout=30)
    except AssertionError:
        app.kill()


def host_first_frame(launch, wine, bundle):
    start = time.monotonic()
    app = start_app(launch)
    frame = app.dart.wait_event("next_frame", timeout=60)
    stop(wine, bundle, app)
    return frame.time - start


def minimal_first_frame(launch):
    """(until the window exists, until its first paint)"""
    start = time.monotonic()
    program = launch(MINIMAL, "window", dart=False)
    created = wait_output(program, "created", 1)
    painted = wait_output(program, "painted", 1)
    program.wait(30)
    return created - start, painted - start


def host_hand_off(launch, app):
    start = time.monotonic()
    second = launch(APP, URL, dart=False)
    message = app.dart.wait_host_call(AUTH_CALLBACK, "authCallback", 60)
    arrived = time.monotonic()
    if message.arguments != URL:
        raise RuntimeError(f"pushed {message.arguments!r}, not {URL!r}")
    if second.wait(60) != 0:
        raise RuntimeError("the second instance did not end with 0")
    return arrived - start


def minimal_hand_off(launch, receiver, n):
    start = time.monotonic()
    sender = launch(MINIMAL, "send", URL, dart=False)
    arrived = wait_output(receiver, "received " + URL, n)
    if sender.wait(60) != 0:
        raise RuntimeError("minimal_win32 send did not end with 0")
    return arrived - start


def measure(runs, launch, wine, bundle):
    times = {"first_frame_host": [], "first_frame_minimal": [],
             "first_paint_minimal": [], "hand_off_host": [],
             "hand_off_minimal": []}
    for _ in range(runs):
        times["first_frame_host"].append(host_first_frame(launch, wine, bundle))
        created, painted = minimal_first_frame(launch)
        times["first_frame_minimal"].append(created)
        times["first_paint_minimal"].append(painted)

    app = start_app(launch)
    receiver = launch(MINIMAL, "receive", dart=False)
    wait_output(receiver, "ready", 1)
    for n in range(1, runs + 1):
        times["hand_off_host"].append(host_hand_off(launch, app))
        times["hand_off_minimal"].append(minimal_hand_off(launch, receiver, n))
    stop(wine, bundle, app)
    receiver.kill()
    return times


def report(times, runs):
    print(f"Wine start-up legs, median of {runs} runs (seconds; shared "
          f"machine)")
    print(f"{'leg':<14}{'orvalin_ai.exe':>16}{'minimal_win32':>16}"
          f"{'ratio':>8}   all runs (host | minimal)")
    for leg, label in (("hand_off", "hand-off"), ("first_frame",
                                                   "first frame")):
        host = statistics.median(times[leg + "_host"])
        minimal = statistics.median(times[leg + "_minimal"])
        runs_text = " ".join(f"{t:.3f}" for t in times[leg + "_host"]) + \
            " | " + " ".join(f"{t:.3f}" for t in times[leg + "_minimal"])
        print(f"{label:<14}{host:>16.3f}{minimal:>16.3f}"
              f"{host / minimal:>7.2f}x   {runs_text}")
    paints = times["first_paint_minimal"]
    print(f"minimal_win32's first paint after showing its window: median "
          f"{statistics.median(paints):.3f} s ("
          + " ".join(f"{t:.3f}" for t in paints) + ")")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--runs", type=int, default=5)
    parser.add_argument("--build-dir", default=str(REPO / "build" / "windows"))
    args = parser.parse_args()
    build = Path(args.build_dir).resolve()
    bundle = build / "bundle"
    for program in (APP, MINIMAL, "host_probe.exe", "flutter_windows.dll"):
        if not (bundle / program).is_file():
            sys.exit(f"{bundle / program} is missing: build the Windows tree")
    wine = WineSession(build)
    try:
        with tempfile.TemporaryDirectory() as logs:
            launch = Launcher(bundle, wine, logs)
            try:
                times = measure(args.runs, launch, wine, bundle)
            finally:
                launch.stop_all()
    finally:
        wine.stop()
    report(times, args.runs)


if __name__ == "__main__":
    main()
