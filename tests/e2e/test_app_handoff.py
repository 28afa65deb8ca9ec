"""A later orvalin_ai.exe meets a first instance that is still starting,
closing, ending, failed to make its window, hangs or is minimised: the
return URL reaches exactly one running app or the later instance says why
not with exit 1, it never waits without bound, and the window comes to the
front restored."""

import threading
import time

import pytest

from app_support import (
    APP, close_app, command_path, copy_bundle, probe, pushed_urls,
    registered_command, start_app, take_pending, wait_output, wait_pushed,
    wait_visible, window_info)

GAVE_UP = "No window of the running instance took the return URL within 30 s."
HUNG_LINES = (
    "The running instance did not take the return URL within 5 s.",
    "The running instance is not responding; the return URL was not handed "
    "over.")
SLOW_START = {"ORVALIN_STANDIN_START_DELAY_MS": "7000"}
NEVER_DRAWS = {"ORVALIN_STANDIN_NO_FIRST_FRAME": "1"}


def hold_mutex(launch, wine, release, *mode):
    """host_probe keeps a handle of the single-instance mutex until
    `release` exists: the moment a first instance holds it without a
    window, kept open for as long as the test needs."""
    return launch("host_probe.exe", "hold", wine.windows_path(release), *mode,
                  dart=False)

def hand_over(launch, app, url):
    """A later instance with `url` exits 0 without a line, and the running
    app's Dart side is pushed the URL."""
    later = launch(APP, url, dart=False)
    assert later.wait(60) == 0, later.stderr()
    assert later.stderr() == ""
    wait_pushed(app.dart, url)



@pytest.mark.parametrize("first", ["closing", "failing"])
def test_later_instance_takes_over_with_its_url_when_the_first_goes(
        first, launch, wine, bundle_dir, tmp_path):
    release = tmp_path / "release"
    holder = hold_mutex(launch, wine, release, "next")
    wait_output(holder, "waiting")
    if first == "closing":
        app = start_app(launch)
        wait_output(holder, "holding")
        assert close_app(wine, bundle_dir, app) == 0
    else:
        folder = copy_bundle(bundle_dir, tmp_path / "no_data", with_data=False)
        app = launch(folder / APP, dart=False)
        wait_output(holder, "holding")
        assert app.wait(60) == 1, "the window was made after all"

    url = f"orvalinai://login-callback?code={first}"
    later = launch(APP, url)
    time.sleep(1.5)
    assert later.running, "the later instance gave up at once"
    release.touch()
    assert holder.wait(30) == 0
    # No window ever came: the later instance runs the app with its URL.
    later.dart.wait_connected(60)
    assert take_pending(later.dart) == [url]
    wait_visible(wine, bundle_dir)
    assert close_app(wine, bundle_dir, later) == 0


def test_later_instance_gives_up_after_its_wait_and_says_so(
        launch, wine, tmp_path):
    release = tmp_path / "release"
    holder = hold_mutex(launch, wine, release)
    wait_output(holder, "holding")
    started = time.monotonic()
    later = launch(APP, "orvalinai://login-callback?code=lost", dart=False)
    assert later.wait(90) == 1
    assert time.monotonic() - started >= 30
    assert later.stderr().splitlines() == [GAVE_UP]
    release.touch()
    assert holder.wait(30) == 0


def test_hung_first_instance_fails_the_later_one_within_its_wait(launch):
    hung = launch("decoy_window.exe", "40000", "hung", dart=False)
    wait_output(hung, "ready")
    later = launch(APP, "orvalinai://login-callback?code=hung", dart=False)
    # Asked again while the wait lasts: a hung window may pump again.
    assert later.wait(60) == 1
    lines = later.stderr().splitlines()
    assert len(lines) == 1 and lines[0] in HUNG_LINES, lines


def test_instance_that_never_draws_takes_urls_and_shows_after_ten_seconds(
        launch, wine, bundle_dir):
    app = launch(APP, env=NEVER_DRAWS)
    app.dart.wait_connected(60)
    started = time.monotonic()
    for i in range(2):
        url = f"orvalinai://login-callback?never-drawn={i}"
        hand_over(launch, app, url)
    # Still hidden at first; shown once no first frame came in ten seconds.
    early = window_info(wine, bundle_dir)
    assert time.monotonic() - started > 8 or not early["visible"], early
    wait_visible(wine, bundle_dir, timeout=40)
    assert not any(e.name == "next_frame" for e in app.dart.events)
    assert take_pending(app.dart) == [
        f"orvalinai://login-callback?never-drawn={i}" for i in range(2)]
    assert close_app(wine, bundle_dir, app) == 0


def test_url_sent_while_the_window_stalls_arrives_once_it_pumps_again(
        launch, wine, bundle_dir):
    app = start_app(launch)
    wait_visible(wine, bundle_dir)
    # Hung to Windows after 5 s without pumping; busy for 12 s in all.
    app.dart.control("stall", 12000)
    time.sleep(6.5)
    url = "orvalinai://payment-return?after-stall=1"
    hand_over(launch, app, url)
    assert take_pending(app.dart) == [url]
    assert close_app(wine, bundle_dir, app) == 0


