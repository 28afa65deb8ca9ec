"""Fixtures over tools/orvalin_dev: build_dir (ORVALIN_BUILD_DIR, default
build/windows), bundle_dir (skips when not built), wine (the session's
WineSession), and launch / module_launch: launch(program, *args, env=None,
dart=True, cwd=None) -> HostProcess, killed when the test (module) ends.
Every test has a time limit (pytest.ini): a hung host fails its test."""

import os
import shutil
import sys
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
sys.path[:0] = [str(Path(__file__).resolve().parent), str(REPO / "tools")]

from orvalin_dev.launch import HostProcess, Launcher  # noqa: E402,F401
from orvalin_dev.wine import WineSession, parse_reg_export  # noqa: E402,F401


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


@pytest.fixture
def launch(bundle_dir, wine, tmp_path):
    """launch(program, *args, env=None, dart=True, cwd=None) -> HostProcess.
    Everything started is killed (and its Dart side closed) when the test
    ends."""
    launcher = Launcher(bundle_dir, wine, tmp_path, pytest.skip)
    yield launcher
    launcher.stop_all()


@pytest.fixture(scope="module")
def module_launch(bundle_dir, wine, tmp_path_factory):
    """Like `launch`, for a process shared by the tests of one module; it
    is killed when the module's tests are done."""
    launcher = Launcher(bundle_dir, wine, tmp_path_factory.mktemp("programs"),
                        pytest.skip)
    yield launcher
    launcher.stop_all()
