"""orvalin_ai.exe started once with arguments and shared by this module:
what the engine is given, the plugins and channels it gets, the window, the
URL scheme in the registry, and everything a later instance or another
program can do to the running one."""

import time

import pytest
from orvalin_dev.codec import decode_envelope, encode_method_call

from app_support import (
    APP, AUTH_CALLBACK, SCHEME_KEY, TITLE, WINDOW_CLASS, ErrorResult,
    Success, command_path, probe, pushed_urls, start_app, take_pending,
    wait_output, wait_pushed, wait_visible)

FIRST_URL = "orvalinai://Login-Callback?code=Mixed"
LATER_URL = "orvalinai://payment-return?order=2"
ARGUMENTS = ["--flag", FIRST_URL, "second word", LATER_URL]


@pytest.fixture(scope="module")
def running(module_launch):
    """The first instance, started with two return URLs among its
    arguments. Its cold-start pending list is taken at once, before any
    test can add to it."""
    app = start_app(module_launch, *ARGUMENTS)
    app.cold_pending = take_pending(app.dart)
    app.cold_pushed = pushed_urls(app.dart)
    return app


@pytest.fixture
def app(running):
    assert running.running, f"host ended: {running.stderr()[-2000:]}"
    return running


def test_engine_runs_the_data_folder_with_every_argument(app):
    created = app.dart.wait_event("engine_created").data
    assert created["assets_path"] == r"data\flutter_assets"
    assert created["icu_data_path"] == r"data\icudtl.dat"
    assert created["aot_library_path"] == r"data\app.so"
    assert created["entrypoint"] == ""
    # Both URLs reach the Dart entrypoint, case and spaces kept.
    assert created["arguments"] == ARGUMENTS


def test_plugins_are_registered_in_order_before_the_first_frame(app):
    names = [(e.name, e.data.get("name")) for e in app.dart.events
             if e.name in ("registrar_requested", "next_frame")]
    assert names == [("registrar_requested", "UrlLauncherWindows"),
                     ("registrar_requested", "VideoPlayerWinPluginCApi"),
                     ("next_frame", None)]


def test_cold_start_url_is_queued_once_and_never_pushed(app):
    # Only the first return URL on the command line is queued.
    assert app.cold_pending == [FIRST_URL]
    assert app.cold_pushed == []
    assert take_pending(app.dart) == []


def test_window_is_shown_at_its_logical_geometry(app, wine, bundle_dir):
    info = wait_visible(wine, bundle_dir)
    assert info["class"] == WINDOW_CLASS
    assert info["title"] == TITLE
    # The prefix's monitor is at 96 DPI: logical equals physical.
    assert info["rect"] == (10, 10, 10 + 1280, 10 + 720)


def test_scheme_is_registered_for_this_executable(app, wine, bundle_dir):
    keys = wine.reg_export(SCHEME_KEY)
    assert keys is not None, "orvalinai is not registered"
    root = next(v for k, v in keys.items() if k.lower().endswith(
        r"\software\classes\orvalinai"))
    assert root == {"": "URL:orvalinai Protocol", "URL Protocol": ""}
    command = next(v for k, v in keys.items() if k.lower().endswith(
        r"\orvalinai\shell\open\command"))
    assert list(command) == [""]
    assert command_path(command[""]).lower() == \
        wine.windows_path(bundle_dir / APP).lower()


def test_every_service_channel_answers(app, wine):
    dart = app.dart
    assert isinstance(dart.invoke_result("orvalin.ai/keychain", "read", {}),
                      ErrorResult)
    assert isinstance(dart.invoke_result(
        "orvalin.ai/app_storage", "applicationSupportDirectory").value, str)
    assert dart.invoke_result(AUTH_CALLBACK,
                              "takePendingAuthCallbackUrls") == Success([])
    assert dart.invoke_result("orvalin.ai/auth_session", "startAuthSession") \
        == ErrorResult("invalid_auth_session_args", "missing arguments")
    state = dart.invoke_result("orvalin.ai/audio_player", "state").value
    assert set(state) == {"positionMs", "durationMs", "isPlaying"}
    assert dart.invoke_result("orvalin.ai/pdf_export", "savePdf").code == \
        "pdf_unsupported_windows"
    # The profile image channel answers only once its dialog is dismissed.
    pending = dart.post("orvalin.ai/profile_image",
                        encode_method_call("pickProfileImage"))
    dialog = wine.wait_window("프로필 사진 선택", visible_only=True, timeout=30)
    wine.xdotool("key", "--window", dialog[0], "Escape")
    assert decode_envelope(dart.wait_reply(pending, timeout=30)) == \
        Success(None)


def test_second_instance_hands_its_url_to_the_running_window(
        app, launch, wine, bundle_dir):
    url = "orvalinai://login-callback/?code=second&state=%C3%A9"
    since = len(app.dart.host_messages)
    second = launch(APP, "--ignored", url, "orvalinai://payment-return")
    assert second.wait(60) == 0
    # The second instance never started an engine of its own.
    assert not second.dart.connected
    wait_pushed(app.dart, url)
    assert pushed_urls(app.dart, since) == [url]
    assert take_pending(app.dart) == [url]


def test_second_instance_without_url_just_exits(app, launch):
    since = len(app.dart.host_messages)
    second = launch(APP, "https://example.com/", "--verbose")
    assert second.wait(60) == 0
    assert not second.dart.connected
    time.sleep(1)
    assert pushed_urls(app.dart, since) == []
    assert take_pending(app.dart) == []


def test_decoy_with_the_same_title_receives_nothing(app, launch):
    """A window of another class titled "Orvalin AI" (a folder window, say)
    that is newer and in front must not be handed the URL."""
    decoy = launch("decoy_window.exe", "6000", dart=False)
    wait_output(decoy, "ready")
    url = "orvalinai://checkout-return?session=decoy"
    second = launch(APP, url, dart=False)
    assert second.wait(60) == 0
    wait_pushed(app.dart, url)
    assert take_pending(app.dart) == [url]
    assert decoy.wait(30) == 0
    assert "received 0" in decoy.stdout()


def test_malformed_copydata_answers_true_and_relays_nothing(
        app, wine, bundle_dir):
    since = len(app.dart.host_messages)
    code, lines = probe(wine, bundle_dir, "malformed")
    assert code == 0
    results = dict(line.split() for line in lines)
    assert len(results) == 10
    assert set(results.values()) == {"1"}, results
    # A well-formed record after them is relayed: the host was listening.
    url = "orvalinai://payment-return?after=malformed"
    code, lines = probe(wine, bundle_dir, "url", url)
    assert (code, lines) == (0, ["url 1"])
    wait_pushed(app.dart, url)
    assert pushed_urls(app.dart, since) == [url]
    assert take_pending(app.dart) == [url]


def test_font_change_reloads_the_engine_fonts(app, wine, bundle_dir):
    mark = app.dart.mark()
    code, lines = probe(wine, bundle_dir, "font")
    assert (code, lines) == (0, ["font 0"])
    app.dart.wait_event("fonts_reloaded", since=mark, timeout=20)
