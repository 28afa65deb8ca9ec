#!/usr/bin/env python3
"""Measures how many planted faults the tests catch.

Reads the faults in scripts/mutants.txt (the format is described at its
top). For each selected fault: checks that its original text occurs exactly
once (otherwise STALE), plants the replacement, rebuilds the fault's
targets, runs its tests in order until one fails, and puts the file back.
A failing or hanging test kills the fault; a fault that every test passes
survives. At the end the restored tree is rebuilt and the score printed.

Usually started through scripts/mutate.sh, which provides the Wine session
and restores files from the journal should this driver be killed outright.
"""

import argparse
import contextlib
import fnmatch
import os
import shlex
import signal
import subprocess
import sys
import time
from dataclasses import dataclass, field
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
DEFAULT_FAULTS = ROOT / "scripts" / "mutants.txt"
WORK = ROOT / "build" / "mutate"
JOURNAL = WORK / "journal"
LOGS = WORK / "logs"
TREES = ("native", "windows")
FOLDERS = ("client", "services", "runner", "win")
DEFAULT_TIMEOUT = {"ctest": 300, "pytest": 600}
# The interpreter the end-to-end tests are run with, as scripts/test.sh does.
PYTHON = "/usr/bin/python3" if Path("/usr/bin/python3").is_file() else sys.executable

KILLED = "KILLED"
TIMEOUT = "KILLED (timeout)"
SURVIVED = "SURVIVED"
STALE = "STALE"
BUILD_FAILED = "BUILD FAILED"
ERROR = "ERROR"
BASELINE_FAILS = "BASELINE FAILS"
SCORED = (KILLED, TIMEOUT, SURVIVED)


class Interrupted(Exception):
    pass


class FaultFileError(Exception):
    pass


@dataclass
class Fault:
    id: str
    file: str = ""
    what: str = ""
    find: str = ""
    replace: str = ""
    builds: dict = field(default_factory=dict)  # tree -> [targets]
    tests: list = field(default_factory=list)   # ("ctest", tree, regex) ...
    timeout: int = 0
    line: int = 0

    @property
    def folder(self):
        return self.file.split("/", 1)[0]


# --------------------------------------------------------------- the list

def unescape(text):
    r"""A "\n" is a line break; "\\n" is a backslash and an n."""
    out = []
    i = 0
    while i < len(text):
        if text.startswith("\\\\n", i):
            out.append("\\n")
            i += 3
        elif text.startswith("\\n", i):
            out.append("\n")
            i += 2
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


def parse_faults(path):
    faults = []
    current = None
    for number, raw in enumerate(path.read_text().splitlines(), 1):
        if not raw.strip() or raw.lstrip().startswith("#"):
            continue
        key, sep, value = raw.partition(":")
        key = key.strip()
        if not sep:
            raise FaultFileError(f"{path}:{number}: no 'key:' in {raw!r}")
        # One space after the colon belongs to the syntax; the rest is text.
        if value.startswith(" "):
            value = value[1:]
        if key == "id":
            current = Fault(id=value.strip(), line=number)
            faults.append(current)
            continue
        if current is None:
            raise FaultFileError(f"{path}:{number}: '{key}' before any id")
        if key in ("file", "what"):
            setattr(current, key, value.strip())
        elif key in ("find", "replace"):
            setattr(current, key, unescape(value))
        elif key == "timeout":
            current.timeout = int(value)
        elif key == "build":
            words = value.split()
            if len(words) < 2 or words[0] not in TREES:
                raise FaultFileError(
                    f"{path}:{number}: build: <native|windows> <target>...")
            current.builds.setdefault(words[0], []).extend(words[1:])
        elif key == "ctest":
            words = value.split()
            if len(words) != 2 or words[0] not in TREES:
                raise FaultFileError(
                    f"{path}:{number}: ctest: <native|windows> <regex>")
            current.tests.append(("ctest", words[0], words[1]))
        elif key == "pytest":
            current.tests.append(("pytest", "windows", tuple(shlex.split(value))))
        else:
            raise FaultFileError(f"{path}:{number}: unknown key '{key}'")
    seen = set()
    for fault in faults:
        where = f"{path}:{fault.line}: {fault.id}"
        if fault.id in seen:
            raise FaultFileError(f"{where}: id used twice")
        seen.add(fault.id)
        if not (fault.file and fault.what and fault.find and fault.tests):
            raise FaultFileError(f"{where}: needs file, what, find and a test")
        if fault.find == fault.replace:
            raise FaultFileError(f"{where}: replace equals find")
        for kind, tree, _ in fault.tests:
            if tree not in fault.builds:
                raise FaultFileError(f"{where}: {kind} runs in the {tree} "
                                     f"tree but nothing is built there")
    return faults


