"""The per-user installer end to end: scripts/package.sh builds the release
tree and two test-signed dev MSIs (the product's version and a higher one),
which are installed, run, upgraded, refused as a downgrade and uninstalled
with msiexec in a Wine prefix of this module's own. Packaging's refusals
run against the same tree. The tests run in file order on one prefix."""

import getpass
import os
import re
import shutil
import subprocess
import zlib
from pathlib import Path

import pytest

from pe_image import PeImage

REPO = Path(__file__).resolve().parents[2]
RELEASE = Path(os.environ.get("ORVALIN_RELEASE_DIR", REPO / "build/release"))
SCHEME = r"HKCU\Software\Classes\orvalinai"
COMMAND = SCHEME + r"\shell\open\command"
UNINSTALL = r"Software\Microsoft\Windows\CurrentVersion\Uninstall"
KEYCHAIN = "orvalin.ai/keychain"
LIBRARIES = ["flutter_windows.dll", "url_launcher_windows_plugin.dll",
             "video_player_win_plugin.dll"]
DEV_BASE = "https://orvalin-dev.supabase.co/auth/v1/"
# What a packager of the app's engine names (ORVALIN_APPROVED_AUTH_URL_PREFIX).
REAL_BASE = "https://orvalin-release-check.supabase.co/auth/v1/"
DOWNGRADE = ("A newer version of Orvalin AI is already installed. To install "
             "this older version, uninstall Orvalin AI first.")

# The module's first test packages twice (two versions of the release tree).
pytestmark = pytest.mark.timeout(900)


def package(*args, env=None, check=True, cwd=None):
    """Runs scripts/package.sh; returns (exit code, output, summary)."""
    clean = {k: v for k, v in os.environ.items()
             if not k.startswith(("ORVALIN_SIGN_", "ORVALIN_ENGINE_DIR",
                                  "ORVALIN_APPROVED_AUTH_URL_PREFIX"))}
    result = subprocess.run(
        ["bash", REPO / "scripts/package.sh", "--build-dir", RELEASE, *args],
        env=dict(clean, **(env or {})), capture_output=True, text=True,
        timeout=1800, cwd=cwd)
    output = result.stdout + result.stderr
    assert not check or result.returncode == 0, output[-3000:]
    return (result.returncode, output,
            dict(re.findall(r"^(\w+): +(.+)$", result.stdout, re.M)))


@pytest.fixture(scope="module")
def msis(tmp_path_factory):
    """Summaries of the two packages; the product's own version is built
    last, so the tree is left at it."""
    out = tmp_path_factory.mktemp("msi")
    new = package("--version", "1.0.13.14", "--out", out)[2]
    return {"new": new, "old": package("--out", out)[2]}


