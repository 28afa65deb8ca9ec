"""The Dart side's codec against the wire format's byte examples. Pure
Python: no Wine, no build needed."""

import math
import struct

import pytest

from dartside.codec import (
    NOT_IMPLEMENTED, DecodeError, ErrorResult, Float32List, Float64List,
    Int32, Int32List, Int64, Int64List, MapEntries, MethodCall, MethodError,
    MethodNotImplemented, RawString, Success, canonical, compare_values,
    decode_envelope, decode_message, decode_method_call, decode_value_at,
    encode_error, encode_length, encode_message, encode_method_call,
    encode_success, envelope_value, host_sorted)


def h(text):
    return bytes.fromhex(text)


class TestScalars:
    @pytest.mark.parametrize("value, wire", [
        (None, "00"),
        (True, "01"),
        (False, "02"),
        (7, "03 07000000"),
        (Int32(-2), "03 feffffff"),
        (Int64(-1), "04 ffffffffffffffff"),
        (Int64(7), "04 0700000000000000"),
        (1.0, "06 00000000000000 000000000000f03f"),
        ("abc", "07 03 616263"),
        ("", "07 00"),
        (b"", "08 00"),
        (b"\x00\xff", "08 02 00ff"),
    ])
    def test_encodes_and_decodes(self, value, wire):
        assert encode_message(value) == h(wire)
        decoded = decode_message(h(wire))
        assert canonical(decoded) == canonical(value)

    @pytest.mark.parametrize("value, tag", [
        (2**31 - 1, 3), (-2**31, 3), (2**31, 4), (-2**31 - 1, 4),
        (2**63 - 1, 4), (-2**63, 4)])
    def test_plain_int_takes_the_narrowest_width(self, value, tag):
        wire = encode_message(value)
        assert wire[0] == tag
        assert decode_message(wire) == (Int64(value) if tag == 4 else value)

    def test_ints_beyond_64_bits_are_refused(self):
        with pytest.raises(OverflowError):
            encode_message(2**63)
        with pytest.raises(OverflowError):
            Int32(2**31)

    def test_int64_keeps_its_width_even_when_small(self):
        decoded = decode_message(encode_message(Int64(1)))
        assert type(decoded) is Int64
        assert decoded == Int64(1)
        assert decoded != 1 and 1 != decoded and decoded != True  # noqa: E712
        assert encode_message(decoded) == h("04 0100000000000000")

    def test_double_bits_survive(self):
        for x in (-0.0, math.inf, -math.inf, 5e-324, 1.7976931348623157e308):
            assert encode_message(x)[8:] == struct.pack("<d", x)
            assert canonical(decode_message(encode_message(x))) == canonical(x)
        nan = struct.unpack("<d", h("0100000000f8ff7f"))[0]
        assert encode_message(nan)[8:] == h("0100000000f8ff7f")
        assert math.isnan(decode_message(encode_message(nan)))

    def test_korean_text_is_utf8(self):
        text = "안녕하세요, Orvalin"
        wire = encode_message(text)
        data = text.encode("utf-8")
        assert wire == bytes([7, len(data)]) + data
        assert decode_message(wire) == text

    def test_string_bytes_that_are_not_utf8(self):
        wire = h("07 03 61ff62")
        decoded = decode_message(wire)
        assert decoded == RawString(b"a\xffb")
        assert encode_message(decoded) == wire

    def test_tag_5_reads_as_a_string(self):
        assert decode_message(h("05 03 616263")) == "abc"
        assert decode_message(h("05 fe 0100 7a")) == "z"


class TestLengths:
    @pytest.mark.parametrize("n, wire", [
        (0, "00"), (253, "fd"), (254, "fefe00"), (65535, "feffff"),
        (65536, "ff00000100"), (2**32 - 1, "ffffffffff")])
    def test_forms(self, n, wire):
        out = bytearray()
        encode_length(n, out)
        assert bytes(out) == h(wire)

    def test_long_string_and_byte_list(self):
        s = "x" * 300
        assert encode_message(s) == h("07 fe 2c01") + s.encode()
        data = bytes(range(256)) * 273 + bytes(112)
        assert len(data) == 70000
        wire = encode_message(data)
        assert wire[:6] == h("08 ff 70110100")
        assert wire[6:] == data
        assert decode_message(wire) == data

    def test_boundary_lengths_round_trip(self):
        for n in (253, 254, 65535, 65536):
            s = "q" * n
            assert decode_message(encode_message(s)) == s

    def test_non_minimal_forms_are_read(self):
        assert decode_message(h("07 fe 0300 616263")) == "abc"
        assert decode_message(h("07 ff 03000000 616263")) == "abc"
        assert decode_message(h("0c ff 02000000 00 01")) == [None, True]