def select(faults, patterns):
    if not patterns:
        return faults
    chosen = []
    for fault in faults:
        for pattern in patterns:
            pattern = pattern.rstrip("/")
            if pattern in FOLDERS and fault.folder == pattern:
                break
            if fnmatch.fnmatchcase(fault.id, pattern):
                break
        else:
            continue
        chosen.append(fault)
    return chosen


def stale_reason(fault):
    path = ROOT / fault.file
    if not path.is_file():
        return "no such file"
    count = path.read_text(encoding="utf-8").count(fault.find)
    if count != 1:
        return f"original text found {count} times"
    return None


# -------------------------------------------------------------- processes

def on_signal(number, _frame):
    raise Interrupted(signal.Signals(number).name)


def run(command, log, timeout=None, env=None, cwd=ROOT):
    """Runs |command| in its own process group, output appended to |log|.
    Returns (exit code or None on timeout, output)."""
    with open(log, "a", encoding="utf-8", errors="replace") as out:
        out.write(f"\n$ {shlex.join(command)}\n")
    process = subprocess.Popen(
        command, cwd=cwd, env=env, stdout=subprocess.PIPE,
        stderr=subprocess.STDOUT, start_new_session=True)
    try:
        output, _ = process.communicate(timeout=timeout)
        code = process.returncode
    except subprocess.TimeoutExpired:
        kill_group(process)
        output, _ = process.communicate()
        code = None
    except BaseException:
        kill_group(process)
        process.wait()
        raise
    text = output.decode("utf-8", errors="replace")
    with open(log, "a", encoding="utf-8", errors="replace") as out:
        out.write(text)
        if code is None:
            out.write(f"\n[timed out after {timeout} s]\n")
    return code, text


def kill_group(process):
    try:
        os.killpg(process.pid, signal.SIGKILL)
    except ProcessLookupError:
        pass


def tree_dir(tree):
    return ROOT / "build" / tree


def configure(tree, log):
    if (tree_dir(tree) / "build.ninja").is_file():
        return True
    code, _ = run(["cmake", "--preset", tree], log)
    return code == 0


def build(tree, targets, log):
    code, _ = run(["cmake", "--build", str(tree_dir(tree)), "-j2", "--target",
                   *targets], log)
    return code == 0


def run_test(test, timeout, log):
    """PASS, FAIL, TIMEOUT or ERROR for one test command."""
    kind, tree, what = test
    if kind == "ctest":
        code, text = run(["ctest", "--test-dir", str(tree_dir(tree)), "-R",
                          what, "--timeout", str(timeout),
                          "--output-on-failure"], log, timeout=timeout + 60)
        if code is None or "***Timeout" in text:
            return "TIMEOUT"
        if "No tests were found" in text:
            return "ERROR"
        return "PASS" if code == 0 else "FAIL"
    env = dict(os.environ, ORVALIN_BUILD_DIR=str(tree_dir("windows")))
    code, text = run([PYTHON, "-m", "pytest", "-q", "-x", "-p",
                      "no:cacheprovider", *what], log, timeout=timeout, env=env)
    if code is None:
        return "TIMEOUT"
    summary = text.strip().splitlines()[-1] if text.strip() else ""
    if code == 1 and (" failed" in summary or " error" in summary):
        return "FAIL"
    # No pytest, nothing collected, a usage error, or every test skipped.
    if code != 0 or " passed" not in summary:
        return "ERROR"
    return "PASS"


