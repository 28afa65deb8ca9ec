"""The per-user installer end to end: scripts/package.sh builds the release
tree and two test-signed dev MSIs (the product's version and a higher one),
which are installed, run, upgraded, refused as a downgrade and uninstalled
with msiexec in a Wine prefix of this module's own. Packaging's refusals
(an incomplete engine folder, a certificate that cannot be opened) run
against the same tree. The tests run in file order and share the prefix."""

import getpass
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

REPO = Path(__file__).resolve().parents[2]
RELEASE = Path(os.environ.get("ORVALIN_RELEASE_DIR", REPO / "build" / "release"))
SCHEME = r"HKCU\Software\Classes\orvalinai"
COMMAND = SCHEME + r"\shell\open\command"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
STORAGE, KEYCHAIN = "orvalin.ai/app_storage", "orvalin.ai/keychain"
AUTH_CALLBACK = "orvalin.ai/auth_callback"
INSTALLED = ["orvalin_ai.exe", "flutter_windows.dll",
             "url_launcher_windows_plugin.dll", "video_player_win_plugin.dll",
             "data/app.so", "data/icudtl.dat", "data/flutter_assets"]
DOWNGRADE = ("A newer version of Orvalin AI is already installed. To install "
             "this older version, uninstall Orvalin AI first.")


def package(*args, env=None, check=True):
    """Runs scripts/package.sh; returns (exit code, output, summary dict)."""
    full_env = {k: v for k, v in os.environ.items()
                if not k.startswith(("ORVALIN_SIGN_", "ORVALIN_ENGINE_DIR"))}
    result = subprocess.run(
        ["bash", str(REPO / "scripts/package.sh"), "--build-dir", str(RELEASE),
         *args], env=dict(full_env, **(env or {})), capture_output=True,
        text=True, timeout=1800)
    output = result.stdout + result.stderr
    assert not check or result.returncode == 0, output[-3000:]
    summary = dict(re.findall(r"^(\w+): +(.+)$", result.stdout, re.M))
    return result.returncode, output, summary


@pytest.fixture(scope="module")
def msis(tmp_path_factory):
    """{"new": summary, "old": summary}; the product's own version is built
    last, so the tree is left at it."""
    out = tmp_path_factory.mktemp("msi")
    built = {"new": package("--version", "1.0.13.14", "--out", str(out))[2]}
    built["old"] = package("--out", str(out))[2]
    return built


class Prefix:
    """A fresh Wine prefix on the session's display."""

    def __init__(self, root, display):
        self.env = dict(os.environ, WINEPREFIX=str(root), WINEDEBUG="-all",
                        DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        subprocess.run(["wineboot", "-i"], env=self.env, timeout=300,
                       capture_output=True)
        subprocess.run(["wineserver", "-w"], env=self.env, timeout=300)
        subprocess.run(["wineserver", "-p"], env=self.env, timeout=30)
        # The prefix's services start with the first program and outlive
        # it: started here, they hold no pipe of a later command's open.
        subprocess.run(["wine", "cmd", "/c", "exit"], env=self.env,
                       timeout=120, stdin=subprocess.DEVNULL,
                       stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine("reg", "add", r"HKCU\Software\Wine\WineDbg", "/v",
                  "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f")
        users = Path(root) / "drive_c" / "users" / getpass.getuser()
        self.local = users / "AppData" / "Local"
        self.app_dir = self.local / "Programs" / "Orvalin AI"
        self.shortcut = (users / "AppData" / "Roaming" / "Microsoft" / "Windows"
                         / "Start Menu" / "Programs" / "Orvalin AI.lnk")
        self.app_windows = (r"C:\users\%s\AppData\Local\Programs\Orvalin AI"
                            r"\orvalin_ai.exe" % getpass.getuser())

    def wine(self, *args, timeout=180):
        return subprocess.run(["wine", *map(str, args)], env=self.env,
                              capture_output=True, text=True, errors="replace",
                              timeout=timeout)

    def msiexec(self, action, msi, log):
        return self.wine("msiexec", action, "Z:" + str(msi).replace("/", "\\"),
                         "/qn", "/l*v", "Z:" + str(log).replace("/", "\\"))

    def reg(self, key):
        """{subkey: {value name: data}} under key ("" names the default
        value), or None when the key is missing."""
        result = self.wine("reg", "query", key, "/s")
        if result.returncode != 0:
            return None
        keys, current = {}, None
        for line in result.stdout.splitlines():
            if line.startswith("HKEY_"):
                current = keys.setdefault(line.strip(), {})
            elif (value := re.match(r"    (.+?)    REG_\w+    ?(.*)$", line)):
                name = "" if value[1] == "(Default)" else value[1]
                current[name] = value[2]
        return keys

    def programs_entries(self):
        found = [values for hive in ("HKCU", "HKLM")
                 for values in (self.reg(f"{hive}\\{UNINSTALL}") or {}).values()
                 if values.get("DisplayName") == "Orvalin AI"]
        return found

    def close(self, bundle_dir, app):
        probe = self.wine(Path(bundle_dir) / "host_probe.exe", "close")
        assert probe.returncode == 0, "no window to close"
        assert app.wait(60) == 0


@pytest.fixture(scope="module")
def prefix(wine, tmp_path_factory):
    own = Prefix(tmp_path_factory.mktemp("installer") / "prefix",
                 wine.env["DISPLAY"])
    yield own
    subprocess.run(["wineserver", "-k"], env=own.env, timeout=60)


def signature(path, ca):
    """(verify's exit code, current digest, calculated digest)."""
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(ca),
                             "-in", str(path)], capture_output=True, text=True)
    # The file's recorded digest, then the one computed now (an MSI's lines
    # say DigitalSignature).
    digests = re.findall(r"^(?:Current|Calculated) (?:message digest|"
                         r"DigitalSignature)\s*: (\w+)", result.stdout, re.M)
    return result.returncode, *(digests[:2] or ["", ""])


