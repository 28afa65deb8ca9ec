"""orvalin_ai.exe from start to end, one instance per test: DPI, showing,
claimed messages, closing, missing engine files, install folder, a
session kept across a restart."""

import json
import shutil
import time

import pytest

from app_support import (
    APP, MACHINE_SCHEME_KEY, SCHEME_KEY, TITLE, WINDOW_CLASS, WM_CLOSE, WM_COPYDATA, WM_FONTCHANGE,
    WM_SHOWWINDOW, close_app, command_path, copy_bundle, probe, pushed_urls,
    registered_command, start_app, take_pending, wait_pushed,
    wait_visible, window_info)

KEYCHAIN = "orvalin.ai/keychain"


@pytest.mark.parametrize("dpi, rect", [
    (96, (10, 10, 1290, 730)),
    (120, (12, 12, 1612, 912)),
    (144, (15, 15, 1935, 1095)),
])
def test_geometry_scales_with_the_monitor_dpi(launch, wine, bundle_dir, dpi,
                                              rect):
    app = start_app(launch, env={"ORVALIN_STANDIN_DPI": str(dpi)})
    info = wait_visible(wine, bundle_dir)
    assert (info["class"], info["title"], info["rect"]) == \
        (WINDOW_CLASS, TITLE, rect)
    # The view is made at the client area's size, inside the outer frame.
    view = app.dart.wait_event("view_created").data
    assert 0 < view["width"] <= rect[2] - rect[0]
    assert 0 < view["height"] <= rect[3] - rect[1]
    # Closing the window ends the engine, then the process with zero.
    assert close_app(wine, bundle_dir, app) == 0
    assert app.dart.event_names()[-1] == "engine_shutdown"
    app.dart.wait_closed()
    assert window_info(wine, bundle_dir) is None


def test_window_stays_hidden_until_the_first_frame(launch, wine, bundle_dir):
    # The engine reports WM_SHOWWINDOW whenever the window is shown.
    app = start_app(launch,
                    env={"ORVALIN_STANDIN_CLAIM_MESSAGE": str(WM_SHOWWINDOW)})
    shown = app.dart.wait_event(
        "window_message", lambda d: d["message"] == WM_SHOWWINDOW)
    frame = app.dart.wait_event("next_frame")
    assert frame.index < shown.index
    assert wait_visible(wine, bundle_dir)["visible"]
    assert close_app(wine, bundle_dir, app) == 0


def test_claimed_messages_never_reach_the_window(launch, wine, bundle_dir):
    app = start_app(launch)
    dart = app.dart
    for message in (WM_FONTCHANGE, WM_COPYDATA):
        dart.control("claim_message", message)
    time.sleep(0.5)
    mark = dart.mark()
    since = len(dart.host_messages)

    # The engine's answer (0) is the window's answer: no TRUE for the record.
    assert probe(wine, bundle_dir, "font") == (0, ["font 0"])
    url = "orvalinai://login-callback?code=claimed"
    assert probe(wine, bundle_dir, "url", url) == (0, ["url 0"])
    # The stand-in reports each message over its connection, after the fact.
    dart.wait_event("window_message",
                    lambda d: d["message"] == WM_COPYDATA and d["claimed"],
                    since=mark)
    claimed = [e.data["message"] for e in dart.events[mark:]
               if e.name == "window_message" and e.data["claimed"]]
    assert claimed == [WM_FONTCHANGE, WM_COPYDATA]
    assert "fonts_reloaded" not in [e.name for e in dart.events[mark:]]
    assert pushed_urls(dart, since) == []
    assert take_pending(dart) == []

    # A claimed WM_CLOSE never reaches the default handling that closes.
    dart.control("claim_message", WM_CLOSE)
    time.sleep(0.5)
    assert probe(wine, bundle_dir, "close")[0] == 0
    dart.wait_event("window_message", lambda d: d["message"] == WM_CLOSE,
                    since=mark)
    time.sleep(1)
    assert app.running and window_info(wine, bundle_dir) is not None

    # Released again, the same messages are handled by the window.
    for message in (WM_FONTCHANGE, WM_COPYDATA, WM_CLOSE):
        dart.control("unclaim_message", message)
    time.sleep(0.5)
    assert probe(wine, bundle_dir, "url", url) == (0, ["url 1"])
    wait_pushed(dart, url)
    assert close_app(wine, bundle_dir, app) == 0


