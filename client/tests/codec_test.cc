// The standard message format: bytes, lengths, alignment, faults, bounds.
#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "client/byte_streams.h"
#include "client/standard_codec.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";

Bytes Concat(Bytes head, const Bytes& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

TEST(StandardCodecTest, EncodesAndDecodesTheWireExamples) {
  const std::pair<V, Bytes> examples[] = {
      {V(), {0x00}},
      {V(true), {0x01}},
      {V(false), {0x02}},
      {V(int32_t{7}), {0x03, 7, 0, 0, 0}},
      {V(int64_t{-1}), {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {V(1.0), {0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {V("abc"), {0x07, 0x03, 'a', 'b', 'c'}},
      {V(std::vector<int32_t>{1}), {0x09, 0x01, 0, 0, 1, 0, 0, 0}},
      {V(std::vector<int32_t>{}), {0x09, 0x00, 0, 0}},
      {V(std::vector<float>{1.0f}), {0x0E, 0x01, 0, 0, 0, 0, 0x80, 0x3F}},
      {V(std::vector<int64_t>{}), {0x0A, 0, 0, 0, 0, 0, 0, 0}},
      {V(std::vector<uint8_t>{9}), {0x08, 0x01, 9}},
      {V(EncodableList{V(), V(true)}), {0x0C, 0x02, 0x00, 0x01}},
      {V(EncodableMap{{V("a"), V(1)}}),
       {0x0D, 0x01, 0x07, 0x01, 'a', 0x03, 1, 0, 0, 0}},
      // Entries go out in key order whatever order they were added in.
      {V(EncodableMap{{V("b"), V()}, {V("a"), V()}, {V(2), V()}}),
       {0x0D, 0x03, 0x03, 2, 0, 0, 0, 0x00, 0x07, 0x01, 'a', 0x00, 0x07, 0x01,
        'b', 0x00}},
  };
  for (const auto& [value, bytes] : examples) {
    EXPECT_EQ(Encode(value), bytes) << "index " << value.index();
    size_t end = 0;
    EXPECT_EQ(Decode(bytes, 0, &end), value) << "index " << value.index();
    EXPECT_EQ(end, bytes.size()) << "index " << value.index();
  }
}

TEST(StandardCodecTest, LengthFormsChangeAtTheirBoundaries) {
  const std::pair<size_t, Bytes> forms[] = {
      {0, {0x00}},
      {253, {0xFD}},
      {254, {0xFE, 0xFE, 0x00}},
      {65535, {0xFE, 0xFF, 0xFF}},
      {65536, {0xFF, 0x00, 0x00, 0x01, 0x00}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
  };
  const StandardCodecSerializer& serializer =
      StandardCodecSerializer::Instance();
  for (const auto& [count, bytes] : forms) {
    Bytes written;
    ByteBufferStreamWriter writer(&written);
    serializer.WriteLength(count, &writer);
    EXPECT_EQ(written, bytes) << count;
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(serializer.ReadLength(&reader), count);
  }
  // Long forms of small counts are accepted.
  const Bytes long_five = {0xFF, 5, 0, 0, 0};
  ByteBufferStreamReader reader(long_five.data(), long_five.size());
  EXPECT_EQ(serializer.ReadLength(&reader), 5u);

  const Bytes long_string = Encode(V(std::string(300, 'x')));
  EXPECT_EQ(Bytes(long_string.begin(), long_string.begin() + 4),
            (Bytes{0x07, 0xFE, 0x2C, 0x01}));
  const Bytes byte_list = Encode(V(std::vector<uint8_t>(70000, 1)));
  EXPECT_EQ(Bytes(byte_list.begin(), byte_list.begin() + 6),
            (Bytes{0x08, 0xFF, 0x70, 0x11, 0x01, 0x00}));
  EXPECT_EQ(byte_list.size(), 70006u);
}

TEST(StandardCodecTest, ReaderFailsShortReadsWithoutMoving) {
  CerrCapture cerr;
  const Bytes two = {0x2A, 0x2B};
  ByteBufferStreamReader reader(two.data(), two.size());
  EXPECT_EQ(StandardCodecSerializer::Instance().ReadValueOfType(3, &reader),
            V(int32_t{0}));
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.ReadByte(), 0x2A);
  EXPECT_EQ(reader.ReadByte(), 0x2B);
  EXPECT_EQ(reader.ReadByte(), 0);
  EXPECT_EQ(reader.position(), 2u);
  // Alignment may move past the end; only the next read reports.
  reader.AlignRead(8);
  EXPECT_EQ(reader.position(), 8u);
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>(2, kInvalidRead));
  uint8_t kept = 0x55;
  reader.ReadBytes(&kept, 1);
  EXPECT_EQ(kept, 0x55);
  EXPECT_EQ(cerr.Lines().size(), 3u);
}

TEST(StandardCodecTest, ReadsLegacyAndUnknownTags) {
  CerrCapture cerr;
  EXPECT_EQ(Decode({0x05, 0x02, '4', '2'}), V("42"));
  // Duplicate map keys: the first occurrence wins.
  EXPECT_EQ(Decode({0x0D, 0x02, 0x07, 0x01, 'k', 0x01, 0x07, 0x01, 'k', 0x02}),
            V(EncodableMap{{V("k"), V(true)}}));
  // An unknown tag is null and consumes nothing more: 01 is the next value.
  const Bytes unknown = {0x0F, 0x01};
  size_t end = 0;
  EXPECT_EQ(Decode(unknown, 0, &end), V());
  EXPECT_EQ(end, 1u);
  EXPECT_EQ(Decode(unknown, 1), V(true));
  EXPECT_EQ(cerr.text(),
            "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n");
}

// Lists of one and maps of one entry ({inner: null}) in turn, |depth|
// levels around the 32-bit integer |leaf|.
Bytes DeepKey(int depth, uint8_t leaf) {
  Bytes key = {0x03, leaf, 0, 0, 0};
  for (int level = 0; level < depth; ++level) {
    key.insert(key.begin(), {static_cast<uint8_t>(level % 2 ? 0x0D : 0x0C), 1});
    if (level % 2 == 1) key.push_back(0x00);
  }
  return key;
}

// Comparing keys costs time linear in their size: comparing equal
// elements twice per level (map entries more) would take 2^64 steps here,
// and the test would never end.
TEST(StandardCodecTest, MapKeysCompareInLinearTime) {
  const Bytes one = DeepKey(64, 1);
  const Bytes zero = DeepKey(64, 0);
  // Equal keys: the first one's value stands.
  Bytes message =
      Concat(Concat(Concat({0x0D, 2}, one), Concat({0x01}, one)), {0x02});
  const V equal = Decode(message);
  ASSERT_EQ(std::get<EncodableMap>(equal).size(), 1u);
  EXPECT_EQ(std::get<EncodableMap>(equal).begin()->second, V(true));
  // Keys equal up to their last element, the greater one first.
  message =
      Concat(Concat(Concat({0x0D, 2}, one), Concat({0x01}, zero)), {0x02});
  const V decoded = Decode(message);
  const EncodableMap& both = std::get<EncodableMap>(decoded);
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both.begin()->second, V(false));
  EXPECT_EQ(Encode(V(both)), Concat(Concat(Concat({0x0D, 2}, zero), {0x02}),
                                    Concat(one, {0x01})));
}

// {NaN: false, 1.0: true}: a NaN key is a key of its own, after 1.0.
TEST(StandardCodecTest, NanIsAMapKeyOfItsOwn) {
  const Bytes message = {0x0D, 2, 0x06, 0, 0, 0, 0,    0,  // NaN at offset 8
                         0,    0, 0,    0, 0, 0, 0xF8, 0x7F, 0x02,
                         0x06, 0, 0,    0, 0, 0, 0,  // 1.0 at offset 24
                         0,    0, 0,    0, 0, 0, 0xF0, 0x3F, 0x01};
  const V decoded = Decode(message);
  const EncodableMap& map = std::get<EncodableMap>(decoded);
  ASSERT_EQ(map.size(), 2u);
  EXPECT_EQ(map.begin()->first, V(1.0));
  EXPECT_TRUE(std::isnan(std::get<double>(map.rbegin()->first)));
  EXPECT_EQ(map.rbegin()->second, V(false));
}

TEST(StandardCodecTest, CustomValuesGoOutAsNull) {
  CerrCapture cerr;
  EXPECT_EQ(Encode(V(EncodableList{V(CustomValue(7)), V(true)})),
            (Bytes{0x0C, 0x02, 0x00, 0x01}));
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>{
                              "Unhandled custom type in "
                              "StandardCodecSerializer::WriteValue. Custom "
                              "types require codec extensions."});
}

TEST(StandardCodecTest, RefusesCountsTheMessageCannotHold) {
  struct Kind {
    uint8_t tag;
    V empty;
    size_t min_element_size;
  };
  const Kind kinds[] = {
      {0x07, V(""), 1},
      {0x08, V(std::vector<uint8_t>{}), 1},
      {0x09, V(std::vector<int32_t>{}), 4},
      {0x0A, V(std::vector<int64_t>{}), 8},
      {0x0B, V(std::vector<double>{}), 8},
      {0x0C, V(EncodableList{}), 1},
      {0x0D, V(EncodableMap{}), 2},
      {0x0E, V(std::vector<float>{}), 4},
  };
  const Bytes rest(64, 0);
  for (const Kind& kind : kinds) {
    // One element more than the 64 bytes left could hold, and the largest
    // count the format can state.
    const Bytes counts[] = {
        {static_cast<uint8_t>(rest.size() / kind.min_element_size + 1)},
        {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const Bytes& count : counts) {
      const Bytes message = Concat(Concat({kind.tag}, count), rest);
      CerrCapture cerr;
      const size_t allocated_before = AllocatedBytes();
      size_t end = 0;
      EXPECT_EQ(Decode(message, 0, &end), kind.empty) << int{kind.tag};
      EXPECT_LT(AllocatedBytes() - allocated_before, 4096u) << int{kind.tag};
      EXPECT_EQ(end, 1 + count.size()) << int{kind.tag};
      EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kInvalidRead})
          << int{kind.tag};
    }
  }
  // Exactly as many bytes as declared is still well formed.
  EXPECT_EQ(Decode({0x0B, 0x01, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}),
            V(std::vector<double>{0.0}));
  EXPECT_EQ(Decode({0x0D, 0x01, 0x00, 0x00}), V(EncodableMap{{V(), V()}}));
  // A count that fits until an earlier element eats the rest.
  CerrCapture cerr;
  EXPECT_EQ(Decode({0x0C, 0x03, 0x07, 0x02, 'a', 'b'}), V(EncodableList{}));
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kInvalidRead});
}

