"""Helpers for the end-to-end tests of orvalin_ai.exe, the application host.

The host runs under Wine with the stand-in engine; the test plays the Dart
side. The names and window helpers come from tools/orvalin_dev/app.py.
"""

import re
import shutil
import time
from pathlib import Path

from orvalin_dev.app import (  # noqa: F401
    APP, APPROVED_AUTH_PREFIX, AUTH_CALLBACK, HTTPS_COMMAND_KEY,
    MACHINE_SCHEME_KEY, SCHEME_KEY, TAKE_PENDING, TITLE, WINDOW_CLASS, probe,
    use_browser, wait_visible, window_info)
from orvalin_dev.codec import ErrorResult, Success  # noqa: F401

# Window messages the tests name.
WM_CLOSE = 0x0010
WM_SHOWWINDOW = 0x0018
WM_FONTCHANGE = 0x001D
WM_COPYDATA = 0x004A


def start_app(launch, *args, env=None, cwd=None, program=APP):
    """Starts the host as a first instance; returns after its first frame."""
    app = launch(program, *args, env=env, cwd=cwd)
    app.dart.wait_connected(60)
    app.dart.wait_event("next_frame", timeout=60)
    return app


def close_app(wine, bundle_dir, app, timeout=60):
    """Closes the window as its close button would; returns the exit code."""
    code, _ = probe(wine, bundle_dir, "close")
    assert code == 0, "no host window to close"
    return app.wait(timeout)


def wait_output(process, word, timeout=30):
    """Waits until a helper program prints |word| (its readiness signal)."""
    deadline = time.monotonic() + timeout
    while word not in process.stdout():
        assert time.monotonic() < deadline and process.running, \
            process.stderr()
        time.sleep(0.1)


def take_pending(dart):
    return dart.invoke(AUTH_CALLBACK, TAKE_PENDING)


def pushed_urls(dart, since=0):
    """URLs the host pushed as "authCallback" (host message index >= since)."""
    return [m.arguments for m in dart.host_messages[since:]
            if m.channel == AUTH_CALLBACK and m.method == "authCallback"]


def wait_pushed(dart, url, timeout=30):
    message = dart.wait_host_call(AUTH_CALLBACK, "authCallback", timeout)
    assert message.id == 0, "authCallback must not await a reply"
    assert message.arguments == url
    return message


def copy_bundle(bundle_dir, target, with_data=True):
    """Copies the host, its DLLs and (optionally) data folder to `target`."""
    target = Path(target)
    target.mkdir(parents=True, exist_ok=True)
    for name in (APP, "flutter_windows.dll", "url_launcher_windows_plugin.dll",
                 "video_player_win_plugin.dll"):
        shutil.copy2(Path(bundle_dir) / name, target / name)
    if with_data:
        shutil.copytree(Path(bundle_dir) / "data", target / "data",
                        dirs_exist_ok=True)
    return target


def registered_command(wine):
    return wine.reg_query(SCHEME_KEY + r"\shell\open\command")


def command_path(command):
    """The executable path of a registered
    '"<path>" --single-argument %1' command."""
    match = re.fullmatch(r'"([^"]+)" --single-argument %1', command or "")
    assert match, f"unexpected command {command!r}"
    return match.group(1)