def test_later_instance_waits_for_a_slow_start_and_hands_over_once(
        launch, wine, bundle_dir):
    app = launch(APP, env=SLOW_START)
    deadline = time.monotonic() + 30
    while window_info(wine, bundle_dir) is None:  # made, hidden, not pumping
        assert time.monotonic() < deadline
        time.sleep(0.1)
    url = "orvalinai://login-callback?code=slow"
    hand_over(launch, app, url)
    assert take_pending(app.dart) == [url]
    assert close_app(wine, bundle_dir, app) == 0


def test_waiters_hand_over_to_the_one_that_takes_over_slowly(
        launch, wine, tmp_path):
    release = tmp_path / "release"
    holder = hold_mutex(launch, wine, release)
    wait_output(holder, "holding")
    urls = [f"orvalinai://login-callback?waiter={i}" for i in range(3)]
    waiters = [launch(APP, url, env=SLOW_START) for url in urls]
    time.sleep(1.5)
    release.touch()
    deadline = time.monotonic() + 60
    while sum(w.running for w in waiters) > 1:
        assert time.monotonic() < deadline
        time.sleep(0.2)
    (taker,) = [w for w in waiters if w.running]
    assert all(w.wait(1) == 0 for w in waiters if w is not taker)
    taker.dart.wait_connected(30)
    taker.dart.wait_event("next_frame", timeout=30)
    assert sorted(take_pending(taker.dart)) == urls


def test_urls_sent_as_the_window_closes_reach_exactly_one_instance(
        launch, wine, bundle_dir):
    """Three rounds: the instance that took over in one is closed in the
    next, while eight more later instances start."""
    app = start_app(launch)
    for round_ in range(3):
        wait_visible(wine, bundle_dir)
        since = len(app.dart.host_messages)
        urls = [f"orvalinai://login-callback?round={round_}&n={i}"
                for i in range(8)]
        # A later instance takes about as long to start as the close.
        closing = threading.Thread(target=probe,
                                   args=(wine, bundle_dir, "close"))
        closing.start()
        later = [launch(APP, url) for url in urls]
        closing.join()
        assert app.wait(60) == 0
        deadline = time.monotonic() + 60
        while any(p.running and not p.dart.connected for p in later):
            assert time.monotonic() < deadline
            time.sleep(0.2)
        takers = [p for p in later if p.running]
        assert len(takers) <= 1
        assert [p.popen.returncode for p in later if p not in takers] == \
            [0] * (8 - len(takers))
        seen = pushed_urls(app.dart, since)
        # All of them may have come before the close: then start anew.
        app = takers[0] if takers else start_app(launch)
        app.dart.wait_event("next_frame", timeout=30)
        seen += take_pending(app.dart)
        assert sorted(seen) == sorted(urls)
    assert close_app(wine, bundle_dir, app) == 0


def wait_state(wine, bundle_dir, wanted, timeout=20):
    deadline = time.monotonic() + timeout
    while True:
        code, lines = probe(wine, bundle_dir, "state")
        if (code, lines) == (0, [wanted]):
            return
        assert time.monotonic() < deadline, lines
        time.sleep(0.3)


def test_later_instance_loads_no_engine_library(launch, wine, bundle_dir):
    """It only hands its URL over: the engine, the plugins and what they
    import cost it start-up time and nothing else."""
    app = start_app(launch)
    url = "orvalinai://login-callback?light=1"
    later = launch(APP, url, dart=False, env={"WINEDEBUG": "+loaddll"})
    assert later.wait(60) == 0
    loaded = [line for line in later.stderr().splitlines()
              if "Loaded L" in line]
    assert any("user32.dll" in line.lower() for line in loaded), loaded
    assert not any(name in line.lower() for line in loaded
                   for name in ("flutter_windows.dll", "_plugin.dll")), loaded
    wait_pushed(app.dart, url)
    assert close_app(wine, bundle_dir, app) == 0


def test_later_instance_restores_the_window_and_leaves_the_scheme(
        launch, wine, bundle_dir, tmp_path):
    folder = copy_bundle(bundle_dir, tmp_path / "first")
    app = start_app(launch, program=folder / APP, cwd=folder)
    wait_visible(wine, bundle_dir)
    url = "orvalinai://payment-return?restored=1"
    for args in ([], [url]):
        code, lines = probe(wine, bundle_dir, "minimize")
        assert code == 0 and lines[0].startswith("iconic 1"), lines
        later = launch(APP, *args, dart=False)
        assert later.wait(60) == 0
        wait_state(wine, bundle_dir, "iconic 0 foreground 1")
    wait_pushed(app.dart, url)
    assert take_pending(app.dart) == [url]
    # Only a first instance registers the scheme: it still names the
    # executable that started first, not the later instances'.
    assert command_path(registered_command(wine)).lower() == \
        wine.windows_path(folder / APP).lower()
    assert close_app(wine, bundle_dir, app) == 0