class Prefix:
    """A fresh Wine prefix on the session's display."""

    def __init__(self, root, display):
        self.env = dict(os.environ, WINEPREFIX=str(root), WINEDEBUG="-all",
                        DISPLAY=display,
                        WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d")
        user = getpass.getuser()
        self.local = Path(root) / "drive_c/users" / user / "AppData/Local"
        self.app_dir = self.local / "Programs/Orvalin AI"
        self.shortcut = self.local.parent / \
            "Roaming/Microsoft/Windows/Start Menu/Programs/Orvalin AI.lnk"
        self.command = (rf'"C:\users\{user}\AppData\Local\Programs\Orvalin AI'
                        r'\orvalin_ai.exe" --single-argument %1')

    def start(self):
        for command in (["wineboot", "-i"], ["wineserver", "-w"],
                        ["wineserver", "-p"],
                        # The prefix's services start with the first program
                        # and outlive it: here they hold no pipe of ours.
                        ["wine", "cmd", "/c", "exit"]):
            subprocess.run(command, env=self.env, timeout=300,
                           stdin=subprocess.DEVNULL,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.wine("reg", "add", r"HKCU\Software\Wine\WineDbg", "/v",
                  "ShowCrashDialog", "/t", "REG_DWORD", "/d", "0", "/f")

    def wine(self, *args, timeout=180):
        return subprocess.run(["wine", *map(str, args)], env=self.env,
                              capture_output=True, text=True, errors="replace",
                              timeout=timeout)

    def msiexec(self, action, msi, log):
        windows = [f"Z:{Path(p)}".replace("/", "\\") for p in (msi, log)]
        return self.wine("msiexec", action, windows[0], "/qn", "/l*v",
                         windows[1]).returncode

    def reg(self, key):
        """{key: {value name: data}} for key and its subkeys ("" names the
        default value), or None when the key is missing."""
        result = self.wine("reg", "query", key, "/s")
        keys, current = {}, None
        for line in result.stdout.splitlines():
            if line.startswith("HKEY_"):
                current = keys.setdefault(line.strip(), {})
            elif value := re.match(r" {4}(.+?) {4}REG_\w+ {4}?(.*)$", line):
                current["" if value[1] == "(Default)" else value[1]] = value[2]
        return keys if result.returncode == 0 else None

    def values(self, key):
        return (self.reg(key) or {}).get("HKEY_CURRENT_USER" + key[4:])

    def entries(self):
        """The installed-programs entries named Orvalin AI."""
        return [v for hive in ("HKCU", "HKLM")
                for v in (self.reg(f"{hive}\\{UNINSTALL}") or {}).values()
                if v.get("DisplayName") == "Orvalin AI"]

    def close(self, bundle_dir, app):
        assert self.wine(Path(bundle_dir) / "host_probe.exe",
                         "close").returncode == 0, "no window to close"
        assert app.wait(60) == 0


@pytest.fixture(scope="module")
def prefix(wine, tmp_path_factory):
    own = Prefix(tmp_path_factory.mktemp("installer") / "prefix",
                 wine.env["DISPLAY"])
    try:
        own.start()
        yield own
    finally:
        subprocess.run(["wineserver", "-k"], env=own.env, timeout=60)


def test_package_says_what_it_made(msis):
    for build, version in (("old", "1.0.12+13"), ("new", "1.0.13+14")):
        summary = msis[build]
        assert Path(summary["MSI"]).name == f"OrvalinAI-{version}-dev.msi"
        assert summary["version"] == version
        assert summary["engine"].startswith("dev")
        assert summary["signed"].startswith("test-signed")
        assert summary["auth"].startswith(DEV_BASE + " (the development")
        assert summary["size"].startswith(
            f"{Path(summary['MSI']).stat().st_size} bytes")


def test_install_registers_runs_and_hands_off(prefix, msis, launch,
                                               bundle_dir, tmp_path):
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "log") == 0
    for name in ["orvalin_ai.exe", *LIBRARIES, "data/app.so",
                 "data/icudtl.dat", "data/flutter_assets"]:
        assert (prefix.app_dir / name).exists(), name
    assert prefix.shortcut.is_file()
    [entry] = prefix.entries()
    assert (entry["DisplayVersion"], entry["Publisher"]) == \
        ("1.0.12.13", "Orvalin")
    [icon] = [v["ProductIcon"] for v in prefix.reg(
        r"HKCU\Software\Microsoft\Installer\Products").values()
        if v.get("ProductName") == "Orvalin AI"]
    icon = Path(prefix.env["WINEPREFIX"], "drive_c", *icon[3:].split("\\"))
    assert icon.read_bytes()[:4] == b"\0\0\1\0"
    # What the app writes at start-up, there before its first start.
    assert prefix.values(SCHEME) == {"": "URL:orvalinai Protocol",
                                     "URL Protocol": ""}
    assert prefix.values(COMMAND) == {"": prefix.command}

    app = launch(prefix.app_dir / "orvalin_ai.exe", env=prefix.env,
                 cwd=prefix.app_dir)
    app.dart.wait_connected(90)
    app.dart.wait_event("next_frame", timeout=90)
    assert app.dart.invoke("orvalin.ai/app_storage",
                           "applicationSupportDirectory").endswith(
        r"\AppData\Local\Orvalin AI")
    (prefix.local / "Orvalin AI" / "notes.txt").write_text("kept")
    assert app.dart.invoke(KEYCHAIN, "write",
                           {"key": "token", "value": "kept"}) is True
    assert prefix.values(COMMAND) == {"": prefix.command}

    # A browser starts the registered command with the return URL.
    url = "orvalinai://login-callback?code=installed"
    executable = re.fullmatch(r'"([^"]+)" --single-argument %1',
                              prefix.command)[1]
    assert prefix.wine(executable, url, timeout=90).returncode == 0
    message = app.dart.wait_host_call("orvalin.ai/auth_callback",
                                      "authCallback", 30)
    assert message.arguments == url
    prefix.close(bundle_dir, app)


def test_upgrade_replaces_in_place_and_a_downgrade_is_refused(
        prefix, msis, tmp_path):
    def installed_is_new():
        [entry] = prefix.entries()
        exe = (prefix.app_dir / "orvalin_ai.exe").read_bytes()
        return (entry["DisplayVersion"] == "1.0.13.14" and
                "1.0.13+14".encode("utf-16-le") in exe and
                "1.0.12+13".encode("utf-16-le") not in exe)

    assert prefix.msiexec("/i", msis["new"]["MSI"], tmp_path / "up") == 0
    assert installed_is_new()
    assert prefix.values(COMMAND) == {"": prefix.command}

    # ERROR_INSTALL_FAILURE; Wine hands on the exit code's low byte only.
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "down") == \
        1603 & 0xFF
    assert "WIX_DOWNGRADE_DETECTED = {" in (tmp_path / "down").read_text()
    # Wine logs no launch condition's text: read the one that failed.
    assert f"NOT WIX_DOWNGRADE_DETECTED\t{DOWNGRADE}" in subprocess.run(
        ["msiinfo", "export", msis["old"]["MSI"], "LaunchCondition"],
        capture_output=True, text=True, check=True).stdout
    assert installed_is_new()


