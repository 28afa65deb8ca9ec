"""Crashes of the host: the minidump it leaves, and the stack
scripts/symbolize.sh makes of it.

The stand-in engine crashes where ORVALIN_STANDIN_CRASH says, inside the
FlutterDesktopViewControllerCreate call the host makes while it creates its
window. Writing a dump takes Wine 10-25 s on a loaded machine, so the
crashes here are few and their limits generous.
"""

import getpass
import os
import subprocess
from pathlib import Path

import pytest

from app_support import APP, close_app, start_app
from orvalin_dev import minidump
from orvalin_dev import symbolize as symbolize_tool

REPO = Path(__file__).resolve().parents[2]
SYMBOLIZE = REPO / "scripts" / "symbolize.sh"
CRASH_LIMIT = 300  # seconds for a crash, its dump and the process's end
POST_MORTEM_DEBUGGER = r"HKLM\Software\Microsoft\Windows NT\CurrentVersion\AeDebug"


@pytest.fixture(scope="module")
def crash_prefix(wine):
    # Wine's post-mortem debugger adds about 12 s to every crash; the
    # host's own handler ends a crash before it would run anyway.
    wine.reg_delete(POST_MORTEM_DEBUGGER, "Debugger")
    return wine


@pytest.fixture
def crashes(crash_prefix):
    """The host's crashes folder in the test prefix, emptied."""
    folder = (Path(crash_prefix.env["WINEPREFIX"]) / "drive_c/users" /
              getpass.getuser() / "AppData/Local/Orvalin AI/crashes")
    folder.mkdir(parents=True, exist_ok=True)
    for entry in folder.iterdir():
        entry.unlink()
    return folder


def crash(launch, kind):
    """Starts the host crashing as `kind`; returns its exit code."""
    app = launch(APP, env={"ORVALIN_STANDIN_CRASH": kind}, dart=False)
    return app.wait(CRASH_LIMIT)


def symbolize(dump, *folders, all_threads=False):
    options = ["--all-threads"] if all_threads else []
    result = subprocess.run(["bash", str(SYMBOLIZE), *options, str(dump),
                             *map(str, folders)],
                            capture_output=True, text=True, timeout=300)
    assert result.returncode == 0, result.stderr
    return [line.split("\t") for line in result.stdout.splitlines()]


def only_dump(folder):
    names = sorted(p.name for p in folder.iterdir())
    assert len(names) == 1 and names[0].endswith(".dmp"), names
    return folder / names[0]


def frame_names(lines):
    """The module!function (or module+offset) of every frame line."""
    return [fields[1] for fields in lines[1:] if fields[0].isdigit()]


