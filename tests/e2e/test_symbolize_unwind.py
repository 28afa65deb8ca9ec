"""The symbolizer's x64 unwinder on one function's records, at the edges of
its prolog: no Wine needed.

The function at 0x1000 of a module at 0x7000_0000:
    +0  push rbp            codes, last first:  SET_FPREG        at 11
    +1  push rbx                                ALLOC_SMALL 0x28 at 6
    +2  sub rsp, 0x28                           PUSH rbx         at 2
    +6  lea rbp, [rsp+0x20]                     PUSH rbp         at 1
    +11 body
"""

import struct
from types import SimpleNamespace

import pytest

from orvalin_dev import minidump, symbolize

BASE = 0x7000_0000
FUNCTION = 0x1000
RBX, RBP = 3, 5
ENTRY_RSP = 0x5000  # rsp right after the call: the return address is here
RETURN = BASE + 0x2345
OLD_RBP, OLD_RBX = 0xAAAA, 0xBBBB


def op(kind, at, reg=0, size=0):
    return SimpleNamespace(
        struct=SimpleNamespace(CodeOffset=at, UnwindOp=kind, Reg=reg,
                               OpInfo=0),
        get_alloc_size=lambda: size, get_offset=lambda: 0)


INFO = SimpleNamespace(
    SizeOfProlog=11, FrameRegister=RBP, FrameOffset=2, _chained_entry=None,
    UnwindCodes=[op(symbolize.SET_FPREG, 11),
                 op(symbolize.ALLOC_SMALL, 6, size=0x28),
                 op(symbolize.PUSH_NONVOL, 2, reg=RBX),
                 op(symbolize.PUSH_NONVOL, 1, reg=RBP)])
ENTRY = SimpleNamespace(
    struct=SimpleNamespace(BeginAddress=FUNCTION, EndAddress=FUNCTION + 0x100),
    unwindinfo=INFO)


class FakeImage:
    def function_at(self, rva):
        return ENTRY if FUNCTION <= rva < FUNCTION + 0x100 else None


def stack_dump():
    """The stack from ENTRY_RSP - 0x100 up, as the prolog left it."""
    low = ENTRY_RSP - 0x100
    words = {ENTRY_RSP: RETURN, ENTRY_RSP - 8: OLD_RBP,
             ENTRY_RSP - 16: OLD_RBX}
    data = b"".join(struct.pack("<Q", words.get(low + 8 * i, 0x5A5A))
                    for i in range(0x40))
    return minidump.Minidump(memory=[(low, 0, len(data))], data=data)


MODULE = minidump.Module(BASE, 0x10000, 0, "x.dll")


def context(offset, rsp, rbp):
    registers = [0] * 16
    registers[minidump.RSP] = rsp
    registers[RBP] = rbp
    registers[RBX] = 0x1111
    return minidump.Context(registers, BASE + FUNCTION + offset)


def assert_caller(caller):
    assert caller.rip == RETURN
    assert caller.rsp == ENTRY_RSP + 8
    assert caller.registers[RBP] == OLD_RBP
    assert caller.registers[RBX] == OLD_RBX


@pytest.mark.parametrize("rsp", [ENTRY_RSP - 56, ENTRY_RSP - 200])
def test_the_body_unwinds_through_the_frame_register(rsp):
    # However far rsp moved since (an alloca), rbp finds the frame.
    caller = symbolize.unwind(stack_dump(), MODULE, FakeImage(),
                              context(0x40, rsp, ENTRY_RSP - 24), first=True)
    assert_caller(caller)


def test_inside_the_prolog_only_what_ran_is_undone():
    # Stopped at +2: both pushes ran, the allocation and rbp did not.
    caller = symbolize.unwind(stack_dump(), MODULE, FakeImage(),
                              context(2, ENTRY_RSP - 16, 0x9999), first=True)
    assert_caller(caller)
    # At +6 the allocation ran too; rbp is still the caller's.
    caller = symbolize.unwind(stack_dump(), MODULE, FakeImage(),
                              context(6, ENTRY_RSP - 56, 0x9999), first=True)
    assert_caller(caller)


def test_a_return_address_past_the_end_belongs_to_the_call_before_it():
    # A caller frame whose return address is the function's end: looked up
    # one byte earlier, inside it.
    caller = symbolize.unwind(stack_dump(), MODULE, FakeImage(),
                              context(0x100, ENTRY_RSP - 56, ENTRY_RSP - 24),
                              first=False)
    assert_caller(caller)


def test_a_leaf_and_a_call_through_null_take_the_top_of_the_stack():
    dump = stack_dump()
    leaf = context(0x800, ENTRY_RSP, 0)
    assert symbolize.unwind(dump, MODULE, FakeImage(), leaf, True).rip == \
        RETURN
    null_call = minidump.Context(leaf.registers, 0)
    frames = symbolize.walk(minidump.Minidump(
        memory=dump.memory, data=dump.data, modules=[MODULE]), {},
        null_call)
    assert frames[:2] == [(0, None), (RETURN, MODULE)]


def test_a_stack_outside_the_dump_stops_the_walk():
    with pytest.raises(symbolize.WalkStopped):
        symbolize.unwind(stack_dump(), MODULE, FakeImage(),
                         context(0x40, 0x100, 0x200), first=True)