def test_uninstall_removes_the_product_and_keeps_user_data(
        prefix, msis, launch, bundle_dir, tmp_path):
    assert prefix.msiexec("/x", msis["new"]["MSI"], tmp_path / "x") == 0
    assert not prefix.app_dir.exists()
    assert not prefix.shortcut.exists()
    assert prefix.entries() == []
    assert prefix.reg(SCHEME) is None
    assert (prefix.local / "Orvalin AI" / "notes.txt").read_text() == "kept"
    # Another copy of the app still finds the vault entry.
    app = launch("orvalin_ai.exe", env=prefix.env)
    app.dart.wait_connected(90)
    assert app.dart.invoke(KEYCHAIN, "read", {"key": "token"}) == "kept"
    prefix.close(bundle_dir, app)


@pytest.mark.parametrize("other", [
    r'"C:\elsewhere\orvalin_ai.exe" --single-argument %1',
    r'"C:\elsewhere\orvalin_ai.exe" "%1"'])
def test_uninstall_leaves_a_scheme_another_copy_registered(prefix, msis,
                                                           tmp_path, other):
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "i") == 0
    prefix.wine("reg", "add", COMMAND, "/ve", "/d", other, "/f")
    assert prefix.msiexec("/x", msis["old"]["MSI"], tmp_path / "x") == 0
    assert not prefix.app_dir.exists()
    assert prefix.values(COMMAND) == {"": other}
    assert prefix.values(SCHEME) == {"": "URL:orvalinai Protocol",
                                     "URL Protocol": ""}
    prefix.wine("reg", "delete", SCHEME, "/f")


