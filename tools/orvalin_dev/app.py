"""Names orvalin_ai.exe uses, and looking at its window from outside.

host_probe.exe (built beside the host) finds the running host's window and
talks to it from another process, the way other Windows programs can.
"""

import time
from pathlib import Path

APP = "orvalin_ai.exe"
TITLE = "Orvalin AI"
WINDOW_CLASS = "FLUTTER_RUNNER_WIN32_WINDOW"
AUTH_CALLBACK = "orvalin.ai/auth_callback"
TAKE_PENDING = "takePendingAuthCallbackUrls"
SCHEME_KEY = r"HKCU\Software\Classes\orvalinai"
MACHINE_SCHEME_KEY = r"HKLM\Software\Classes\orvalinai"
HTTPS_COMMAND_KEY = r"HKLM\Software\Classes\https\shell\open\command"
APPROVED_AUTH_PREFIX = "https://orvalin-dev.supabase.co/auth/v1/"


def probe(wine, bundle_dir, *args, timeout=60):
    """Runs host_probe.exe; returns (exit code, stdout lines)."""
    result = wine.run([str(Path(bundle_dir) / "host_probe.exe"), *args],
                      timeout=timeout, check=False)
    return result.returncode, result.stdout.splitlines()


def window_info(wine, bundle_dir):
    """The running host window as {"class", "title", "rect", "visible"},
    or None when there is none."""
    code, lines = probe(wine, bundle_dir, "info")
    if code != 0:
        return None
    line = next(l for l in lines if l.startswith("window "))
    class_name, title, rect, visible = line[len("window "):].split("|")
    return {"class": class_name, "title": title,
            "rect": tuple(int(v) for v in rect.split()),
            "visible": visible == "1"}


def wait_visible(wine, bundle_dir, timeout=30):
    deadline = time.monotonic() + timeout
    while True:
        info = window_info(wine, bundle_dir)
        if info and info["visible"]:
            return info
        if time.monotonic() > deadline:
            raise AssertionError(f"host window not visible: {info}")
        time.sleep(0.3)


def use_browser(wine, bundle_dir, log):
    """Makes standin_browser.exe the prefix's https handler, writing to
    `log`, and mirrors the orvalinai scheme among the machine's classes
    (Wine's shell finds URL schemes only there). Returns the handler that
    was there before (None: none)."""
    previous = wine.reg_query(HTTPS_COMMAND_KEY)
    browser = wine.windows_path(Path(bundle_dir) / "standin_browser.exe")
    wine.reg_add(HTTPS_COMMAND_KEY, None,
                 f'"{browser}" "{wine.windows_path(log)}" "%1"')
    wine.reg_delete(MACHINE_SCHEME_KEY)
    wine.reg_copy(SCHEME_KEY, MACHINE_SCHEME_KEY)
    return previous
