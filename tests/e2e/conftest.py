"""Fixtures for the end-to-end tests: the Windows bundle, a Wine session, a
launcher for bundle programs with a Dart side attached, and small helpers
for the registry and X windows.

Fixtures:
    build_dir   Path of the Windows build tree (ORVALIN_BUILD_DIR, default
                <repo>/build/windows).
    bundle_dir  <build_dir>/bundle; the test is skipped when it is not built.
    wine        the session's WineSession (prefix, display, helpers).
    launch      launch(program, *args, env=None, dart=True, cwd=None)
                -> HostProcess; everything launched is killed at teardown.
    module_launch   the same for processes shared by one test module.

The session (tools/orvalin_dev/wine.py) starts Xvfb when DISPLAY is unset,
creates the prefix when it is missing, and keeps a wineserver for the run
(stopped at the end when the session started it). Every test has a time
limit (pytest-timeout, see pytest.ini): a hung host fails its test.
"""

import os
import shutil
import signal
import subprocess
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(Path(__file__).resolve().parent), str(REPO / "tools")]

from orvalin_dev.connection import DartSide  # noqa: E402
from orvalin_dev.wine import WineSession  # noqa: E402


# ------------------------------------------------------------------ build

@pytest.fixture(scope="session")
def build_dir():
    default = REPO / "build" / "windows"
    return Path(os.environ.get("ORVALIN_BUILD_DIR", default)).resolve()


@pytest.fixture(scope="session")
def bundle_dir(build_dir):
    bundle = build_dir / "bundle"
    if not (bundle / "flutter_windows.dll").is_file():
        pytest.skip(f"the Windows bundle is not built: no "
                    f"{bundle / 'flutter_windows.dll'} (cmake --preset windows "
                    f"&& cmake --build --preset windows)")
    return bundle


@pytest.fixture(scope="session")
def wine(build_dir, bundle_dir):
    if shutil.which("wine") is None:
        pytest.skip("wine is not installed")
    session = WineSession(build_dir)
    yield session
    session.stop()


# ---------------------------------------------------------------- programs

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

    def __init__(self, bundle_dir, wine, log_dir):
        self.bundle_dir = Path(bundle_dir)
        self.wine = wine
        self.log_dir = Path(log_dir)
        self.started = []

    def __call__(self, program, *args, env=None, dart=True, cwd=None):
        """Starts <bundle>/<program> with `args`. With dart=True a fresh
        DartSide listens and the engine is told to connect to it. `env`
        entries are added to the session's environment. The working folder
        is the bundle unless `cwd` says otherwise. Skips the test when the
        program is not built."""
        path = self.bundle_dir / program
        if not path.is_file():
            pytest.skip(f"{path} is not built")
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


@pytest.fixture
def launch(bundle_dir, wine, tmp_path):
    """launch(program, *args, env=None, dart=True, cwd=None) -> HostProcess.
    Everything started is killed (and its Dart side closed) when the test
    ends."""
    launcher = Launcher(bundle_dir, wine, tmp_path)
    yield launcher
    launcher.stop_all()


@pytest.fixture(scope="module")
def module_launch(bundle_dir, wine, tmp_path_factory):
    """Like `launch`, for a process shared by the tests of one module; it
    is killed when the module's tests are done."""
    launcher = Launcher(bundle_dir, wine, tmp_path_factory.mktemp("programs"))
    yield launcher
    launcher.stop_all()