@pytest.mark.parametrize("own", ["current", "older"])
def test_uninstall_removes_only_what_it_wrote(prefix, msis, tmp_path, own):
    """What other software added to the scheme stays, with the keys that
    hold it; the command this copy's older app version wrote ("%1" in
    quotes) still counts as this copy's."""
    assert prefix.msiexec("/i", msis["old"]["MSI"], tmp_path / "i") == 0
    if own == "older":
        older = prefix.command.replace(" --single-argument %1", ' "%1"')
        prefix.wine("reg", "add", COMMAND, "/ve", "/d", older, "/f")
    others = {SCHEME: ("Owner", "someone"),
              SCHEME + r"\DefaultIcon": ("", "icon.ico"),
              SCHEME + r"\shell\open": ("FriendlyAppName", "Someone")}
    for key, (name, data) in others.items():
        value = ["/ve"] if not name else ["/v", name]
        prefix.wine("reg", "add", key, *value, "/d", data, "/f")
    assert prefix.msiexec("/x", msis["old"]["MSI"], tmp_path / "x") == 0
    assert not prefix.app_dir.exists()
    left = prefix.reg(SCHEME) or {}
    assert left == {"HKEY_CURRENT_USER" + key[4:]: {name: data}
                    for key, (name, data) in others.items()} | \
        {r"HKEY_CURRENT_USER\Software\Classes\orvalinai\shell": {}}
    prefix.wine("reg", "delete", SCHEME, "/f")


def packaged_binaries(msi, folder):
    """{name: path} of the executables and libraries an MSI installs."""
    subprocess.run(["msiextract", "-C", folder, msi], check=True,
                   capture_output=True)
    return {p.name: p for p in Path(folder).rglob("*")
            if p.suffix in (".exe", ".dll")}


def debug_file(binary, symbols):
    """The symbol file the stripped binary names, once its CRC matches."""
    link = binary.with_name(binary.name + ".link")
    subprocess.run(["x86_64-w64-mingw32-objcopy", "--dump-section",
                    f".gnu_debuglink={link}", binary, link.with_suffix(".x")],
                   check=True, capture_output=True)
    data = link.read_bytes()
    name = data[:data.index(b"\0")].decode()
    crc = int.from_bytes(data[-4:], "little")
    path = Path(symbols) / name
    assert zlib.crc32(path.read_bytes()) == crc, f"{name} is not its symbols"
    return path


def compile_units(debug):
    """{source file: the compiler and command line that built it} of every
    compile unit in a symbol file (clang records its command line)."""
    dump = subprocess.run(["x86_64-w64-mingw32-objdump", "--dwarf=info",
                           "--dwarf-depth=1", debug], check=True,
                          capture_output=True, text=True).stdout
    units, producer = {}, None
    for line in dump.splitlines():
        found = re.search(r"DW_AT_(producer|name) *: (?:\(indirect[^)]*\): )?"
                          r"(.*)$", line)
        if not found:
            continue
        if found[1] == "producer":
            producer = found[2]
        elif producer is not None:
            units[found[2].strip()] = producer
            producer = None
    return units


def test_packaged_binaries_meet_the_release_baseline(msis, tmp_path):
    """Read back from the dev package, where all four binaries are ours:
    ASLR with high entropy, DEP, Control Flow Guard, CET compatibility, no
    build time, every unit of ours built with the stack protector, the
    checked copies and the guard (their symbol files say so); the
    executable Terminal-Server aware, importing only KnownDLLs and
    delay-loading the app's own libraries."""
    binaries = packaged_binaries(msis["old"]["MSI"], tmp_path)
    assert sorted(binaries) == sorted(["orvalin_ai.exe", *LIBRARIES])
    for name, path in binaries.items():
        image = PeImage.read(path)
        figures = image.figures()
        assert (figures["aslr"], figures["high_entropy"], figures["dep"]) == \
            (True, True, True), name
        assert not any(image.time_stamps().values()), \
            (name, image.time_stamps())
        units = compile_units(debug_file(path, msis["old"]["symbols"]))
        ours = {unit: producer for unit, producer in units.items()
                if unit.startswith(f"{REPO}/")}
        assert ours, f"{name}: no unit of ours among {list(units)[:5]}"
        for unit, producer in ours.items():
            assert "-fstack-protector-strong" in producer, (name, unit)
            assert "-D _FORTIFY_SOURCE=2" in producer, (name, unit)
            assert "-cfguard" in producer, (name, unit)
        assert figures["cfg"] and figures["cet_compat"], name
    exe = PeImage.read(binaries["orvalin_ai.exe"])
    assert exe.figures()["ts_aware"]
    assert exe.figures()["foreign_imports"] == []
    # Delay-loaded: a later instance, which only hands its URL over, loads
    # neither the engine nor the plugins.
    assert set(LIBRARIES) <= set(exe.delay_imports())
    assert not set(LIBRARIES) & set(exe.imports())