def test_a_crash_in_an_engine_call_leaves_a_dump_the_symbolizer_reads(
        launch, crashes, bundle_dir):
    # Eleven dumps from 2020 and a file of someone else's are there already.
    seeded = [f"20200101-1200{n}-000-77.dmp" for n in range(10, 21)]
    for name in seeded:
        (crashes / name).write_bytes(b"old")
    (crashes / "notes.txt").write_text("kept")

    code = crash(launch, "access_violation")
    # Wine reports the low byte of the process's exit code.
    assert code == 0xC0000005 & 0xFF

    names = sorted(p.name for p in crashes.iterdir())
    dumps = [n for n in names if n.endswith(".dmp")]
    assert len(dumps) == 10, names
    assert dumps[:9] == seeded[2:], "the two oldest go first"
    assert "notes.txt" in names
    assert not [n for n in names if n.endswith(".tmp")]
    dump = crashes / dumps[-1]
    assert dumps[-1].endswith(f"-{dump_process_id(dump)}.dmp")

    data = dump.read_bytes()
    parsed = minidump.parse(data)
    assert parsed.exception.code == 0xC0000005
    # Cut anywhere, the same dump is refused, never read past its end.
    for cut in range(0, len(data), max(1, len(data) // 97)):
        try:
            minidump.parse(data[:cut])
        except minidump.MinidumpError:
            pass
    # A normal dump: stacks and modules, no heap.
    assert len(data) < 16 * 1024 * 1024

    lines = symbolize(dump, bundle_dir)
    assert lines[0][:2] == ["exception", "0xC0000005"]
    assert lines[0][3].startswith("flutter_windows.dll+0x")
    frames = frame_names(lines)
    assert "WriteThroughNull" in frames[0]
    assert frames[0].startswith("flutter_windows.dll!")
    host = [i for i, f in enumerate(frames)
            if f.startswith("orvalin_ai.exe!") and "FlutterWindow" in f]
    assert host and host[0] > 0, frames
    assert [int(f[0]) for f in lines[1:]] == list(range(len(lines) - 1))

    # Every thread of the process, the crashing one first and whole.
    all_threads = symbolize(dump, bundle_dir, all_threads=True)
    assert all_threads[1][0] == "thread"
    assert all_threads[2:2 + len(frames)] == lines[1:]
    assert sum(1 for f in all_threads if f[0] == "thread") == \
        len(parsed.threads)


def dump_process_id(dump):
    """The process id a dump's name carries."""
    return int(dump.name[len("YYYYMMDD-HHMMSS-mmm-"):-len(".dmp")])


def test_a_stack_overflow_on_the_main_thread_is_dumped_once(launch, crashes,
                                                           bundle_dir):
    code = crash(launch, "stack_overflow")
    assert code == 0xC00000FD & 0xFF
    dump = only_dump(crashes)
    assert minidump.parse(dump.read_bytes()).exception.code == 0xC00000FD
    lines = symbolize(dump, bundle_dir)
    assert lines[0][:2] == ["exception", "0xC00000FD"]
    frames = frame_names(lines)
    assert "RecurseWithoutEnd" in frames[0]
    assert any(f.startswith("orvalin_ai.exe!") and "FlutterWindow" in f
               for f in frames), frames[-10:]


def test_a_crash_on_an_engine_thread_is_dumped_with_that_thread_first(
        launch, crashes, bundle_dir):
    code = crash(launch, "engine_thread")
    assert code == 0xC0000005 & 0xFF
    dump = only_dump(crashes)
    parsed = minidump.parse(dump.read_bytes())
    main_thread = parsed.threads[0].thread_id
    assert parsed.exception.thread_id != main_thread
    frames = frame_names(symbolize(dump, bundle_dir))
    assert "WriteThroughNull" in frames[0]
    assert not any("wWinMain" in f for f in frames)
    # The main thread, waiting for the engine thread, is in the dump too;
    # its walk starts in Wine's ntdll, so Wine's modules are needed.
    everything = symbolize(dump, bundle_dir, symbolize_tool.WINE_MODULES,
                           all_threads=True)
    assert any("wWinMain" in f[1] for f in everything if len(f) > 1)


def test_abort_in_the_engine_is_dumped_with_the_fatal_exit_code(
        launch, crashes, bundle_dir):
    code = crash(launch, "abort")
    assert code == 0x40000015 & 0xFF
    dump = only_dump(crashes)
    lines = symbolize(dump, bundle_dir)
    assert lines[0][:2] == ["exception", "0x40000015"]
    frames = frame_names(lines)
    assert "ReportFatalError" in frames[0]


def test_a_normal_close_leaves_no_dump(launch, crashes, wine, bundle_dir):
    app = start_app(launch)
    assert close_app(wine, bundle_dir, app) == 0
    assert list(crashes.iterdir()) == []


def test_a_damaged_dump_is_refused_on_standard_error(tmp_path):
    # Truncated anywhere, the header alone, or no minidump at all.
    for content in (b"MDMP" + b"\x00" * 28, b"MDMP\x93\xa7\x00\x00" +
                    (1000).to_bytes(4, "little") + b"\x20\x00\x00\x00" +
                    b"\x00" * 16, b"PK\x03\x04 not a dump", b""):
        dump = tmp_path / "damaged.dmp"
        dump.write_bytes(content)
        result = subprocess.run(["bash", str(SYMBOLIZE), str(dump)],
                                capture_output=True, text=True, timeout=120)
        assert result.returncode == 1
        assert result.stdout == ""
        assert result.stderr.startswith("symbolize: ")
