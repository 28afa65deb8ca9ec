"""Reads what a release check needs from a 64-bit PE file: the header flags
(ASLR, high entropy, DEP, Control Flow Guard, CET compatibility, Terminal
Server awareness), every build time the file records, and the libraries it
imports, statically or delayed. Run as a program it prints one line of
figures per file:

    python3 tests/e2e/pe_image.py FILE...
"""

import struct
import sys
from pathlib import Path

DYNAMIC_BASE = 0x0040
HIGH_ENTROPY_VA = 0x0020
NX_COMPAT = 0x0100
GUARD_CF = 0x4000
TERMINAL_SERVER_AWARE = 0x8000
GUARD_CF_INSTRUMENTED = 0x100
CET_COMPAT = 0x1

EXPORT, IMPORT, RESOURCE, DEBUG, LOAD_CONFIG, DELAY_IMPORT = 0, 1, 2, 6, 10, 13
DEBUG_TYPE_EX_DLLCHARACTERISTICS = 20

# Windows 10 and 11's KnownDLLs (HKLM\System\CurrentControlSet\Control\
# Session Manager\KnownDLLs), plus ntdll, which every process has loaded
# before any import is resolved. Only these, API sets and the app's own
# libraries may be static imports: any other name is looked for in the
# application's folder first.
KNOWN_DLLS = {
    "advapi32.dll", "clbcatq.dll", "combase.dll", "comdlg32.dll",
    "coml2.dll", "difxapi.dll", "gdi32.dll", "gdiplus.dll", "imagehlp.dll",
    "imm32.dll", "kernel32.dll", "msctf.dll", "msvcrt.dll", "normaliz.dll",
    "nsi.dll", "ole32.dll", "oleaut32.dll", "psapi.dll", "rpcrt4.dll",
    "sechost.dll", "setupapi.dll", "shcore.dll", "shell32.dll",
    "shlwapi.dll", "user32.dll", "wldap32.dll", "ws2_32.dll", "ntdll.dll"}
APP_LIBRARIES = {"flutter_windows.dll", "url_launcher_windows_plugin.dll",
                 "video_player_win_plugin.dll"}


class PeImage:
    def __init__(self, data):
        self.data = bytes(data)
        if self.data[:2] != b"MZ":
            raise ValueError("not a PE file (no MZ)")
        pe = self._u32(0x3C)
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE file (no PE signature)")
        coff = pe + 4
        (_, sections, self.time_stamp, _, _, optional_size,
         _) = struct.unpack_from("<HHIIIHH", self.data, coff)
        optional = coff + 20
        if self._u16(optional) != 0x20B:
            raise ValueError("not a 64-bit (PE32+) image")
        self.dll_characteristics = self._u16(optional + 70)
        count = self._u32(optional + 108)
        self.directories = [struct.unpack_from("<II", self.data,
                                               optional + 112 + 8 * i)
                            for i in range(min(count, 16))]
        table = optional + optional_size
        self.sections = [struct.unpack_from("<8sIIII", self.data,
                                            table + 40 * i)
                         for i in range(sections)]

    @classmethod
    def read(cls, path):
        return cls(Path(path).read_bytes())

    def _u16(self, offset):
        return struct.unpack_from("<H", self.data, offset)[0]

    def _u32(self, offset):
        return struct.unpack_from("<I", self.data, offset)[0]

    def offset(self, rva):
        """The file offset of an address inside a section."""
        for _, size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise ValueError(f"address {rva:#x} is in no section")

    def directory(self, index):
        """(file offset, size) of a data directory, or None when empty."""
        if index >= len(self.directories):
            return None
        rva, size = self.directories[index]
        return (self.offset(rva), size) if rva and size else None

    def _name(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii")

    def imports(self):
        """Names of the libraries of the static import table, in order."""
        found = self.directory(IMPORT)
        names, at = [], found[0] if found else None
        while at is not None:
            descriptor = struct.unpack_from("<5I", self.data, at)
            if not any(descriptor):
                break
            names.append(self._name(descriptor[3]))
            at += 20
        return names

    def delay_imports(self):
        found = self.directory(DELAY_IMPORT)
        names, at = [], found[0] if found else None
        while at is not None:
            descriptor = struct.unpack_from("<8I", self.data, at)
            if not any(descriptor):
                break
            names.append(self._name(descriptor[1]))
            at += 32
        return names

    def _debug_entries(self):
        found = self.directory(DEBUG)
        if not found:
            return []
        at, size = found
        return [struct.unpack_from("<IIHHIIII", self.data, at + 28 * i)
                for i in range(size // 28)]

    def time_stamps(self):
        """{where: value} of every build time the file records: the file
        header and the export, resource and debug directories."""
        stamps = {"file header": self.time_stamp}
        for name, index in (("export directory", EXPORT),
                            ("resource directory", RESOURCE)):
            found = self.directory(index)
            if found:
                stamps[name] = self._u32(found[0] + 4)
        for i, entry in enumerate(self._debug_entries()):
            stamps[f"debug entry {i}"] = entry[1]
        return stamps

    def guard_flags(self):
        """GuardFlags of the load configuration (0 without one)."""
        found = self.directory(LOAD_CONFIG)
        if not found or self._u32(found[0]) < 0x94:
            return 0
        return self._u32(found[0] + 0x90)

    def cet_compatible(self):
        for entry in self._debug_entries():
            if entry[4] == DEBUG_TYPE_EX_DLLCHARACTERISTICS and entry[5] >= 4:
                if self._u32(entry[7]) & CET_COMPAT:
                    return True
        return False

    def figures(self):
        """The release check's figures, by name."""
        flags = self.dll_characteristics
        foreign = [name for name in self.imports()
                   if name.lower() not in KNOWN_DLLS | APP_LIBRARIES
                   and not name.lower().startswith(("api-ms-", "ext-ms-"))]
        return {
            "aslr": bool(flags & DYNAMIC_BASE),
            "high_entropy": bool(flags & HIGH_ENTROPY_VA),
            "dep": bool(flags & NX_COMPAT),
            "cfg": bool(flags & GUARD_CF) and
            bool(self.guard_flags() & GUARD_CF_INSTRUMENTED),
            "cet_compat": self.cet_compatible(),
            "ts_aware": bool(flags & TERMINAL_SERVER_AWARE),
            "build_time": any(self.time_stamps().values()),
            "foreign_imports": foreign,
        }


if __name__ == "__main__":
    for path in sys.argv[1:]:
        image = PeImage.read(path)
        print(Path(path).name, image.figures(), "delay:",
              image.delay_imports())