def test_two_builds_give_the_same_bytes(msis):
    """Compiled and linked again, the executable and libraries are the same
    bytes: a release can be rebuilt from its commit and compared."""
    bundle = RELEASE / "bundle"
    names = ["orvalin_ai.exe", *LIBRARIES]
    first = {name: (bundle / name).read_bytes() for name in names}
    for name in names:
        (bundle / name).unlink()
    for obj in (RELEASE / "runner/CMakeFiles/orvalin_ai.dir").rglob("*.obj"):
        obj.unlink()
    subprocess.run(["cmake", "--build", RELEASE, "--target", "orvalin_ai",
                    "standin"], check=True, capture_output=True, timeout=900)
    assert [name for name in names
            if (bundle / name).read_bytes() != first[name]] == []


@pytest.mark.parametrize("kind", ["msi", "exe"])
def test_signatures_verify_and_a_tampered_copy_fails(msis, kind, tmp_path):
    def verify(path):
        result = subprocess.run(
            ["osslsigncode", "verify", "-CAfile",
             RELEASE / "installer/test-cert/cert.pem", "-in", path],
            capture_output=True, text=True)
        # The recorded digest, then the one computed now.
        digests = re.findall(r"^(?:Current|Calculated) (?:message digest|"
                             r"DigitalSignature)\s*: (\w+)", result.stdout,
                             re.M)
        return result.returncode, digests[:2]

    signed = Path(msis["old"]["MSI"]) if kind == "msi" else \
        RELEASE / "installer/stage/orvalin_ai.exe"
    code, (current, calculated) = verify(signed)
    assert code == 0 and current == calculated
    data = bytearray(signed.read_bytes())
    # A byte of the packed files (MSI) or of the code (executable).
    data[data.find(b"MSCF") + 4096 if kind == "msi" else len(data) // 2] ^= 1
    (tmp_path / signed.name).write_bytes(data)
    code, (current, calculated) = verify(tmp_path / signed.name)
    assert code != 0 and current != calculated


def make_certificate(folder):
    """A self-signed code-signing certificate: (cert.pem, key.pem)."""
    folder.mkdir(parents=True, exist_ok=True)
    subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048",
                    "-nodes", "-days", "2", "-subj", "/CN=someone else",
                    "-keyout", folder / "key.pem", "-out", folder / "cert.pem",
                    "-addext", "extendedKeyUsage=codeSigning"],
                   check=True, capture_output=True)
    return folder / "cert.pem", folder / "key.pem"


def sign(path, cert=RELEASE / "installer/test-cert/cert.pem",
         key=RELEASE / "installer/test-cert/key.pem"):
    """Signs a library in place, as a vendor would before packaging."""
    signed = path.with_name(path.name + ".signed")
    subprocess.run(["osslsigncode", "sign", "-certs", cert, "-key", key,
                    "-h", "sha256", "-in", path, "-out", signed],
                   check=True, capture_output=True)
    signed.replace(path)


