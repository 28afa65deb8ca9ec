"""Writes the seeds too large to write by hand into fuzz/corpus/<target>/.

    python3 fuzz/make_seeds.py

typed_list_padding: a list of 64-bit float lists (and, for read_value,
32-bit float and 32- and 64-bit integer lists too), each declaring as many
elements as the bytes after its count hold, so that the count fits before
the list's alignment padding but not after it. A decoder that checks the
count before skipping the padding allocates every one of them: memory
quadratic in the message's size.

large_blocks: a list of byte lists and strings of 64 KiB and more, which
together fill most of a 1 MiB message.
"""

import pathlib
import struct

CORPUS = pathlib.Path(__file__).resolve().parent / "corpus"

LIST, STRING, BYTES = 12, 7, 8
# Typed lists: tag and element size, which is also their alignment.
INT32_LIST, INT64_LIST = (9, 4), (10, 8)
FLOAT64_LIST, FLOAT32_LIST = (11, 8), (14, 4)
PADDING_SEED_SIZE = 64 * 1024  # about; see typed_list_padding


def length(count):
    """The four-byte form, so every element has the same size."""
    return bytes([255]) + struct.pack("<I", count)


def short_string(text):
    return bytes([STRING, len(text)]) + text


def typed_list_padding(prefix, size, kind=FLOAT64_LIST):
    """|prefix| then the outer list, |size| bytes or a few more in all: the
    size that makes the most elements of the kind wanted."""
    candidates = (padded_lists(prefix, size + extra, kind)
                  for extra in range(8))
    return max(candidates, key=lambda pair: pair[0])[1]


def padded_lists(prefix, size, kind):
    """The number of elements and the message."""
    out = bytearray(prefix) + bytes([LIST])
    count_at = len(out)
    out += length(0)
    tag, width = kind
    elements = 0
    while True:
        after_count = len(out) + 1 + 5
        padding = -after_count % width
        left = size - after_count
        # Fits before the padding, not after it.
        count = left // width
        if padding == 0 or count * width <= left - padding or left < width:
            break
        out += bytes([tag]) + length(count) + bytes(padding)
        elements += 1
    out[count_at:count_at + 5] = length(elements)
    out += bytes(size - len(out))
    return elements, bytes(out)


def large_blocks(prefix):
    out = bytearray(prefix)
    blocks = 14
    out += bytes([LIST]) + length(blocks)
    for i in range(blocks):
        block = bytes((i * 31 + j) % 95 + 32 for j in range(64 * 1024 + i * 7))
        out += bytes([BYTES if i % 2 else STRING]) + length(len(block)) + block
    return bytes(out)


def main():
    call = short_string(b"m")  # a method call: its name, then the value
    success = bytes([0])  # a success envelope: its kind, then the value
    size = PADDING_SEED_SIZE
    # Two nulls first, read as values of their own, so that each 4-byte
    # aligned list's count ends two bytes short of its alignment.
    nulls = bytes(2)
    seeds = {
        "read_value": {
            "typed_list_padding": typed_list_padding(b"", size),
            "typed_list_padding_int32": typed_list_padding(
                nulls, size, INT32_LIST),
            "typed_list_padding_int64": typed_list_padding(
                b"", size, INT64_LIST),
            "typed_list_padding_float32": typed_list_padding(
                nulls, size, FLOAT32_LIST),
        },
        "round_trip": {
            "typed_list_padding": typed_list_padding(b"", size),
            "large_blocks": large_blocks(b""),
        },
        "decode_call": {
            "typed_list_padding": typed_list_padding(call, size),
            "large_blocks": large_blocks(call),
        },
        "decode_response": {
            "typed_list_padding": typed_list_padding(success, size),
        },
    }
    for target, files in seeds.items():
        for name, data in files.items():
            (CORPUS / target / name).write_bytes(data)


if __name__ == "__main__":
    main()
