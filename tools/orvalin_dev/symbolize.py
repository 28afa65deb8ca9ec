"""Turns a minidump of the host into a readable stack.

Standard output, one record a line, fields separated by tabs:
    exception<TAB>0xC0000005<TAB>access violation<TAB>flutter_windows.dll+0x1a2b
    0<TAB>flutter_windows.dll!WriteThroughNull()<TAB>standin/crash.cc:18
    1<TAB>orvalin_ai.exe+0x4f10
The crashing thread comes first, innermost frame first (a call the compiler
inlined is a frame of its own); --all-threads adds
every other thread after a line "thread<TAB><id>". Everything else (files
not found, modules that do not match, why a walk stopped) goes to standard
error.

What does what: the minidump is read by orvalin_dev.minidump (Debian has no
reader for it); PE headers, sections and the .pdata/.xdata unwind records
are read by pefile (python3-pefile); the unwind codes are applied here; the
names, files and lines come from llvm-symbolizer, reading the DWARF embedded
in a module or kept in the separate file its .gnu_debuglink names (checked
by CRC-32), else the module's COFF symbol table (the MinGW addr2line names
nothing from that table).
"""

import argparse
import bisect
import os
import shutil
import struct
import subprocess
import sys
import zlib
from pathlib import Path

import pefile

from orvalin_dev import minidump

EXCEPTION_NAMES = {
    0x40000015: "fatal application exit",
    0x80000003: "breakpoint",
    0xC0000005: "access violation",
    0xC000001D: "illegal instruction",
    0xC0000094: "integer divide by zero",
    0xC0000095: "integer overflow",
    0xC00000FD: "stack overflow",
    0xC0000409: "stack buffer overrun",
    0xC0000417: "invalid C runtime parameter",
    0xE06D7363: "C++ exception",
}

# Unwind operations (UWOP_*).
PUSH_NONVOL, ALLOC_LARGE, ALLOC_SMALL, SET_FPREG = 0, 1, 2, 3
SAVE_NONVOL, SAVE_NONVOL_FAR, EPILOG, PUSH_MACHFRAME = 4, 5, 6, 10

# A walk of more frames than this has gone wrong; real stacks hold fewer
# even after an overflow of a 1 MiB stack by the smallest frames.
MAX_FRAMES = 200000
SYMBOLIZER = "llvm-symbolizer"


def warn(text):
    print(f"symbolize: {text}", file=sys.stderr)


