#!/usr/bin/env bash
# Builds the Windows bundle and runs Orvalin AI under Wine with the
# development stand-in engine.
#
#   bash scripts/run.sh [arguments for the app]
#
# On a desktop (DISPLAY set) the window simply opens; close it to finish.
# Without a display, or with ORVALIN_HEADLESS=1, it runs a short guided tour
# on a virtual screen instead: it plays the Dart side, waits for the first
# frame, saves a screenshot, signs in once through a stand-in browser, shows
# what crossed the channels and closes the window.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
# Another tree may be named, e.g. ORVALIN_BUILD_DIR=build/mine.
build=$(realpath -m "${ORVALIN_BUILD_DIR:-$root/build/windows}")
bundle="$build/bundle"

step() { printf '\n== %s\n' "$*"; }

step "Checking the tools (scripts/setup.sh)"
bash scripts/setup.sh

step "Building the Windows bundle (cmake preset \"windows\")"
cmake --preset windows -B "$build" >/dev/null
cmake --build "$build" -j2 --target orvalin_ai standin standin_browser \
  host_probe
echo "bundle: $bundle"

headless=0
if [[ -z "${DISPLAY:-}" || "${ORVALIN_HEADLESS:-0}" == 1 ]]; then
  headless=1
  unset DISPLAY  # the Wine session starts a virtual screen (Xvfb)
fi

step "Starting Wine (prefix $build/wineprefix)"
# shellcheck source=scripts/wine-session.sh
source scripts/wine-session.sh
trap wine_session_stop EXIT
wine_session_start "$build"
echo "display: $DISPLAY"

if ((headless == 0)); then
  step "Opening Orvalin AI; close its window to finish"
  set +e
  (cd "$bundle" && wine ./orvalin_ai.exe "$@")
  code=$?
  set -e
  echo "Orvalin AI ended with exit code $code"
  exit "$code"
fi

step "No display: guided run on a virtual screen"
ORVALIN_BUILD_DIR="$build" ORVALIN_SCREENSHOT="$build/screenshot.png" \
  /usr/bin/python3 - "$@" <<'PYTHON'
"""Plays the Dart side of Orvalin AI for one short session."""
import json
import os
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path.cwd() / "tests" / "e2e"))
from conftest import WineSession  # noqa: E402
from dartside.codec import decode_envelope, encode_method_call  # noqa: E402
from dartside.connection import DartSide  # noqa: E402
import app_support as app  # noqa: E402

build = Path(os.environ["ORVALIN_BUILD_DIR"])
bundle = build / "bundle"
shot = Path(os.environ["ORVALIN_SCREENSHOT"])
wine = WineSession(build)


def say(text):
    print(text, flush=True)


def show(channel, method, arguments, answer):
    say(f"  Dart -> host  {channel} {method}({json.dumps(arguments)})")
    say(f"  host -> Dart  {answer!r}")


def call(dart, channel, method, arguments=None, timeout=20):
    answer = decode_envelope(dart.send_raw(
        channel, encode_method_call(method, arguments), timeout))
    show(channel, method, arguments, answer)
    return answer


dart = DartSide()
env = dict(wine.env, **dart.env)
logs = build / "run-logs"
logs.mkdir(exist_ok=True)
with open(logs / "orvalin_ai.stderr", "wb") as err:
    host = subprocess.Popen(["wine", "./orvalin_ai.exe", *sys.argv[1:]],
                            cwd=bundle, env=env, stdin=subprocess.DEVNULL,
                            stdout=err, stderr=err)
try:
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

    info = app.wait_visible(wine, bundle)
    left, top, right, bottom = info["rect"]
    say(f"The window \"{info['title']}\" is visible at ({left}, {top}), "
        f"{right - left} x {bottom - top}")
    time.sleep(0.5)
    subprocess.run(["import", "-window", "root", "-crop",
                    f"{right - left}x{bottom - top}+{left}+{top}", str(shot)],
                   env=wine.env, check=True, timeout=30)
    say(f"Screenshot: {shot}")

    say("\nChannels:")
    call(dart, "orvalin.ai/app_storage", "applicationSupportDirectory")
    call(dart, app.AUTH_CALLBACK, app.TAKE_PENDING)

    say("\nSign-in through the stand-in browser:")
    browser_log = logs / "browser.log"
    browser_log.unlink(missing_ok=True)
    wine.reg_add(app.HTTPS_COMMAND_KEY, None,
                 f'"{wine.windows_path(bundle / "standin_browser.exe")}" '
                 f'"{wine.windows_path(browser_log)}" "%1"')
    # Wine's shell finds URL schemes only among the machine's classes.
    wine.reg_delete(app.MACHINE_SCHEME_KEY)
    wine.reg_copy(app.SCHEME_KEY, app.MACHINE_SCHEME_KEY)
    say(f"  https handler: standin_browser.exe; orvalinai command: "
        f"{app.registered_command(wine)}")
    url = (app.APPROVED_AUTH_PREFIX + "authorize?provider=google"
           "&redirect_to=orvalinai%3A%2F%2Flogin-callback")
    answer = call(dart, "orvalin.ai/auth_session", "startAuthSession",
                  {"url": url}, timeout=90)
    for line in browser_log.read_text().splitlines():
        say(f"  browser: {line}")
    pushed = dart.host_messages
    for message in pushed:
        say(f"  host -> Dart  {message.channel} {message.method}"
            f"({message.arguments!r})")
    if not pushed:
        say("  (the host pushed nothing: the return URL answered the call)")
    wine.reg_delete(app.HTTPS_COMMAND_KEY)

    say("\nClosing the window")
    app.probe(wine, bundle, "close")
    code = host.wait(60)
    shutdown = "engine_shutdown" in dart.event_names()
    say(f"  engine shut down: {'yes' if shutdown else 'no'}")
    say(f"Orvalin AI ended with exit code {code} "
        f"(its standard error: {logs / 'orvalin_ai.stderr'})")
    ok = code == 0 and getattr(answer, "value", None) == \
        "orvalinai://login-callback?code=standin-code"
    sys.exit(0 if ok else 1)
finally:
    if host.poll() is None:
        host.kill()
    dart.close()
PYTHON