def engine_folder(bundle_dir, engine):
    """An engine folder made of the stand-ins, flutter_windows.dll signed."""
    shutil.copytree(Path(bundle_dir) / "data", engine / "data")
    for name in LIBRARIES:
        shutil.copy2(Path(bundle_dir) / name, engine / name)
    sign(engine / "flutter_windows.dll")
    return engine


def flip_a_byte(path):
    data = bytearray(path.read_bytes())
    data[len(data) // 2] ^= 1
    path.write_bytes(data)


# Each change stops packaging with the message beside it.
CHANGES = {
    "no folder": (lambda e: shutil.rmtree(e), "does not exist"),
    "no data": (lambda e: shutil.rmtree(e / "data"), "lacks: data/"),
    "no engine": (lambda e: (e / "flutter_windows.dll").unlink(),
                  "lacks: flutter_windows.dll"),
    "no icudtl": (lambda e: (e / "data/icudtl.dat").unlink(),
                  "lacks: data/icudtl.dat"),
    "tampered engine": (lambda e: flip_a_byte(e / "flutter_windows.dll"),
                        "the signature of flutter_windows.dll does not verify"),
    "engine signed by a stranger": (
        lambda e: sign(e / "flutter_windows.dll",
                       *make_certificate(e.parent / "stranger")),
        "the signature of flutter_windows.dll does not verify"),
    "a name Windows refuses": (
        lambda e: (e / "data/flutter_assets/a|b.png").write_bytes(b"x"),
        "the installer cannot hold the file name data/flutter_assets/a|b.png"),
}


@pytest.mark.parametrize("change", CHANGES)
def test_engine_folder_is_checked(msis, bundle_dir, tmp_path, change):
    engine = engine_folder(bundle_dir, tmp_path / "engine")
    action, message = CHANGES[change]
    action(engine)
    code, output, _ = package(
        "--out", tmp_path / "out", check=False,
        env={"ORVALIN_ENGINE_DIR": str(engine),
             "ORVALIN_APPROVED_AUTH_URL_PREFIX": REAL_BASE})
    assert code != 0 and message in re.sub(r"\s+", " ", output), \
        output[-3000:]
    assert not list((tmp_path / "out").glob("*.msi"))


def tree(folder):
    """{path inside folder: contents, or None for a folder}."""
    return {p.relative_to(folder).as_posix():
            None if p.is_dir() else p.read_bytes() for p in folder.rglob("*")}


def test_a_real_engine_installs_every_name_as_it_is(prefix, msis, bundle_dir,
                                                     tmp_path):
    """Real-signed with a certificate whose password is empty, its root
    named by a relative path; the engine pre-signed; data/ names in
    Korean, Greek and Cyrillic."""
    engine = engine_folder(bundle_dir, tmp_path / "engine")
    assets = engine / "data/flutter_assets"
    (assets / "한글 이름.png").write_bytes(b"korean")
    (assets / "Ελληνικά").mkdir()
    (assets / "Ελληνικά/привет мир.txt").write_bytes(b"cyrillic")
    (assets / "пусто").mkdir()
    test_cert = RELEASE / "installer/test-cert"
    shutil.copy2(test_cert / "cert.pem", tmp_path / "root.pem")
    subprocess.run(["openssl", "pkcs12", "-export", "-in",
                    test_cert / "cert.pem", "-inkey", test_cert / "key.pem",
                    "-out", tmp_path / "signing.pfx", "-passout", "pass:"],
                   check=True, capture_output=True)
    code, output, summary = package(
        "--out", tmp_path / "out", check=False, cwd=tmp_path,
        env={"ORVALIN_ENGINE_DIR": str(engine),
             "ORVALIN_SIGN_PFX": "signing.pfx",
             "ORVALIN_SIGN_PFX_PASSWORD": "",
             "ORVALIN_SIGN_CA_FILE": "root.pem",
             "ORVALIN_APPROVED_AUTH_URL_PREFIX": REAL_BASE})
    assert code == 0, output[-3000:]
    assert Path(summary["MSI"]).name == "OrvalinAI-1.0.12+13.msi"
    assert summary["engine"].startswith("real")
    assert summary["signed"].startswith("real-signed")
    assert summary["auth"] == REAL_BASE + " (ORVALIN_APPROVED_AUTH_URL_PREFIX)"
    # No timestamp server named: said once, however many files are signed.
    assert output.count("warning: no timestamp server "
                        "(ORVALIN_SIGN_TIMESTAMP_URL)") == 1
    held = subprocess.run(["msiinfo", "export", summary["MSI"], "File"],
                          capture_output=True, text=True, check=True).stdout
    assert {"한글 이름.png", "привет мир.txt"} <= \
        {row.split("\t")[2] for row in held.splitlines()[3:]}

    assert prefix.msiexec("/i", summary["MSI"], tmp_path / "i") == 0
    assert tree(prefix.app_dir / "data") == tree(engine / "data")
    # The installed app signs in against the named base only.
    exe = (prefix.app_dir / "orvalin_ai.exe").read_bytes()
    assert REAL_BASE.encode() in exe and DEV_BASE.encode() not in exe
    # Left as the vendor signed it.
    assert (prefix.app_dir / "flutter_windows.dll").read_bytes() == \
        (engine / "flutter_windows.dll").read_bytes()
    assert prefix.msiexec("/x", summary["MSI"], tmp_path / "x") == 0
    assert not prefix.app_dir.exists()


def test_a_certificate_that_cannot_be_opened_stops_signing(msis, bundle_dir,
                                                           tmp_path):
    out = tmp_path / "out"
    out.mkdir()
    # An earlier package of the same name must not survive either.
    shutil.copy2(msis["old"]["MSI"], out / "OrvalinAI-1.0.12+13.msi")
    pfx = tmp_path / "broken.pfx"
    pfx.write_bytes(b"not a certificate")
    engine = engine_folder(bundle_dir, tmp_path / "engine")
    code, output, _ = package("--out", out, check=False,
                              env={"ORVALIN_SIGN_PFX": str(pfx),
                                   "ORVALIN_SIGN_PFX_PASSWORD": "secret",
                                   "ORVALIN_ENGINE_DIR": str(engine),
                                   "ORVALIN_APPROVED_AUTH_URL_PREFIX":
                                       REAL_BASE})
    assert code != 0
    assert f"cannot open the signing certificate {pfx}" in output
    assert not list(out.glob("*.msi"))


# Each stops before anything is built, naming why; no package is left.
REFUSED = {
    "a real engine without its sign-in base": (
        {"ORVALIN_APPROVED_AUTH_URL_PREFIX": ""},
        "a package with the app's engine (ORVALIN_ENGINE_DIR) needs its "
        "sign-in base: set ORVALIN_APPROVED_AUTH_URL_PREFIX"),
    "a real certificate on the stand-ins": (
        {"ORVALIN_ENGINE_DIR": "", "ORVALIN_SIGN_PFX": "signing.pfx"},
        "a real certificate (ORVALIN_SIGN_PFX) does not sign a development "
        "package: it carries the stand-ins"),
}


@pytest.mark.parametrize("case", REFUSED)
def test_a_misleading_release_is_refused(msis, bundle_dir, tmp_path, case):
    engine = engine_folder(bundle_dir, tmp_path / "engine")
    (tmp_path / "signing.pfx").write_bytes(b"unused")
    change, message = REFUSED[case]
    env = dict({"ORVALIN_ENGINE_DIR": str(engine),
                "ORVALIN_APPROVED_AUTH_URL_PREFIX": REAL_BASE}, **change)
    code, output, _ = package("--out", tmp_path / "out", check=False,
                              cwd=tmp_path,
                              env={k: v for k, v in env.items() if v})
    assert code != 0 and message in re.sub(r"\s+", " ", output), \
        output[-3000:]
    assert "== building" not in output
    assert not list(tmp_path.rglob("*.msi"))
