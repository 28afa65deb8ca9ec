"""What orvalin_ai.exe carries in its resources: the application manifest,
the version record and icon group 101. Read straight from the PE file."""

import re
import struct
import xml.etree.ElementTree as ElementTree

import pytest

from app_support import APP

RT_ICON, RT_GROUP_ICON, RT_VERSION, RT_MANIFEST = 3, 14, 16, 24


class Resources:
    """A 64-bit PE file's resources: {type: {name: first language's bytes}}."""

    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        sections, optional_size = struct.unpack_from("<H12xH", data, pe + 6)
        optional = pe + 24
        assert struct.unpack_from("<H", data, optional)[0] == 0x20B
        self.root_rva = struct.unpack_from("<I", data, optional + 112 + 16)[0]
        self.sections = [struct.unpack_from("<8xIIII", data,
                                            optional + optional_size + 40 * i)
                         for i in range(sections)]
        self.tree = {t: {n: self._leaf(leaf) for n, leaf in
                         self._entries(names)}
                     for t, names in self._entries(0)}

    def _offset(self, rva):
        for size, address, raw_size, raw in self.sections:
            if address <= rva < address + max(size, raw_size):
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} outside every section")

    def _entries(self, directory):
        base = self._offset(self.root_rva)
        named, ids = struct.unpack_from("<12xHH", self.data, base + directory)
        for i in range(named + ids):
            name, target = struct.unpack_from(
                "<II", self.data, base + directory + 16 + 8 * i)
            yield name, target & 0x7FFFFFFF

    def _leaf(self, directory):
        _, language = next(self._entries(directory))
        rva, size = struct.unpack_from(
            "<II", self.data, self._offset(self.root_rva) + language)
        return self.data[self._offset(rva):self._offset(rva) + size]


@pytest.fixture(scope="module")
def resources(bundle_dir):
    path = bundle_dir / APP
    if not path.is_file():
        pytest.skip(f"{path} is not built")
    return Resources(path.read_bytes())


def test_manifest_asks_for_what_the_process_relies_on(resources):
    manifest = ElementTree.fromstring(resources.tree[RT_MANIFEST][1])
    found = {element.tag.split("}")[1]: element
             for element in manifest.iter()}
    level = found["requestedExecutionLevel"].attrib
    assert level == {"level": "asInvoker", "uiAccess": "false"}
    assert [found[tag].text for tag in (
        "dpiAwareness", "longPathAware", "activeCodePage", "heapType")] == \
        ["PerMonitorV2", "true", "UTF-8", "SegmentHeap"]
    assert found["supportedOS"].attrib["Id"] == \
        "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"


def test_version_record_names_the_product(resources):
    record = resources.tree[RT_VERSION][1]
    fixed = record.index(struct.pack("<I", 0xFEEF04BD))
    file_ms, file_ls, product_ms, product_ls = struct.unpack_from(
        "<4I", record, fixed + 8)
    assert (file_ms, file_ls) == ((1 << 16) | 0, (12 << 16) | 13)
    assert (product_ms, product_ls) == (file_ms, file_ls)
    text = record.decode("utf-16-le", errors="replace")
    strings = dict(re.findall(r"([A-Za-z]+)\x00+([^\x00]+)\x00", text))
    assert [strings[key] for key in (
        "FileVersion", "ProductVersion", "FileDescription", "InternalName",
        "ProductName")] == ["1.0.12+13"] * 2 + ["Orvalin AI"] * 3


def test_icon_group_101_has_seven_32_bit_sizes(resources):
    group = resources.tree[RT_GROUP_ICON][101]
    reserved, kind, count = struct.unpack_from("<HHH", group)
    assert (reserved, kind) == (0, 1)
    sizes = []
    for i in range(count):
        width, height, _, _, _, bits, size, icon_id = struct.unpack_from(
            "<BBBBHHIH", group, 6 + 14 * i)
        image = resources.tree[RT_ICON][icon_id]
        assert (len(image), bits) == (size, 32)
        sizes.append((width or 256, height or 256))
        # Each image is a PNG (the large one) or a 32-bit DIB.
        if not image.startswith(b"\x89PNG"):
            assert struct.unpack_from("<H", image, 14)[0] == 32
    assert sorted(sizes) == [(n, n) for n in (16, 24, 32, 48, 64, 128, 256)]
