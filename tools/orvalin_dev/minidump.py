"""Reads the parts of a Windows x64 minidump a stack needs: the exception,
the threads with their registers and stacks, the modules and the memory.

Debian packages no minidump reader, so the format is read here. Every size
and count is checked against the file before it is used: a damaged dump
raises MinidumpError instead of reading past its end.
"""

import struct
from dataclasses import dataclass, field

THREAD_LIST_STREAM = 3
MODULE_LIST_STREAM = 4
MEMORY_LIST_STREAM = 5
EXCEPTION_STREAM = 6

# The x64 CONTEXT: the integer registers from Rax on, in unwind-code order
# (rax rcx rdx rbx rsp rbp rsi rdi r8..r15), then Rip.
CONTEXT_REGISTERS_OFFSET = 0x78
CONTEXT_RIP_OFFSET = 0xF8
CONTEXT_MIN_SIZE = CONTEXT_RIP_OFFSET + 8

REGISTER_NAMES = ("rax", "rcx", "rdx", "rbx", "rsp", "rbp", "rsi", "rdi",
                  "r8", "r9", "r10", "r11", "r12", "r13", "r14", "r15")
RSP = 4


class MinidumpError(Exception):
    pass


@dataclass
class Context:
    """Integer registers by unwind-code number, and rip."""
    registers: list
    rip: int

    @property
    def rsp(self):
        return self.registers[RSP]

    def copy(self):
        return Context(list(self.registers), self.rip)


@dataclass
class Thread:
    thread_id: int
    context: Context


@dataclass
class Module:
    base: int
    size: int
    timestamp: int
    path: str

    @property
    def name(self):
        return self.path.replace("/", "\\").rsplit("\\", 1)[-1]

    def contains(self, address):
        return self.base <= address < self.base + self.size


@dataclass
class Exception_:
    thread_id: int
    code: int
    address: int
    context: Context


@dataclass
class Minidump:
    threads: list = field(default_factory=list)
    modules: list = field(default_factory=list)
    exception: Exception_ = None
    # (start address, file offset, size), sorted by start address.
    memory: list = field(default_factory=list)
    data: bytes = b""

    def module_at(self, address):
        for module in self.modules:
            if module.contains(address):
                return module
        return None

    def read(self, address, size):
        """`size` bytes at `address` from the dumped memory, or None."""
        for start, offset, length in self.memory:
            if start <= address and address + size <= start + length:
                at = offset + address - start
                return self.data[at:at + size]
        return None

    def read_u64(self, address):
        raw = self.read(address, 8)
        return None if raw is None else struct.unpack("<Q", raw)[0]


class _Reader:
    def __init__(self, data):
        self.data = data

    def unpack(self, fmt, offset):
        size = struct.calcsize(fmt)
        if offset < 0 or offset + size > len(self.data):
            raise MinidumpError(f"record at {offset:#x} runs past the file")
        return struct.unpack_from(fmt, self.data, offset)

    def check_range(self, offset, size, what):
        if offset < 0 or size < 0 or offset + size > len(self.data):
            raise MinidumpError(f"{what} at {offset:#x} runs past the file")

    def context(self, offset, size):
        if size < CONTEXT_MIN_SIZE:
            raise MinidumpError("thread context too small for x64")
        self.check_range(offset, size, "thread context")
        registers = list(self.unpack("<16Q", offset + CONTEXT_REGISTERS_OFFSET))
        (rip,) = self.unpack("<Q", offset + CONTEXT_RIP_OFFSET)
        return Context(registers, rip)

    def string(self, offset):
        (length,) = self.unpack("<I", offset)
        self.check_range(offset + 4, length, "module name")
        return self.data[offset + 4:offset + 4 + length].decode(
            "utf-16-le", errors="replace")


def parse(data):
    """Parses the dump in `data` (bytes)."""
    reader = _Reader(data)
    signature, _version, count, directory = reader.unpack("<4sIII", 0)
    if signature != b"MDMP":
        raise MinidumpError("not a minidump (no MDMP signature)")
    reader.check_range(directory, count * 12, "stream directory")
    dump = Minidump(data=data)
    for i in range(count):
        kind, size, rva = reader.unpack("<III", directory + 12 * i)
        reader.check_range(rva, size, f"stream {kind}")
        if kind == THREAD_LIST_STREAM:
            dump.threads, stacks = _threads(reader, rva, size)
            dump.memory.extend(stacks)
        elif kind == MODULE_LIST_STREAM:
            dump.modules = _modules(reader, rva, size)
        elif kind == MEMORY_LIST_STREAM:
            dump.memory.extend(_memory(reader, rva, size))
        elif kind == EXCEPTION_STREAM:
            dump.exception = _exception(reader, rva, size)
    # The stacks are listed once with their threads and usually again in the
    # memory list; either serves.
    dump.memory.sort()
    return dump


def _counted(reader, rva, size, entry_size, what):
    (count,) = reader.unpack("<I", rva)
    first = rva + 4
    # Some writers pad the count to 8 bytes.
    if 4 + count * entry_size < size and 8 + count * entry_size <= size:
        first = rva + 8
    if first - rva + count * entry_size > size:
        raise MinidumpError(f"{what} list longer than its stream")
    return count, first


def _threads(reader, rva, size):
    count, first = _counted(reader, rva, size, 48, "thread")
    threads, stacks = [], []
    for i in range(count):
        at = first + 48 * i
        thread_id, = reader.unpack("<I", at)
        start, stack_size, stack_rva, context_size, context_rva = \
            reader.unpack("<QIIII", at + 24)
        reader.check_range(stack_rva, stack_size, "thread stack")
        stacks.append((start, stack_rva, stack_size))
        threads.append(Thread(thread_id,
                              reader.context(context_rva, context_size)))
    return threads, stacks


def _modules(reader, rva, size):
    count, first = _counted(reader, rva, size, 108, "module")
    modules = []
    for i in range(count):
        at = first + 108 * i
        base, image_size, _checksum, timestamp, name_rva = \
            reader.unpack("<QIIII", at)
        modules.append(Module(base, image_size, timestamp,
                              reader.string(name_rva)))
    return modules


def _memory(reader, rva, size):
    count, first = _counted(reader, rva, size, 16, "memory range")
    ranges = []
    for i in range(count):
        start, length, offset = reader.unpack("<QII", first + 16 * i)
        reader.check_range(offset, length, "memory range")
        ranges.append((start, offset, length))
    return ranges


def _exception(reader, rva, size):
    if size < 168:
        raise MinidumpError("exception stream too small")
    thread_id, = reader.unpack("<I", rva)
    code, _flags, _record, address = reader.unpack("<IIQQ", rva + 8)
    context_size, context_rva = reader.unpack("<II", rva + 160)
    return Exception_(thread_id, code, address,
                      reader.context(context_rva, context_size))
