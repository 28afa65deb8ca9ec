"""One sign-in, end to end: the Dart side starts an auth session, the
stand-in browser (the prefix's https handler) "signs in" and opens the
orvalinai return URL through the shell, Wine starts a second instance
through the registered scheme, and its hand-off answers the waiting call."""

import time

import pytest

from app_support import (
    APPROVED_AUTH_PREFIX, HTTPS_COMMAND_KEY, Success, close_app, pushed_urls,
    start_app, take_pending, use_browser)


@pytest.fixture
def app(launch):
    return start_app(launch)


@pytest.fixture
def browser(app, wine, bundle_dir, tmp_path):
    """Yields the stand-in browser's log; the earlier https handler comes
    back afterwards. (The host starts first: Wine's helper processes then
    never hold on to the output pipes of the registry commands.)"""
    log = tmp_path / "browser.log"
    previous = use_browser(wine, bundle_dir, log)
    yield log
    if previous is None:
        wine.reg_delete(HTTPS_COMMAND_KEY)
    else:
        wine.reg_add(HTTPS_COMMAND_KEY, None, previous)


def test_sign_in_round_trip_answers_the_waiting_call(app, wine, bundle_dir,
                                                     browser):
    sign_in = (APPROVED_AUTH_PREFIX + "authorize?provider=google"
               "&redirect_to=orvalinai%3A%2F%2Flogin-callback")
    since = len(app.dart.host_messages)
    answer = app.dart.invoke_result("orvalin.ai/auth_session",
                                    "startAuthSession", {"url": sign_in},
                                    timeout=90)
    returned = "orvalinai://login-callback?code=standin-code"
    assert answer == Success(returned)
    lines = browser.read_text().splitlines()
    assert lines[0] == "opened " + sign_in
    assert lines[1].startswith("returned " + returned + " ")
    # The URL answered the session alone: neither queued nor pushed.
    assert take_pending(app.dart) == []
    assert pushed_urls(app.dart, since) == []
    assert close_app(wine, bundle_dir, app) == 0


def test_unapproved_sign_in_url_never_reaches_the_browser(app, browser):
    answer = app.dart.invoke_result(
        "orvalin.ai/auth_session", "startAuthSession",
        {"url": "https://orvalin-dev.supabase.co/auth/v2/authorize"})
    assert answer.code == "invalid_auth_session_url"
    time.sleep(1)
    assert not browser.exists()
