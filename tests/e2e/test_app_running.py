"""orvalin_ai.exe started once with arguments and shared by this module:
what the engine is given, its plugins, channels, window and URL scheme,
and what later instances and other programs can do to it."""

import time

import pytest
from orvalin_dev.codec import decode_envelope, encode_method_call

from app_support import (
    APP, AUTH_CALLBACK, SCHEME_KEY, ErrorResult, Success, command_path,
    probe, pushed_urls, start_app, take_pending, wait_output, wait_pushed)

FIRST_URL = "orvalinai://Login-Callback?code=Mixed"
LATER_URL = "orvalinai://payment-return?order=2"
ARGUMENTS = ["--flag", FIRST_URL, "second word", LATER_URL]


@pytest.fixture(scope="module")
def running(module_launch):
    """The first instance, with two return URLs among its arguments; its
    cold-start pending list is taken before any test can add to it."""
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
    dialog = wine.wait_window("프로필 사진 선택", timeout=30)
    wine.xdotool("key", "--window", dialog[0], "Escape")
    assert decode_envelope(dart.wait_reply(pending, 30)) == Success(None)


@pytest.mark.parametrize("arguments, handed", [
    (["--ignored", "orvalinai://login-callback/?code=second&state=%C3%A9",
      "orvalinai://payment-return"],
     "orvalinai://login-callback/?code=second&state=%C3%A9"),
    (["https://example.com/", "--verbose"], None),
], ids=["url", "no-url"])
def test_second_instance_hands_over_its_first_url_and_exits(
        app, launch, arguments, handed):
    since = len(app.dart.host_messages)
    second = launch(APP, *arguments)
    assert second.wait(60) == 0
    # The second instance never started an engine of its own.
    assert not second.dart.connected
    if handed:
        wait_pushed(app.dart, handed)
    time.sleep(1)
    assert pushed_urls(app.dart, since) == ([handed] if handed else [])
    assert take_pending(app.dart) == ([handed] if handed else [])


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
    assert code == 0 and lines
    assert [line.split()[1] for line in lines] == ["1"] * len(lines), lines
    # A well-formed record after them is relayed: the host was listening.
    url = "orvalinai://payment-return?after=malformed"
    assert probe(wine, bundle_dir, "url", url) == (0, ["url 1"])
    wait_pushed(app.dart, url)
    assert pushed_urls(app.dart, since) == [url]
    assert take_pending(app.dart) == [url]


def test_font_change_reloads_the_engine_fonts(app, wine, bundle_dir):
    mark = app.dart.mark()
    code, lines = probe(wine, bundle_dir, "font")
    assert (code, lines) == (0, ["font 0"])
    app.dart.wait_event("fonts_reloaded", since=mark, timeout=20)
