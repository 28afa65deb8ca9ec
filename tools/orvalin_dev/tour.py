"""A short guided run of Orvalin AI on a virtual screen, playing the Dart
side: waits for the first frame, saves a screenshot, signs in once through
the stand-in browser, shows what crossed the channels and closes the window.

    PYTHONPATH=tools python3 -m orvalin_dev.tour [arguments for the app]

ORVALIN_BUILD_DIR names the Windows build tree (default build/windows; its
bundle must be built), ORVALIN_SCREENSHOT the picture (default
<build>/screenshot.png). Exits 0 when the sign-in answered with the return
URL and the app ended with 0.
"""

import json
import os
import subprocess
import sys
import time
from pathlib import Path

from . import app
from .codec import decode_envelope, encode_method_call
from .launch import Launcher
from .wine import WineSession

RETURN_URL = "orvalinai://login-callback?code=standin-code"


def say(text):
    print(text, flush=True)


def call(dart, channel, method, arguments=None, timeout=20):
    answer = decode_envelope(dart.send_raw(
        channel, encode_method_call(method, arguments), timeout))
    say(f"  Dart -> host  {channel} {method}({json.dumps(arguments)})")
    say(f"  host -> Dart  {answer!r}")
    return answer


def show_start(dart):
    dart.wait_connected(90)
    created = dart.wait_event("engine_created").data
    say("The engine started:")
    say(f"  assets {created['assets_path']}, ICU {created['icu_data_path']}, "
        f"app {created['aot_library_path']}")
    say(f"  entrypoint arguments {created['arguments']}")
    dart.wait_event("next_frame", timeout=60)
    plugins = [e.data["name"] for e in dart.events
               if e.name == "registrar_requested"]
    say(f"  plugins {plugins}; first frame drawn")


def screenshot(wine, bundle, shot):
    info = app.wait_visible(wine, bundle)
    left, top, right, bottom = info["rect"]
    say(f"The window \"{info['title']}\" is visible at ({left}, {top}), "
        f"{right - left} x {bottom - top}")
    time.sleep(0.5)
    subprocess.run(["import", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", str(shot)],
                   env=wine.env, check=True, timeout=30)
    say(f"Screenshot: {shot}")


def sign_in(wine, dart, bundle, logs):
    say("\nSign-in through the stand-in browser:")
    browser_log = logs / "browser.log"
    browser_log.unlink(missing_ok=True)
    previous = app.use_browser(wine, bundle, browser_log)
    command = wine.reg_query(app.SCHEME_KEY + r"\shell\open\command")
    say(f"  https handler: standin_browser.exe; orvalinai command: {command}")
    url = (app.APPROVED_AUTH_PREFIX + "authorize?provider=google"
           "&redirect_to=orvalinai%3A%2F%2Flogin-callback")
    try:
        answer = call(dart, "orvalin.ai/auth_session", "startAuthSession",
                      {"url": url}, timeout=90)
    finally:
        if previous is None:
            wine.reg_delete(app.HTTPS_COMMAND_KEY)
        else:
            wine.reg_add(app.HTTPS_COMMAND_KEY, None, previous)
    for line in browser_log.read_text().splitlines():
        say(f"  browser: {line}")
    for message in dart.host_messages:
        say(f"  host -> Dart  {message.channel} {message.method}"
            f"({message.arguments!r})")
    if not dart.host_messages:
        say("  (the host pushed nothing: the return URL answered the call)")
    return answer


def tour(wine, build, shot, arguments):
    bundle = build / "bundle"
    logs = build / "run-logs"
    logs.mkdir(exist_ok=True)
    launcher = Launcher(bundle, wine, logs)
    host = launcher(app.APP, *arguments)
    dart = host.dart
    try:
        show_start(dart)
        screenshot(wine, bundle, shot)
        say("\nChannels:")
        call(dart, "orvalin.ai/app_storage", "applicationSupportDirectory")
        call(dart, app.AUTH_CALLBACK, app.TAKE_PENDING)
        answer = sign_in(wine, dart, bundle, logs)
        say("\nClosing the window")
        app.probe(wine, bundle, "close")
        code = host.wait(60)
        shutdown = "engine_shutdown" in dart.event_names()
        say(f"  engine shut down: {'yes' if shutdown else 'no'}")
        say(f"Orvalin AI ended with exit code {code} "
            f"(its standard error: {host.stderr_path})")
        return code == 0 and getattr(answer, "value", None) == RETURN_URL
    finally:
        launcher.stop_all()


def main(arguments):
    repo = Path(__file__).resolve().parents[2]
    build = Path(os.environ.get("ORVALIN_BUILD_DIR",
                                repo / "build" / "windows")).resolve()
    shot = Path(os.environ.get("ORVALIN_SCREENSHOT", build / "screenshot.png"))
    wine = WineSession(build)
    try:
        return 0 if tour(wine, build, shot, arguments) else 1
    finally:
        wine.stop()


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