def test_package_says_what_it_made(msis):
    for build, version in (("old", "1.0.12+13"), ("new", "1.0.13+14")):
        summary = msis[build]
        assert Path(summary["MSI"]).name == f"OrvalinAI-{version}-dev.msi"
        assert summary["version"] == version
        assert summary["engine"].startswith("dev")
        assert summary["signed"].startswith("test-signed")
        assert Path(summary["MSI"]).stat().st_size == \
            int(summary["size"].split()[0])


def test_install_registers_runs_and_hands_off(prefix, msis, launch,
                                               bundle_dir, tmp_path):
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "log").returncode == 0
    for name in INSTALLED:
        assert (prefix.app_dir / name).exists(), name
    assert prefix.shortcut.is_file()
    [entry] = prefix.programs_entries()
    assert (entry["DisplayVersion"], entry["Publisher"]) == ("1.0.12.13",
                                                             "Orvalin")
    product = next(v for v in prefix.reg(r"HKCU\Software\Microsoft\Installer"
                                         r"\Products").values()
                   if v.get("ProductName") == "Orvalin AI")
    icon = Path(prefix.env["WINEPREFIX"]) / "drive_c" / \
        product["ProductIcon"][3:].replace("\\", "/")
    assert icon.read_bytes()[:4] == b"\0\0\1\0"
    # Exactly what the app writes at start-up, before it ever started.
    expected = {"": "URL:orvalinai Protocol", "URL Protocol": ""}
    assert prefix.reg(SCHEME)["HKEY_CURRENT_USER" + SCHEME[4:]] == expected
    command = f'"{prefix.app_windows}" "%1"'
    assert prefix.reg(COMMAND)["HKEY_CURRENT_USER" + COMMAND[4:]] == \
        {"": command}

    app = launch(prefix.app_dir / "orvalin_ai.exe", env=prefix.env,
                 cwd=prefix.app_dir)
    app.dart.wait_connected(90)
    app.dart.wait_event("next_frame", timeout=90)
    folder = app.dart.invoke(STORAGE, "applicationSupportDirectory")
    assert folder.lower() == str(prefix.app_windows).lower().replace(
        r"\programs\orvalin ai\orvalin_ai.exe", r"\orvalin ai")
    (prefix.local / "Orvalin AI" / "notes.txt").write_text("kept")
    assert app.dart.invoke(KEYCHAIN, "write", {"key": "token",
                                               "value": "kept"}) is True
    # The app's own registration at start-up names the same command.
    assert prefix.reg(COMMAND)["HKEY_CURRENT_USER" + COMMAND[4:]] == \
        {"": command}

    # A browser starts the registered command with the return URL.
    url = "orvalinai://login-callback?code=installed"
    executable = re.fullmatch(r'"([^"]+)" "%1"', command)[1]
    assert prefix.wine(executable, url, timeout=90).returncode == 0
    message = app.dart.wait_host_call(AUTH_CALLBACK, "authCallback", 30)
    assert message.arguments == url
    prefix.close(bundle_dir, app)


def test_upgrade_replaces_in_place_and_a_downgrade_is_refused(
        prefix, msis, tmp_path):
    assert prefix.msiexec("/i", msis["new"]["MSI"], tmp_path / "up").returncode == 0
    [entry] = prefix.programs_entries()
    assert entry["DisplayVersion"] == "1.0.13.14"
    exe = (prefix.app_dir / "orvalin_ai.exe").read_bytes()
    assert "1.0.13+14".encode("utf-16-le") in exe
    assert "1.0.12+13".encode("utf-16-le") not in exe
    assert prefix.reg(COMMAND)["HKEY_CURRENT_USER" + COMMAND[4:]] == \
        {"": f'"{prefix.app_windows}" "%1"'}

    refused = prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "down")
    # ERROR_INSTALL_FAILURE; Wine hands on the exit code's low byte only.
    assert refused.returncode == 1603 & 0xFF
    assert "WIX_DOWNGRADE_DETECTED = {" in (tmp_path / "down").read_text(
        errors="replace")
    # Wine logs no launch condition's text: read the one that failed.
    conditions = subprocess.run(
        ["msiinfo", "export", msis["old"]["MSI"], "LaunchCondition"],
        capture_output=True, text=True, check=True).stdout
    assert f"NOT WIX_DOWNGRADE_DETECTED\t{DOWNGRADE}" in conditions
    [entry] = prefix.programs_entries()
    assert entry["DisplayVersion"] == "1.0.13.14"
    assert "1.0.13+14".encode("utf-16-le") in \
        (prefix.app_dir / "orvalin_ai.exe").read_bytes()