class TestTypedLists:
    def test_int32_list_of_one(self):
        assert encode_message(Int32List([1])) == h("09 01 0000 01000000")

    def test_empty_int32_list_is_padded_and_next_value_starts_at_4(self):
        wire = h("09 00 0000") + h("03 05000000")
        value, end = decode_value_at(wire, 0)
        assert value == Int32List() and end == 4
        assert decode_value_at(wire, 4) == (5, 9)
        assert encode_message(Int32List()) == h("09 00 0000")

    def test_empty_eight_byte_lists_are_padded(self):
        assert encode_message(Int64List()) == h("0a 00 000000000000")
        assert encode_message(Float64List()) == h("0b 00 000000000000")
        assert encode_message(Float32List()) == h("0e 00 0000")

    @pytest.mark.parametrize("prefix_len", range(0, 9))
    def test_alignment_counts_from_message_start(self, prefix_len):
        prefix = bytes([0xAA] * prefix_len)
        for value, align, size in ((Int32List([-1, 2]), 4, 4),
                                   (Float32List([0.5, -2.0]), 4, 4),
                                   (Int64List([-1, 2**40]), 8, 8),
                                   (Float64List([0.25, -1e300]), 8, 8)):
            wire = encode_message(value, prefix=prefix)
            count_end = prefix_len + 2  # tag, one-byte length
            start = -(-count_end // align) * align
            assert wire[count_end:start] == bytes(start - count_end)
            assert len(wire) == start + size * len(value)
            decoded, end = decode_value_at(wire, prefix_len)
            assert decoded == value and end == len(wire)

    def test_double_at_offset_1_starts_at_8(self):
        wire = encode_success(1.0)
        assert wire == h("00 06 000000000000 000000000000f03f")
        assert envelope_value(wire) == 1.0

    def test_element_encodings(self):
        assert encode_message(Int64List([-2])) == \
            h("0a 01 000000000000 feffffffffffffff")
        assert encode_message(Float32List([1.0])) == h("0e 01 0000 0000803f")
        assert encode_message(Float64List([1.0])) == \
            h("0b 01 000000000000 000000000000f03f")

    def test_float32_values_are_rounded_when_built(self):
        values = Float32List([0.1])
        assert values[0] == struct.unpack("<f", struct.pack("<f", 0.1))[0]
        assert decode_message(encode_message(values)) == values

    def test_kinds_stay_distinct(self):
        kinds = [Int32List([1]), Int64List([1]), Float32List([1]),
                 Float64List([1]), [1], b"\x01"]
        tags = [encode_message(k)[0] for k in kinds]
        assert tags == [9, 10, 14, 11, 12, 8]
        for k in kinds:
            back = decode_message(encode_message(k))
            assert type(back) is type(k) and back == k
        assert Int32List([1]) != Int64List([1]) and Int32List([1]) != [1]

    def test_typed_element_ranges_are_checked(self):
        with pytest.raises(OverflowError):
            Int32List([2**31])
        with pytest.raises(OverflowError):
            Int64List([2**63])


class TestContainers:
    def test_list_of_null_and_true(self):
        assert encode_message([None, True]) == h("0c 02 00 01")
        assert decode_message(h("0c 02 00 01")) == [None, True]

    def test_map_of_a_to_1(self):
        wire = h("0d 01 07 01 61 03 01000000")
        assert encode_message({"a": 1}) == wire
        assert decode_message(wire) == {"a": 1}

    def test_empty_containers(self):
        assert encode_message([]) == h("0c 00")
        assert encode_message({}) == h("0d 00")
        assert decode_message(h("0d 00")) == {}

    def test_maps_are_written_in_the_order_given(self):
        assert encode_message({"b": None, "a": None}) == \
            h("0d 02 0701 62 00 0701 61 00")

    def test_duplicate_key_keeps_first_value(self):
        wire = h("0d 02 0701 61 03 01000000 0701 61 03 02000000")
        assert decode_message(wire) == {"a": 1}

    def test_keys_python_cannot_tell_apart_stay_apart(self):
        wire = encode_message(MapEntries([(True, "t"), (1, "i"),
                                          (1.0, "d"), (Int64(1), "l")]))
        decoded = decode_message(wire)
        assert isinstance(decoded, MapEntries)
        assert len(decoded) == 4
        assert encode_message(decoded) == wire

    def test_list_and_map_keys(self):
        value = MapEntries([([1, 2], "list"), ({"k": 1}, "map")])
        decoded = decode_message(encode_message(value))
        assert decoded == value

    def test_nested_doubles_align_inside_containers(self):
        value = {"x": [1.5, {"y": Float64List([2.0])}], "z": "안"}
        wire = encode_message(value)
        # each double payload starts on a multiple of 8
        assert wire.index(struct.pack("<d", 1.5)) % 8 == 0
        assert decode_message(wire) == value


class TestHostOrdering:
    def test_kinds_order_by_index(self):
        ordered = [None, False, True, -5, 9, Int64(-9), -1.0, "", "a", b"",
                   Int32List(), Int64List(), Float64List(), [], {},
                   Float32List()]
        for a, b in zip(ordered, ordered[1:]):
            assert compare_values(a, b) == -1, (a, b)
            assert compare_values(b, a) == 1, (a, b)

    def test_letters_sort_upper_case_first(self):
        sorted_map = host_sorted({"b": 1, "a": 2, "B": 3})
        assert [k for k, _ in sorted_map.entries] == ["B", "a", "b"]

    def test_int32_key_before_int64_key(self):
        sorted_map = host_sorted(MapEntries([(Int64(1), "l"), (1, "i")]))
        assert canonical(sorted_map) == canonical(
            MapEntries([(1, "i"), (Int64(1), "l")]))

    def test_prefix_and_unsigned_bytes(self):
        assert compare_values("ab", "abc") == -1
        assert compare_values("\u00e9", "z") == 1  # 0xC3 > 0x7A
        assert compare_values(b"\xff", b"\x01\x00") == 1
        assert compare_values([1, 2], [1, 2, 0]) == -1
        assert compare_values(Int32List([-1]), Int32List([0])) == -1

    def test_nested_maps_are_sorted_and_duplicates_dropped(self):
        value = MapEntries([("z", {"y": 1, "x": 2}), ("a", 0), ("z", 9)])
        assert encode_message(host_sorted(value)) == encode_message(
            MapEntries([("a", 0), ("z", MapEntries([("x", 2), ("y", 1)]))]))


class TestMalformed:
    @pytest.mark.parametrize("wire", [
        "", "03 0100", "04 01", "06 00", "07 05 6162", "09 02 0000 01000000",
        "0c 03 00", "0d 01 00", "fe", "08 ff ffffffff 00"])
    def test_truncated(self, wire):
        with pytest.raises(DecodeError):
            decode_message(h(wire))

    @pytest.mark.parametrize("tag", [15, 16, 255])
    def test_unknown_tag(self, tag):
        with pytest.raises(DecodeError, match=f"tag {tag}"):
            decode_message(bytes([tag]))

    def test_bytes_after_the_value(self):
        with pytest.raises(DecodeError):
            decode_message(h("00 00"))

    def test_huge_declared_counts_fail_fast(self):
        for wire in ("0c ff ffffffff", "0d ff ffffffff", "0a ff ffffffff",
                     "07 ff ffffffff"):
            with pytest.raises(DecodeError):
                decode_message(h(wire))

    def test_unencodable_value(self):
        with pytest.raises(TypeError):
            encode_message(object())


class TestMethodCodec:
    def test_call_with_string_argument(self):
        url = "orvalinai://login-callback?code=1"
        wire = encode_method_call("authCallback", url)
        assert wire == (h("07 0c") + b"authCallback" + bytes([7, len(url)])
                        + url.encode())
        assert decode_method_call(wire) == MethodCall("authCallback", url)

    def test_call_without_arguments_ends_with_null(self):
        wire = encode_method_call("quit")
        assert wire == h("07 04") + b"quit" + h("00")
        call = decode_method_call(wire)
        assert call.method == "quit" and call.arguments is None

    def test_call_arguments_align_from_message_start(self):
        wire = encode_method_call("ab", 2.0)  # 07 02 'a' 'b' 06 -> pad to 8
        assert wire == h("07 02 6162 06 000000 0000000000000040")

    def test_call_whose_name_is_not_a_string(self):
        with pytest.raises(DecodeError, match="not a string"):
            decode_method_call(h("03 01000000 00"))

    def test_call_without_arguments_value(self):
        with pytest.raises(DecodeError):
            decode_method_call(h("07 01 61"))

    def test_success_envelopes(self):
        assert encode_success() == h("00 00")
        assert encode_success(None) == h("00 00")
        assert encode_success(True) == h("00 01")
        assert decode_envelope(h("00 00")) == Success(None)
        assert decode_envelope(h("00 0c 00")) == Success([])

    def test_error_envelope_with_empty_message_and_no_details(self):
        wire = encode_error("abc", "")
        assert wire == h("01 07 03") + b"abc" + h("00 00")
        assert decode_envelope(wire) == ErrorResult("abc", "", None)

    def test_error_envelope_with_message_and_details(self):
        wire = encode_error("bad_args", "no key", {"k": Int64(3)})
        assert decode_envelope(wire) == ErrorResult(
            "bad_args", "no key", {"k": Int64(3)})
        with pytest.raises(MethodError) as caught:
            envelope_value(wire)
        assert (caught.value.code, caught.value.message) == ("bad_args", "no key")
        assert caught.value.details == {"k": Int64(3)}

    def test_empty_reply_is_not_implemented(self):
        assert decode_envelope(b"") is NOT_IMPLEMENTED
        with pytest.raises(MethodNotImplemented):
            envelope_value(b"")

    @pytest.mark.parametrize("wire", ["02", "ff 00", "01 03 01000000 00 00",
                                      "01 0701 61 01 00", "00", "00 00 00"])
    def test_malformed_envelopes(self, wire):
        with pytest.raises(DecodeError):
            decode_envelope(h(wire))