@pytest.mark.parametrize("missing", ["data", "data/icudtl.dat"])
def test_missing_engine_files_end_with_one(launch, wine, bundle_dir, tmp_path,
                                           missing):
    """No data folder: no view controller; no ICU data: no engine at all,
    and nothing asks the embedding for anything with its null handle."""
    folder = copy_bundle(bundle_dir, tmp_path / "no data", with_data=True)
    target = folder / missing
    if target.is_dir():
        shutil.rmtree(target)
    else:
        target.unlink()
    app = launch(folder / APP, dart=False)
    assert app.wait(60) == 1
    stderr = app.stderr()
    assert "Failed to create view controller." in stderr
    assert "Cannot get plugin registrar" not in stderr
    assert window_info(wine, bundle_dir) is None


def test_start_from_another_folder_rewrites_the_command_whole(
        launch, wine, bundle_dir, tmp_path):
    """A path of 260 or more units is never cut short in the command, and
    the app still finds its data folder there."""
    app = start_app(launch)
    assert command_path(registered_command(wine)).lower() == \
        wine.windows_path(bundle_dir / APP).lower()
    assert close_app(wine, bundle_dir, app) == 0
    folder = tmp_path
    while len(wine.windows_path(folder / APP)) < 300:
        folder = folder / ("deep folder " + "x" * 40)
    copy_bundle(bundle_dir, folder)
    moved = start_app(launch, program=folder / APP, cwd=tmp_path)
    assert command_path(registered_command(wine)).lower() == \
        wine.windows_path(folder / APP).lower()
    assert close_app(wine, bundle_dir, moved) == 0



def test_a_large_session_survives_a_restart(launch, wine, bundle_dir):
    """A signed-in session over one credential's 2,560 bytes is kept in the
    vault in parts and read back whole by the next start."""
    key = "e2e/supabase.auth.token"
    session = json.dumps({
        "access_token": "eyJhbGciOiJIUzI1NiJ9." + "a1B2" * 300 + ".sig",
        "refresh_token": "r" * 40,
        "user": {"email": "hong@example.com",
                 "user_metadata": {"full_name": "홍길동 (Zoë)"},
                 "identities": [{"provider": "google"}]},
        "provider_token": "ya29." + "x-Y_" * 1200,
    }, ensure_ascii=False)
    assert 6000 < len(session.encode()) < 7000
    app = start_app(launch)
    assert app.dart.invoke(KEYCHAIN, "write",
                           {"key": key, "value": session}) is True
    assert close_app(wine, bundle_dir, app) == 0
    again = start_app(launch)
    try:
        assert again.dart.invoke(KEYCHAIN, "read", {"key": key}) == session
    finally:
        assert again.dart.invoke(KEYCHAIN, "delete", {"key": key}) is True
    assert again.dart.invoke(KEYCHAIN, "read", {"key": key}) is None
    assert close_app(wine, bundle_dir, again) == 0


# What a document, a PDF reader or a .url file may hand the shell: browsers
# escape the quote, these need not.
HOSTILE_URL = ('orvalinai://login-callback?code=1" --injected-switch '
               '"C:\\evil path')


def test_a_quote_in_a_return_url_never_makes_another_argument(
        launch, wine, bundle_dir):
    """The shell puts the URL into the registered command as it is; the
    host reads it as one argument when it hands it off and when it starts
    with it."""
    first = start_app(launch)  # registers the scheme for this bundle
    wine.reg_delete(MACHINE_SCHEME_KEY)
    wine.reg_copy(SCHEME_KEY, MACHINE_SCHEME_KEY)
    try:
        code, lines = probe(wine, bundle_dir, "shell-open", HOSTILE_URL)
        assert code == 0, lines
        wait_pushed(first.dart, HOSTILE_URL, 60)
        assert close_app(wine, bundle_dir, first) == 0

        # The shell starts the host; it connects to the opener's Dart side.
        opener = launch("host_probe.exe", "shell-open", HOSTILE_URL)
        opener.dart.wait_connected(60)
        created = opener.dart.wait_event("engine_created").data
        assert created["arguments"] == [HOSTILE_URL]
        opener.dart.wait_event("next_frame", timeout=60)
        assert take_pending(opener.dart) == [HOSTILE_URL]
        assert probe(wine, bundle_dir, "close")[0] == 0
        deadline = time.monotonic() + 60
        while window_info(wine, bundle_dir) is not None:
            assert time.monotonic() < deadline, "the host did not end"
            time.sleep(0.3)
    finally:
        wine.reg_delete(MACHINE_SCHEME_KEY)
