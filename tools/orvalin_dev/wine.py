"""A Wine session for running the Windows build: its own prefix, an X
display (Xvfb when none is set), a persistent wineserver and a silent sound
card, plus registry and X window helpers.

    session = WineSession(build_dir)   # prefix <build_dir>/wineprefix
    session.run(["reg", "query", key])
    session.stop()

The prefix never opens Wine's crash dialog: a Windows program that crashes
ends at once with its exception code instead of waiting for a click.
"""

import os
import re
import subprocess
import tempfile
import time
from pathlib import Path

# Wine's debugger shows a dialog and waits when a program crashes; with this
# value off it prints the crash and lets the program end.
CRASH_DIALOG_KEY = r"HKCU\Software\Wine\WineDbg"
CRASH_DIALOG_VALUE = "ShowCrashDialog"


class WineSession:
    """A Wine prefix, an X display and a persistent wineserver.

    `env` holds the variables every Wine process of the session gets:
    WINEPREFIX, WINEDEBUG, WINEDLLOVERRIDES, DISPLAY, ALSA_CONFIG_PATH."""

    def __init__(self, build_dir):
        self.build_dir = Path(build_dir).resolve()
        self._xvfb = None
        self._own_server = False
        env = dict(os.environ)
        env.setdefault("WINEPREFIX", str(self.build_dir / "wineprefix"))
        env["WINEDEBUG"] = env.get("WINEDEBUG") or "-all"
        env.setdefault("WINEDLLOVERRIDES", "mscoree,mshtml=")
        env.pop("ORVALIN_STANDIN_DART_SIDE", None)
        # Wine converts command-line arguments with the Unix locale's
        # character set: UTF-8 keeps non-ASCII arguments intact.
        if not (env.get("LC_ALL") or env.get("LC_CTYPE") or env.get("LANG")):
            env["LANG"] = "C.UTF-8"
        if not env.get("ALSA_CONFIG_PATH"):
            alsa = self.build_dir / "alsa.conf"
            alsa.parent.mkdir(parents=True, exist_ok=True)
            alsa.write_text("</usr/share/alsa/alsa.conf>\n"
                            "pcm.!default { type null }\n"
                            "ctl.!default { type hw card 0 }\n")
            env["ALSA_CONFIG_PATH"] = str(alsa)
        self.env = env
        self.prefix = Path(env["WINEPREFIX"])
        self._own_server = "WINEPREFIX" not in os.environ
        try:
            if not env.get("DISPLAY"):
                env["DISPLAY"] = self._start_xvfb()
            self._ensure_prefix()
            # Keeps one wineserver alive for the session (an existing one
            # for this prefix stays in charge; the new one then just exits).
            subprocess.run(["wineserver", "-p"], env=env, timeout=30,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            # The first Wine program starts the prefix's services, which
            # outlive it and inherit its streams; started here they hold no
            # pipe a later subprocess.run would wait on.
            subprocess.run(["wine", "cmd", "/c", "exit"], env=env, timeout=120,
                           stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            self._turn_off_crash_dialog()
        except BaseException:
            self.stop()
            raise

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self._xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0",
             "1920x1200x24", "-nolisten", "tcp"],
            pass_fds=(write_fd,), stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_fd)
        number = b""
        deadline = time.monotonic() + 20
        with os.fdopen(read_fd, "rb") as pipe:
            while not number.endswith(b"\n") and time.monotonic() < deadline:
                chunk = pipe.read(1)
                if not chunk:
                    break
                number += chunk
        if not number.strip().isdigit():
            raise RuntimeError("Xvfb did not report its display number")
        return ":" + number.strip().decode()

    def _ensure_prefix(self):
        if (self.prefix / "system.reg").is_file():
            return
        self.prefix.mkdir(parents=True, exist_ok=True)
        subprocess.run(["wineboot", "-i"], env=self.env, timeout=300,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)

    def _turn_off_crash_dialog(self):
        """Sets the value in new and existing prefixes alike; skipped when
        the prefix's saved registry already holds it."""
        user_reg = self.prefix / "user.reg"
        saved = user_reg.read_text(errors="replace") if user_reg.is_file() \
            else ""
        if re.search(r'^\[Software\\\\Wine\\\\WineDbg\][^[]*'
                     r'^"ShowCrashDialog"=dword:00000000$', saved, re.M):
            return
        subprocess.run(["wine", "reg", "add", CRASH_DIALOG_KEY, "/v",
                        CRASH_DIALOG_VALUE, "/t", "REG_DWORD", "/d", "0", "/f"],
                       env=self.env, timeout=120, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
                       check=True)

    def stop(self):
        if self._own_server:
            subprocess.run(["wineserver", "-k"], env=self.env, timeout=60,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if self._xvfb is not None:
            self._xvfb.terminate()
            try:
                self._xvfb.wait(10)
            except subprocess.TimeoutExpired:
                self._xvfb.kill()
                self._xvfb.wait()
            self._xvfb = None

    # ---------------------------------------------------------- commands

    def run(self, args, timeout=60, check=True):
        """Runs a Wine command (e.g. ["reg", "query", key]) to completion;
        returns the CompletedProcess with text stdout/stderr."""
        result = subprocess.run(["wine", *args], env=self.env, timeout=timeout,
                                capture_output=True, text=True,
                                errors="replace")
        if check and result.returncode != 0:
            raise AssertionError(f"wine {' '.join(args)} exited with "
                                 f"{result.returncode}: {result.stderr.strip()}")
        return result

    @staticmethod
    def windows_path(path):
        """The Windows form of a Unix path under Wine's Z: drive."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    # ---------------------------------------------------------- registry

    def reg_export(self, key):
        """The key and its subkeys as {key path: {value name: value}}, or
        None when the key is missing. Read through `reg export`, whose
        UTF-16 file keeps every character (`reg query` output does not).
        The default value's name is "". Values: REG_SZ and REG_EXPAND_SZ
        as str, REG_DWORD and REG_QWORD as int, REG_MULTI_SZ as a list of
        str, anything else as bytes."""
        with tempfile.TemporaryDirectory() as folder:
            target = Path(folder) / "export.reg"
            result = self.run(["reg", "export", key, self.windows_path(target),
                               "/y"], check=False)
            if result.returncode != 0 or not target.is_file():
                return None
            return parse_reg_export(target.read_bytes().decode("utf-16"))

    def reg_query(self, key, name=None):
        """The value `name` under `key` (None: the default value) as
        reg_export gives it, or None when the key or value is missing."""
        exported = self.reg_export(key)
        if exported is None:
            return None
        values = next((v for k, v in exported.items()
                       if k.lower() == _long_hive(key).lower()), {})
        wanted = "" if name is None else name.lower()
        for value_name, value in values.items():
            if value_name.lower() == wanted:
                return value
        return None

    def reg_add(self, key, name=None, data=None, type="REG_SZ"):
        """Sets value `name` (None: the default value) under `key`, creating
        the key; with data None only the key is made."""
        args = ["reg", "add", key, "/f"]
        if data is not None:
            args += (["/v", name] if name is not None else ["/ve"])
            args += ["/t", type, "/d", str(data)]
        self.run(args)

    def reg_delete(self, key, name=None):
        """Deletes a value, or the whole key when name is None. Missing
        keys are fine."""
        args = ["reg", "delete", key, "/f"] + (["/v", name] if name else [])
        self.run(args, check=False)

    def reg_copy(self, source, destination):
        self.run(["reg", "copy", source, destination, "/s", "/f"])

    # -------------------------------------------------------------- X

    def wait_window(self, name, visible_only=True, timeout=20):
        """Waits until a window whose name matches `name` exists; returns
        its ids."""
        args = ["xdotool", "search"] + (["--onlyvisible"] if visible_only
                                        else []) + ["--name", name]
        deadline = time.monotonic() + timeout
        while True:
            found = [int(w) for w in subprocess.run(
                args, env=self.env, capture_output=True, text=True,
                timeout=30).stdout.split()]
            if found:
                return found
            if time.monotonic() > deadline:
                raise AssertionError(f"no {'visible ' if visible_only else ''}"
                                     f"window named {name!r} within {timeout}s")
            time.sleep(0.2)

    def xdotool(self, *args):
        """Runs xdotool with the session's display; returns its stdout."""
        return subprocess.run(["xdotool", *map(str, args)], env=self.env,
                              capture_output=True, text=True, timeout=30,
                              check=True).stdout


_HIVES = {"HKCU": "HKEY_CURRENT_USER", "HKLM": "HKEY_LOCAL_MACHINE",
          "HKCR": "HKEY_CLASSES_ROOT", "HKU": "HKEY_USERS",
          "HKCC": "HKEY_CURRENT_CONFIG"}


def _long_hive(key):
    hive, _, rest = key.partition("\\")
    hive = _HIVES.get(hive.upper(), hive)
    return hive + ("\\" + rest if rest else "")


def _reg_string(text, i):
    """Reads a quoted .reg string starting at text[i] == '"'; returns
    (string, index after the closing quote)."""
    out = []
    i += 1
    while text[i] != '"':
        if text[i] == "\\":
            i += 1
        out.append(text[i])
        i += 1
    return "".join(out), i + 1


def _reg_data(data):
    if data.startswith('"'):
        return _reg_string(data, 0)[0]
    if data.startswith("dword:"):
        return int(data[6:], 16)
    kind, _, hex_bytes = data.partition(":")
    raw = bytes(int(b, 16) for b in hex_bytes.replace("\\", "").split(",")
                if b.strip())
    if kind == "hex(2)":
        return raw.decode("utf-16-le").rstrip("\0")
    if kind == "hex(7)":
        return [s for s in raw.decode("utf-16-le").split("\0") if s]
    if kind == "hex(b)":
        return int.from_bytes(raw, "little")
    return raw


def parse_reg_export(text):
    """Parses the text of a `reg export` file (see WineSession.reg_export)."""
    lines = []
    for line in text.splitlines():
        # Only hex data wraps: its lines end with a backslash; string
        # values end with a quote, key lines with a bracket.
        if lines and lines[-1].endswith("\\"):
            lines[-1] = lines[-1][:-1] + line.strip()
        else:
            lines.append(line)
    keys = {}
    current = None
    for line in lines:
        if line.startswith("[") and line.endswith("]"):
            current = keys.setdefault(line[1:-1], {})
        elif current is not None and (line.startswith('"') or line.startswith("@=")):
            if line.startswith("@="):
                name, rest = "", line[2:]
            else:
                name, end = _reg_string(line, 0)
                rest = line[end + 1:]
            current[name] = _reg_data(rest)
    return keys
