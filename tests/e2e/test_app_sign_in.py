"""One sign-in, end to end: the Dart side starts an auth session, the
stand-in browser (registered as the https handler) "signs in" and opens the
orvalinai return URL through the shell, Wine starts a second instance
through the registered scheme, and that instance's hand-off answers the
waiting call."""

import time

import pytest
from orvalin_dev.codec import decode_envelope, encode_method_call

from app_support import (
    APPROVED_AUTH_PREFIX, HTTPS_COMMAND_KEY, MACHINE_SCHEME_KEY, SCHEME_KEY,
    Success, close_app, pushed_urls, start_app, take_pending)


@pytest.fixture
def app(launch):
    return start_app(launch)


@pytest.fixture
def browser(app, wine, bundle_dir, tmp_path):
    """The stand-in browser as the prefix's https handler; the handler that
    was there before comes back afterwards. Yields the browser's log. (The
    host starts first: Wine's own helper processes then never hold on to
    the output pipes of these registry commands.)"""
    log = tmp_path / "browser.log"
    previous = wine.reg_query(HTTPS_COMMAND_KEY)
    command = (f'"{wine.windows_path(bundle_dir / "standin_browser.exe")}" '
               f'"{wine.windows_path(log)}" "%1"')
    wine.reg_add(HTTPS_COMMAND_KEY, None, command)
    yield log
    if previous is None:
        wine.reg_delete(HTTPS_COMMAND_KEY)
    else:
        wine.reg_add(HTTPS_COMMAND_KEY, None, previous)


def mirror_scheme_to_machine(wine):
    """Wine's shell looks up URL schemes only among the machine's classes."""
    wine.reg_delete(MACHINE_SCHEME_KEY)
    wine.reg_copy(SCHEME_KEY, MACHINE_SCHEME_KEY)


def test_sign_in_round_trip_answers_the_waiting_call(app, wine, bundle_dir,
                                                     browser):
    mirror_scheme_to_machine(wine)
    sign_in = (APPROVED_AUTH_PREFIX + "authorize?provider=google"
               "&redirect_to=orvalinai%3A%2F%2Flogin-callback")
    since = len(app.dart.host_messages)

    pending = app.dart.post("orvalin.ai/auth_session", encode_method_call(
        "startAuthSession", {"url": sign_in}))
    answer = decode_envelope(app.dart.wait_reply(pending, timeout=90))

    returned = "orvalinai://login-callback?code=standin-code"
    assert answer == Success(returned)
    lines = browser.read_text().splitlines()
    assert lines[0] == "opened " + sign_in
    assert lines[1].startswith("returned " + returned + " ")
    # The URL answered the session alone: neither queued nor pushed.
    assert take_pending(app.dart) == []
    assert pushed_urls(app.dart, since) == []
    assert close_app(wine, bundle_dir, app) == 0


def test_unapproved_sign_in_url_never_reaches_the_browser(app, wine,
                                                          bundle_dir, browser):
    answer = app.dart.invoke_result(
        "orvalin.ai/auth_session", "startAuthSession",
        {"url": "https://orvalin-dev.supabase.co/auth/v2/authorize"})
    assert answer.code == "invalid_auth_session_url"
    time.sleep(1)
    assert not browser.exists()
    assert close_app(wine, bundle_dir, app) == 0