def test_uninstall_removes_the_product_and_keeps_user_data(
        prefix, msis, launch, bundle_dir, tmp_path):
    assert prefix.msiexec("/x", msis["new"]["MSI"], tmp_path / "x").returncode == 0
    assert not prefix.app_dir.exists()
    assert not prefix.shortcut.exists()
    assert prefix.programs_entries() == []
    assert prefix.reg(SCHEME) is None
    assert (prefix.local / "Orvalin AI" / "notes.txt").read_text() == "kept"
    # Another copy of the app still finds the vault entry.
    app = launch("orvalin_ai.exe", env=prefix.env)
    app.dart.wait_connected(90)
    assert app.dart.invoke(KEYCHAIN, "read", {"key": "token"}) == "kept"
    prefix.close(bundle_dir, app)


def test_uninstall_leaves_a_scheme_another_copy_registered(prefix, msis,
                                                           tmp_path):
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "i").returncode == 0
    other = r'"C:\elsewhere\orvalin_ai.exe" "%1"'
    prefix.wine("reg", "add", COMMAND, "/ve", "/d", other, "/f")
    assert prefix.msiexec("/x", msis["old"]["MSI"], tmp_path / "x").returncode == 0
    assert not prefix.app_dir.exists()
    assert prefix.reg(COMMAND)["HKEY_CURRENT_USER" + COMMAND[4:]] == {"": other}


@pytest.mark.parametrize("kind", ["msi", "exe"])
def test_signatures_verify_and_a_tampered_copy_fails(msis, kind, tmp_path):
    ca = RELEASE / "installer" / "test-cert" / "cert.pem"
    signed = Path(msis["old"]["MSI"]) if kind == "msi" else \
        RELEASE / "installer" / "stage" / "orvalin_ai.exe"
    code, current, calculated = signature(signed, ca)
    assert code == 0 and current == calculated != ""
    data = bytearray(signed.read_bytes())
    # Inside the packed files (MSI) or the code (executable).
    spot = data.find(b"MSCF") + 4096 if kind == "msi" else len(data) // 2
    data[spot] ^= 0xFF
    tampered = tmp_path / signed.name
    tampered.write_bytes(data)
    code, current, calculated = signature(tampered, ca)
    assert code != 0 and current != calculated


@pytest.mark.parametrize("remove, message", [
    (None, None),
    (".", "does not exist"),
    ("data", "lacks: data/"),
    ("flutter_windows.dll", "lacks: flutter_windows.dll"),
    ("data/icudtl.dat", "lacks: data/icudtl.dat"),
])
def test_engine_folder_is_checked(msis, bundle_dir, tmp_path, remove,
                                  message):
    engine = tmp_path / "engine"
    shutil.copytree(Path(bundle_dir) / "data", engine / "data")
    for name in INSTALLED[1:4]:
        shutil.copy2(Path(bundle_dir) / name, engine / name)
    if remove:
        target = engine / remove
        shutil.rmtree(target) if target.is_dir() else target.unlink()
    code, output, summary = package("--out", str(tmp_path / "out"),
                                    env={"ORVALIN_ENGINE_DIR": str(engine)},
                                    check=False)
    if message is None:
        assert code == 0, output[-3000:]
        assert Path(summary["MSI"]).name == "OrvalinAI-1.0.12+13.msi"
        assert summary["engine"].startswith("real")
    else:
        assert code != 0
        assert message in re.sub(r"\s+", " ", output)
        assert not list((tmp_path / "out").glob("*.msi"))


def test_a_certificate_that_cannot_be_opened_stops_signing(msis, tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    # An earlier package under the same name must not survive either.
    stale = out / Path(msis["old"]["MSI"]).name
    shutil.copy2(msis["old"]["MSI"], stale)
    pfx = tmp_path / "broken.pfx"
    pfx.write_bytes(b"not a certificate")
    code, output, _ = package("--out", str(out), check=False,
                              env={"ORVALIN_SIGN_PFX": str(pfx),
                                   "ORVALIN_SIGN_PFX_PASSWORD": "secret"})
    assert code != 0
    assert f"cannot open the signing certificate {pfx}" in output
    assert not list(out.glob("*.msi"))