TEST(StandardCodecTest, HostileNestingStaysSmallAndShallow) {
  // Lists inside lists, each claiming every byte that is left.
  Bytes claims;
  for (int level = 0; level < 2000; ++level) {
    const uint32_t left = static_cast<uint32_t>((2000 - level) * 6 - 6);
    claims.insert(claims.end(), {0x0C, 0xFF});
    claims.insert(claims.end(), reinterpret_cast<const uint8_t*>(&left),
                  reinterpret_cast<const uint8_t*>(&left) + 4);
  }
  // Lists inside lists of one, far deeper than any real message.
  Bytes deep;
  for (int level = 0; level < 200000; ++level) {
    deep.insert(deep.end(), {0x0C, 0x01});
  }
  // Lists of two, nested past the bound, each closed by a true.
  Bytes siblings;
  for (int level = 0; level < 2000; ++level) {
    siblings.insert(siblings.begin(), {0x0C, 0x02});
    siblings.push_back(0x01);
  }
  for (const Bytes* message : {&claims, &deep, &siblings}) {
    CerrCapture cerr;
    const size_t allocated_before = AllocatedBytes();
    const V decoded = Decode(*message);
    EXPECT_LT(AllocatedBytes() - allocated_before, 64 * message->size());
    // Diagnostics stay proportional to the bytes actually present, not to
    // the counts claimed.
    EXPECT_LT(cerr.Lines().size(), message->size() / 6);
    if (message == &deep) {
      EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kInvalidRead});
    }
    // Whatever was decoded encodes to bytes that decode to the same value.
    EXPECT_EQ(Decode(Encode(decoded)), decoded);
  }
  // Up to the nesting bound values come back whole.
  V nested;
  for (int level = 0; level < 1000; ++level) {
    EncodableList wrapper;
    wrapper.push_back(std::move(nested));
    nested = V(std::move(wrapper));
  }
  EXPECT_EQ(Decode(Encode(nested)), nested);
}

TEST(StandardCodecTest, GeneratedValuesSurviveARoundTrip) {
  for (uint32_t seed = 1; seed <= 300; ++seed) {
    std::mt19937 random(seed);
    const V value = RandomValue(&random, 4);
    const Bytes prefix(seed % 8, 0xAA);
    const Bytes message = Encode(value, prefix);
    size_t end = 0;
    const V decoded = Decode(message, prefix.size(), &end);
    ASSERT_EQ(decoded, value) << "seed " << seed;
    EXPECT_EQ(end, message.size()) << "seed " << seed;
    EXPECT_EQ(Encode(decoded, prefix), message) << "seed " << seed;
  }
}

}  // namespace
}  // namespace flutter::testing
