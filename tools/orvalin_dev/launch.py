"""Bundle programs run under Wine with a Dart side attached.

    launcher = Launcher(bundle_dir, wine_session, log_dir)
    app = launcher("orvalin_ai.exe", "--flag")   # a HostProcess
    app.dart.wait_connected(60)
    launcher.stop_all()

Standard output and error of each program go to files in log_dir.
"""

import signal
import subprocess
from pathlib import Path

from .connection import DartSide


def _not_found(message):
    raise FileNotFoundError(message)


class HostProcess:
    """A bundle program running under Wine. Its standard output and error
    go to files (`stdout_path`, `stderr_path`); `dart` is the DartSide its
    engine connects to (None when launched with dart=False)."""

    def __init__(self, popen, path, dart, stdout_path, stderr_path):
        self.popen = popen
        self.path = path
        self.dart = dart
        self.stdout_path = stdout_path
        self.stderr_path = stderr_path

    @property
    def running(self):
        return self.popen.poll() is None

    def stdout(self):
        return self.stdout_path.read_text(errors="replace")

    def stderr(self):
        return self.stderr_path.read_text(errors="replace")

    def wait(self, timeout=30):
        """Waits for the program to end; returns its exit code."""
        try:
            return self.popen.wait(timeout)
        except subprocess.TimeoutExpired:
            raise AssertionError(
                f"{self.path.name} still running after {timeout}s; "
                f"standard error ends with: {self.stderr()[-2000:]!r}") from None

    def kill(self):
        """Ends the program if it still runs (TERM, then KILL) and waits."""
        if self.popen.poll() is None:
            self.popen.send_signal(signal.SIGTERM)
            try:
                self.popen.wait(5)
            except subprocess.TimeoutExpired:
                self.popen.kill()
                self.popen.wait(10)
        if self.dart is not None:
            self.dart.close()

    def __repr__(self):
        return f"HostProcess({self.path.name}, pid={self.popen.pid})"


class Launcher:
    """Starts bundle programs under Wine and remembers them, so that
    `stop_all` can end every one (the fixtures call it at teardown)."""

    def __init__(self, bundle_dir, wine, log_dir, missing=None):
        self.bundle_dir = Path(bundle_dir)
        self.missing = missing
        self.wine = wine
        self.log_dir = Path(log_dir)
        self.started = []

    def __call__(self, program, *args, env=None, dart=True, cwd=None):
        """Starts <bundle>/<program> with `args`. With dart=True a fresh
        DartSide listens and the engine is told to connect to it. `env`
        entries are added to the session's environment. The working folder
        is the bundle unless `cwd` says otherwise. A program that is not
        built goes to `missing(message)` when given, else raises
        FileNotFoundError."""
        path = self.bundle_dir / program
        if not path.is_file():
            (self.missing or _not_found)(f"{path} is not built")
        full_env = dict(self.wine.env)
        side = DartSide() if dart else None
        if side is not None:
            full_env.update(side.env)
        full_env.update(env or {})
        n = len(self.started)
        stdout_path = self.log_dir / f"{path.stem}-{n}.stdout"
        stderr_path = self.log_dir / f"{path.stem}-{n}.stderr"
        with open(stdout_path, "wb") as out, open(stderr_path, "wb") as err:
            try:
                popen = subprocess.Popen(
                    ["wine", str(path), *map(str, args)], env=full_env,
                    cwd=str(cwd or self.bundle_dir), stdin=subprocess.DEVNULL,
                    stdout=out, stderr=err)
            except BaseException:
                if side is not None:
                    side.close()
                raise
        process = HostProcess(popen, path, side, stdout_path, stderr_path)
        self.started.append(process)
        return process

    def stop_all(self):
        for process in reversed(self.started):
            process.kill()