def describe(test):
    kind, tree, what = test
    if kind == "ctest":
        return f"ctest {tree} {what}"
    return "pytest " + shlex.join(what)


# ---------------------------------------------------------------- planting

class Planted:
    """One fault in its file, journalled first so that the shell wrapper
    can put the original back even if this process is killed outright."""

    def __init__(self, fault):
        self.path = ROOT / fault.file
        self.original = self.path.read_bytes()
        self.was_clean = git_clean(fault.file)
        self.relative = fault.file
        JOURNAL.mkdir(parents=True, exist_ok=True)
        self.saved = JOURNAL / "planted.orig"
        self.saved.write_bytes(self.original)
        (JOURNAL / "planted.path").write_text(fault.file)
        text = self.original.decode("utf-8")
        with signals_held():
            self.path.write_bytes(
                text.replace(fault.find, fault.replace, 1).encode("utf-8"))

    def restore(self):
        with signals_held():
            self.path.write_bytes(self.original)
        if self.path.read_bytes() != self.original:
            raise RuntimeError(f"could not restore {self.relative}")
        if self.was_clean and not git_clean(self.relative):
            raise RuntimeError(f"{self.relative} differs from git after "
                               f"restoring it")
        self.saved.unlink(missing_ok=True)
        (JOURNAL / "planted.path").unlink(missing_ok=True)


@contextlib.contextmanager
def signals_held():
    """Defers SIGINT and SIGTERM until a file write is complete."""
    held = {signal.SIGINT, signal.SIGTERM}
    signal.pthread_sigmask(signal.SIG_BLOCK, held)
    try:
        yield
    finally:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, held)


def git_clean(relative):
    return subprocess.run(["git", "diff", "--quiet", "--", relative],
                          cwd=ROOT).returncode == 0


# ------------------------------------------------------------------ report

def line(status, fault, extra=""):
    text = f"{status:<17} {fault.id:<40} {fault.file:<38} {fault.what}"
    return text + (f"  [{extra}]" if extra else "")


def print_list(faults):
    for fault in faults:
        reason = stale_reason(fault)
        tests = "; ".join(describe(t) for t in fault.tests)
        print(line(STALE if reason else "ok", fault, reason or tests))


# --------------------------------------------------------------------- run

def union_targets(faults):
    targets = {}
    for fault in faults:
        for tree, names in fault.builds.items():
            bucket = targets.setdefault(tree, [])
            bucket.extend(n for n in names if n not in bucket)
    return targets


def prepare(faults, log, baseline):
    """Builds the clean tree and runs each distinct test command once on
    it. Returns the commands that fail without any fault, or None when the
    clean tree does not build."""
    targets = union_targets(faults)
    if any(kind == "pytest" for f in faults for kind, _, _ in f.tests):
        # End-to-end tests need the whole bundle.
        targets["windows"] = ["all"]
    for tree, names in targets.items():
        print(f"mutate: building the clean {tree} tree ({' '.join(names)})",
              flush=True)
        if not configure(tree, log) or not build(tree, names, log):
            return None
    failing = set()
    if not baseline:
        return failing
    seen = []
    for fault in faults:
        for test in fault.tests:
            if test not in seen:
                seen.append(test)
    for test in seen:
        timeout = DEFAULT_TIMEOUT[test[0]]
        outcome = run_test(test, timeout, log)
        print(f"mutate: baseline {outcome:<7} {describe(test)}", flush=True)
        if outcome != "PASS":
            failing.add(test)
    return failing