class Image:
    """A PE file matching a dumped module: its unwind records."""

    def __init__(self, path, pe):
        self.path = path
        self.image_base = pe.OPTIONAL_HEADER.ImageBase
        self.debuglink = _debuglink(pe)
        pe.parse_data_directories(directories=[
            pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_EXCEPTION"]])
        entries = getattr(pe, "DIRECTORY_ENTRY_EXCEPTION", [])
        self.functions = sorted(entries, key=lambda e: e.struct.BeginAddress)
        self.starts = [e.struct.BeginAddress for e in self.functions]

    def function_at(self, rva):
        i = bisect.bisect_right(self.starts, rva) - 1
        if i >= 0 and rva < self.functions[i].struct.EndAddress:
            return self.functions[i]
        return None


def _debuglink(pe):
    """(file name, CRC-32) of the separate symbol file a stripped module
    names in its .gnu_debuglink section, or None."""
    for section in pe.sections:
        if _section_name(pe, section) != b".gnu_debuglink":
            continue
        data = section.get_data()
        end = data.find(b"\0")
        if end <= 0:
            return None
        crc_at = (end + 4) & ~3
        if crc_at + 4 > len(data):
            return None
        return (data[:end].decode("utf-8", "replace"),
                struct.unpack_from("<I", data, crc_at)[0])
    return None


def _section_name(pe, section):
    """A section's full name: names longer than 8 bytes are "/<offset>"
    into the COFF string table, which follows the symbol table."""
    name = section.Name.rstrip(b"\0")
    if not name.startswith(b"/") or not name[1:].isdigit():
        return name
    header = pe.FILE_HEADER
    at = (header.PointerToSymbolTable + 18 * header.NumberOfSymbols +
          int(name[1:]))
    end = pe.__data__.find(b"\0", at, at + 256)
    return pe.__data__[at:end] if header.PointerToSymbolTable and end > at \
        else name


def folder_index(folders):
    """Lower-cased file name -> paths, in folder order (Windows finds
    modules without regard to case)."""
    index = {}
    for folder in folders:
        try:
            names = sorted(os.listdir(folder))
        except OSError:
            continue
        for name in names:
            path = Path(folder) / name
            if path.is_file():
                index.setdefault(name.lower(), []).append(path)
    return index


def find_images(dump, index):
    """Module base -> Image, for modules whose PE file is found with the
    dumped size and time stamp."""
    images = {}
    for module in dump.modules:
        candidates = index.get(module.name.lower(), [])
        for path in candidates:
            try:
                pe = pefile.PE(str(path), fast_load=True)
            except (pefile.PEFormatError, OSError) as error:
                warn(f"{path}: not a PE file ({error})")
                continue
            if (pe.FILE_HEADER.TimeDateStamp == module.timestamp and
                    pe.OPTIONAL_HEADER.SizeOfImage == module.size):
                images[module.base] = Image(path, pe)
                break
            warn(f"{path}: does not match the dumped {module.name} (time "
                 f"stamp {pe.FILE_HEADER.TimeDateStamp:#x}, size "
                 f"{pe.OPTIONAL_HEADER.SizeOfImage:#x}; dump: "
                 f"{module.timestamp:#x}, {module.size:#x})")
        else:
            if not candidates:
                warn(f"{module.name}: no PE file found")
    return images


def _apply_codes(dump, info, context, frame, prolog_offset):
    """Undoes one UNWIND_INFO's prolog operations on `context`; returns
    True when a machine frame already set rip and rsp."""
    for op in info.UnwindCodes:
        code = op.struct
        if prolog_offset is not None and code.CodeOffset > prolog_offset:
            continue  # not yet executed when the thread stopped
        kind = code.UnwindOp
        regs = context.registers
        if kind == PUSH_NONVOL:
            regs[code.Reg] = _read(dump, regs[minidump.RSP])
            regs[minidump.RSP] += 8
        elif kind in (ALLOC_LARGE, ALLOC_SMALL):
            regs[minidump.RSP] += op.get_alloc_size()
        elif kind == SET_FPREG:
            regs[minidump.RSP] = frame
        elif kind in (SAVE_NONVOL, SAVE_NONVOL_FAR):
            regs[code.Reg] = _read(dump, frame + op.get_offset())
        elif kind == PUSH_MACHFRAME:
            at = regs[minidump.RSP] + (8 if code.OpInfo else 0)
            context.rip = _read(dump, at)
            regs[minidump.RSP] = _read(dump, at + 24)
            return True
        # XMM saves restore no integer register; epilog markers describe
        # epilogs, not the prolog.
    return False


class WalkStopped(Exception):
    pass


def _read(dump, address):
    value = dump.read_u64(address)
    if value is None:
        raise WalkStopped(f"stack memory at {address:#x} is not in the dump")
    return value


def _leaf_caller(dump, context):
    """The caller of a function that pushed nothing: its return address is
    on top of the stack."""
    caller = context.copy()
    caller.rip = _read(dump, caller.rsp)
    caller.registers[minidump.RSP] += 8
    return caller


def unwind(dump, module, image, context, first):
    """The caller's context, from `context` inside `module`."""
    rva = context.rip - module.base
    # A return address may be the first byte after the call's function.
    entry = image.function_at(rva if first else rva - 1)
    caller = context.copy()
    if entry is None:
        return _leaf_caller(dump, context)
    offset = rva - entry.struct.BeginAddress
    info = entry.unwindinfo
    in_prolog = first and offset < info.SizeOfProlog
    prolog_offset = offset if in_prolog else None
    frame = caller.rsp
    if info.FrameRegister:
        established = not in_prolog or any(
            op.struct.UnwindOp == SET_FPREG and op.struct.CodeOffset <= offset
            for op in info.UnwindCodes)
        if established:
            frame = (caller.registers[info.FrameRegister] -
                     16 * info.FrameOffset)
    machine_frame = _apply_codes(dump, info, caller, frame, prolog_offset)
    # Chained records describe the rest of the same function's prolog.
    chained = info
    for _ in range(32):
        if machine_frame or chained._chained_entry is None:
            break
        chained = chained._chained_entry.unwindinfo
        machine_frame = _apply_codes(dump, chained, caller, caller.rsp, None)
    if not machine_frame:
        caller.rip = _read(dump, caller.rsp)
        caller.registers[minidump.RSP] += 8
    return caller


def walk(dump, images, context):
    """(address, module) frames, innermost first."""
    frames = []
    first = True
    while len(frames) < MAX_FRAMES:
        module = dump.module_at(context.rip)
        frames.append((context.rip, module))
        if module is None and first:
            # A call through a bad pointer (null, a freed object's table):
            # the caller's return address is still on top of the stack.
            try:
                context = _leaf_caller(dump, context)
            except WalkStopped as stop:
                warn(f"frame 0: {stop}; the walk stops")
                break
            first = False
            continue
        if module is None:
            warn(f"frame {len(frames) - 1}: {context.rip:#x} is in no module;"
                 f" the walk stops")
            break
        image = images.get(module.base)
        if image is None:
            warn(f"frame {len(frames) - 1}: no unwind records for "
                 f"{module.name}; the walk stops")
            break
        try:
            caller = unwind(dump, module, image, context, first)
        except WalkStopped as stop:
            warn(f"frame {len(frames) - 1}: {stop}; the walk stops")
            break
        if caller.rip == 0:
            break
        if caller.rsp <= context.rsp:
            warn(f"frame {len(frames) - 1}: the stack does not move up; "
                 f"the walk stops")
            break
        context, first = caller, False
    return frames


class Symbols:
    """Names, files and lines from llvm-symbolizer, per module, in one call
    each: it reads a module's DWARF (inlined calls included) and, without
    it, its COFF symbol table."""

    def __init__(self, index, images, symbolizer):
        self.index = index
        self.images = images
        self.symbolizer = symbolizer

    def _symbol_file(self, module):
        """The separate symbol file the module's PE file names, with the
        CRC-32 it records; else the PE file itself (its own DWARF or COFF
        symbols). Nothing for a module whose PE file does not match: names
        from another build would be wrong."""
        image = self.images.get(module.base)
        if image is None:
            return None
        if image.debuglink is None:
            return image.path
        name, crc = image.debuglink
        for path in self.index.get(name.lower(), []):
            if zlib.crc32(path.read_bytes()) == crc:
                return path
            warn(f"{path}: not the symbol file of {image.path} (CRC differs)")
        warn(f"{module.name}: no symbol file {name}; only its own symbols")
        return image.path

    def lookup(self, frames):
        """address -> [(function or None, "file:line" or None), ...],
        innermost first, for every frame in a module with a symbol
        file."""
        by_module = {}
        for i, (address, module) in enumerate(frames):
            if module is not None:
                # A caller's return address belongs to the call before it.
                lookup = address if i == 0 else address - 1
                by_module.setdefault(module.base, (module, set()))[1].add(
                    (address, lookup))
        found = {}
        for module, addresses in by_module.values():
            path = self._symbol_file(module)
            if path is None or self.symbolizer is None:
                continue
            base = self.images[module.base].image_base \
                if module.base in self.images else module.base
            ordered = sorted(addresses)
            query = [hex(base + lookup - module.base) for _, lookup in ordered]
            answers = self._run(path, query)
            if answers is None:
                continue
            for (address, _), answer in zip(ordered, answers):
                found[address] = answer
        return found

    def _run(self, path, query):
        """Per address, its functions innermost first: (function or None,
        "file:line" or None) for each inlined call and the function that
        holds them."""
        try:
            result = subprocess.run(
                [self.symbolizer, "--inlines", f"--obj={path}"],
                input="\n".join(query) + "\n", capture_output=True, text=True,
                timeout=300)
        except (OSError, subprocess.TimeoutExpired) as error:
            warn(f"{path}: {SYMBOLIZER} failed ({error})")
            return None
        # Pairs of lines (function, file:line:column), a blank line after
        # each address.
        blocks = [b.split("\n")
                  for b in result.stdout.strip("\n").split("\n\n")]
        if len(blocks) != len(query) or any(
                not b or len(b) % 2 for b in blocks):
            warn(f"{path}: unexpected answer from {SYMBOLIZER}")
            return None
        return [[_answer(b[i], b[i + 1]) for i in range(0, len(b), 2)]
                for b in blocks]


def _answer(function, place):
    file, _, _column = place.rpartition(":")
    file, _, line = file.rpartition(":")
    known_place = file not in ("", "??") and line not in ("", "0")
    return (None if function == "??" else function,
            f"{file}:{line}" if known_place else None)


def frame_lines(frames, found):
    """One line a frame, innermost first; a call the compiler inlined is a
    frame of its own, above the function it was inlined into."""
    number = 0
    for address, module in frames:
        if module is None:
            names = [f"{address:#x}"]
        else:
            names = []
            for function, place in found.get(address, [(None, None)]):
                if function is None:
                    names.append(f"{module.name}+{address - module.base:#x}")
                elif place is None:
                    names.append(f"{module.name}!{function}")
                else:
                    names.append(f"{module.name}!{function}\t{place}")
        for name in names:
            yield f"{number}\t{name}"
            number += 1


# Wine's own modules, for dumps written under Wine here.
WINE_MODULES = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")


def default_folders(repo):
    """The build trees' bundles, the symbol folders beside packages, and
    Wine's modules."""
    folders = []
    for tree in ("release", "windows"):
        bundle = repo / "build" / tree / "bundle"
        folders.append(bundle)
        package = repo / "build" / tree / "package"
        if package.is_dir():
            folders += sorted(p for p in package.iterdir()
                              if p.is_dir() and p.name.endswith("-symbols"))
    if WINE_MODULES.is_dir():
        folders.append(WINE_MODULES)
    return folders


def main(argv=None):
    parser = argparse.ArgumentParser(
        prog="symbolize.sh",
        description="Prints the crashing thread's stack of a minidump.")
    parser.add_argument("dump")
    parser.add_argument("symbol_dirs", nargs="*",
                        help="folders holding the modules' PE files and "
                             "their .debug files")
    parser.add_argument("--all-threads", action="store_true")
    args = parser.parse_args(argv)

    try:
        dump = minidump.parse(Path(args.dump).read_bytes())
    except (OSError, minidump.MinidumpError) as error:
        warn(f"{args.dump}: {error}")
        return 1
    if dump.exception is None:
        warn(f"{args.dump}: the dump records no exception")
        return 1

    repo = Path(__file__).resolve().parents[2]
    folders = [Path(d) for d in args.symbol_dirs] or default_folders(repo)
    index = folder_index(folders)
    images = find_images(dump, index)
    symbolizer = shutil.which(SYMBOLIZER)
    if symbolizer is None:
        warn(f"{SYMBOLIZER} not found: frames stay unnamed")
    symbols = Symbols(index, images, symbolizer)

    exception = dump.exception
    module = dump.module_at(exception.address)
    where = (f"{module.name}+{exception.address - module.base:#x}" if module
             else f"{exception.address:#x}")
    name = EXCEPTION_NAMES.get(exception.code, "unknown exception")
    print(f"exception\t0x{exception.code:08X}\t{name}\t{where}")

    stacks = [(exception.thread_id, exception.context)]
    if args.all_threads:
        stacks += [(t.thread_id, t.context) for t in dump.threads
                   if t.thread_id != exception.thread_id]
    for n, (thread_id, context) in enumerate(stacks):
        if n > 0 or args.all_threads:
            print(f"thread\t{thread_id}")
        frames = walk(dump, images, context)
        for line in frame_lines(frames, symbols.lookup(frames)):
            print(line)
    return 0


if __name__ == "__main__":
    sys.exit(main())