def mutate_one(fault, failing):
    log = LOGS / f"{fault.id}.log"
    log.write_text(f"{fault.id}: {fault.what}\n")
    reason = stale_reason(fault)
    if reason:
        return STALE, reason
    broken = [t for t in fault.tests if t in failing]
    if broken:
        return BASELINE_FAILS, describe(broken[0])
    planted = Planted(fault)
    try:
        for tree, names in fault.builds.items():
            if not build(tree, names, log):
                return BUILD_FAILED, f"see {log.relative_to(ROOT)}"
        for test in fault.tests:
            timeout = fault.timeout or DEFAULT_TIMEOUT[test[0]]
            outcome = run_test(test, timeout, log)
            if outcome == "FAIL":
                return KILLED, describe(test)
            if outcome == "TIMEOUT":
                return TIMEOUT, describe(test)
            if outcome == "ERROR":
                return ERROR, f"{describe(test)}; see {log.relative_to(ROOT)}"
        return SURVIVED, ""
    finally:
        planted.restore()


def main():
    parser = argparse.ArgumentParser(
        description="Plant faults one at a time and see whether the tests "
                    "catch them.")
    parser.add_argument("select", nargs="*", metavar="FOLDER|ID",
                        help="client, services, runner, win, or fault ids "
                             "(shell wildcards allowed); default: all")
    parser.add_argument("--list", action="store_true",
                        help="list the faults and whether each still applies")
    parser.add_argument("--faults", type=Path, default=DEFAULT_FAULTS,
                        help="the fault list (default: scripts/mutants.txt)")
    parser.add_argument("--no-baseline", action="store_true",
                        help="skip running each test command on the clean "
                             "tree first")
    args = parser.parse_args()

    try:
        faults = select(parse_faults(args.faults), args.select)
    except FaultFileError as error:
        print(f"mutate: {error}", file=sys.stderr)
        return 2
    if not faults:
        print("mutate: no fault matches", file=sys.stderr)
        return 2
    if args.list:
        print_list(faults)
        return 0

    signal.signal(signal.SIGINT, on_signal)
    signal.signal(signal.SIGTERM, on_signal)
    LOGS.mkdir(parents=True, exist_ok=True)
    setup_log = LOGS / "_setup.log"
    setup_log.write_text("")
    results = []
    started = time.monotonic()
    try:
        failing = prepare(faults, setup_log, not args.no_baseline)
        if failing is None:
            print(f"mutate: the clean tree does not build; see "
                  f"{setup_log.relative_to(ROOT)}", file=sys.stderr)
            return 1
        for fault in faults:
            begun = time.monotonic()
            status, extra = mutate_one(fault, failing)
            results.append((status, fault))
            seconds = time.monotonic() - begun
            print(line(status, fault, extra) + f"  {seconds:.0f}s", flush=True)
    except Interrupted as signal_name:
        print(f"mutate: stopped by {signal_name}; file restored",
              file=sys.stderr)
    finally:
        # The tree must not be left holding a mutant's binaries.
        print("mutate: rebuilding the restored tree", flush=True)
        for tree, names in union_targets(faults).items():
            if (tree_dir(tree) / "build.ninja").is_file():
                build(tree, names, setup_log)

    print()
    for status, fault in results:
        print(line(status, fault))
    scored = [s for s, _ in results if s in SCORED]
    killed = sum(1 for s in scored if s != SURVIVED)
    others = {}
    for status, _ in results:
        if status not in SCORED:
            others[status] = others.get(status, 0) + 1
    percent = 100.0 * killed / len(scored) if scored else 0.0
    minutes = (time.monotonic() - started) / 60
    print(f"score: {killed} killed of {len(scored)} ({percent:.0f}%)")
    if others:
        print("not scored: " + ", ".join(f"{n} {s}" for s, n in others.items()))
    print(f"time: {minutes:.0f} min; logs in {LOGS.relative_to(ROOT)}")
    return 0 if len(results) == len(faults) else 1


if __name__ == "__main__":
    sys.exit(main())
