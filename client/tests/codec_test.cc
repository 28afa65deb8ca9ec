// The standard message format: bytes, lengths, alignment, faults, bounds,
// and the fast paths of the streams on both sides of their limits.
#include <cmath>
#include <cstring>
#include <functional>
#include <new>
#include <streambuf>
#include <string>
#include <type_traits>
#include <utility>

#include "client/byte_streams.h"
#include "client/standard_codec.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

const char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader";

const StandardCodecSerializer& Serializer() {
  return StandardCodecSerializer::Instance();
}

TEST(StandardCodecTest, EncodesAndDecodesTheWireExamples) {
  const std::pair<V, Bytes> examples[] = {
      {V(), {0x00}},
      {V(true), {0x01}},
      {V(int32_t{7}), {0x03, 7, 0, 0, 0}},
      {V(int64_t{-1}), {0x04, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}},
      {V(1.0), {0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}},
      {V("abc"), {0x07, 0x03, 'a', 'b', 'c'}},
      {V(I32s{1}), {0x09, 0x01, 0, 0, 1, 0, 0, 0}},
      {V(I32s{}), {0x09, 0x00, 0, 0}},
      {V(F32s{1.0f}), {0x0E, 0x01, 0, 0, 0, 0, 0x80, 0x3F}},
      {V(Bytes{9}), {0x08, 0x01, 9}},
      {V(EncodableList{V(), V(true)}), {0x0C, 0x02, 0x00, 0x01}},
      {V(EncodableMap{{V("a"), V(1)}}),
       {0x0D, 0x01, 0x07, 0x01, 'a', 0x03, 1, 0, 0, 0}},
      // Entries go out in key order whatever order they were added in.
      {V(EncodableMap{{V("b"), V()}, {V("a"), V()}, {V(2), V()}}),
       {0x0D, 0x03, 0x03, 2, 0, 0, 0, 0x00, 0x07, 0x01, 'a', 0x00, 0x07, 0x01,
        'b', 0x00}}};
  for (const auto& [value, bytes] : examples) {
    EXPECT_EQ(Encode(value), bytes) << "index " << value.index();
    size_t end = 0;
    EXPECT_EQ(Decode(bytes, &end), value) << "index " << value.index();
    EXPECT_EQ(end, bytes.size()) << "index " << value.index();
  }
}

TEST(StandardCodecTest, LengthFormsChangeAtTheirBoundaries) {
  const std::pair<size_t, Bytes> forms[] = {
      {253, {0xFD}},
      {254, {0xFE, 0xFE, 0x00}},
      {65535, {0xFE, 0xFF, 0xFF}},
      {65536, {0xFF, 0x00, 0x00, 0x01, 0x00}},
      {0xFFFFFFFF, {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}}};
  for (const auto& [count, bytes] : forms) {
    Bytes written;
    ByteBufferStreamWriter writer(&written);
    Serializer().WriteLength(count, &writer);
    EXPECT_EQ(written, bytes) << count;
    ByteBufferStreamReader reader(bytes.data(), bytes.size());
    EXPECT_EQ(Serializer().ReadLength(&reader), count);
  }
}

// Records the calls the serializer makes: B for a byte, A for an
// alignment, W<n> for a block of n bytes.
struct CallLog : ByteStreamWriter {
  void WriteByte(uint8_t) override { calls += "B "; }
  void WriteBytes(const uint8_t*, size_t n) override {
    calls += "W" + std::to_string(n) + " ";
  }
  void AlignWrite(uint8_t) override { calls += "A "; }
  std::string calls;
};

TEST(StandardCodecTest, SmallValuesGoOutInOneAppend) {
  const std::pair<V, std::string> cases[] = {
      {V(), "W1 "},
      {V(int32_t{1}), "W5 "},
      {V(int64_t{1}), "W9 "},
      {V(std::string(62, 's')), "W64 "},
      {V(std::string(63, 's')), "B B W63 "},
      {V(2.0), "B A W8 "}};
  for (const auto& [value, calls] : cases) {
    CallLog log;
    Serializer().WriteValue(value, &log);
    EXPECT_EQ(log.calls, calls) << value.index();
  }
}

TEST(StandardCodecTest, WriterReservesAheadOnlyForLargeBlocks) {
  const Bytes block(65536, 7);
  // From one byte in the first allocation of 128.
  const std::pair<size_t, size_t> capacities[] = {
      {127, 128}, {65535, 65536}, {65536, 1 + 65536 + 4096}};
  for (const auto& [length, capacity] : capacities) {
    Bytes buffer;
    ByteBufferStreamWriter writer(&buffer);
    EXPECT_EQ(buffer.capacity(), 128u);
    writer.WriteByte(1);
    writer.WriteBytes(block.data(), length);
    EXPECT_EQ(buffer.capacity(), capacity) << length;
    EXPECT_EQ(buffer.size(), 1 + length);
    EXPECT_EQ(buffer.back(), 7);
  }
}

// Many large blocks in one message: growing the vector by a constant
// factor keeps everything allocated while encoding within a few times the
// output, where exact growth copies all that came before for each block.
TEST(StandardCodecTest, ManyLargeBlocksAllocateInProportion) {
  const V block(Bytes(65536, 7));
  const V blocks(EncodableList(64, block));
  EncodableList mixed_list;
  for (int32_t i = 0; i < 64; ++i) {
    mixed_list.push_back(block);
    mixed_list.push_back(V(i));
  }
  const V mixed(std::move(mixed_list));
  EncodableList first_large_list(10000);
  first_large_list[0] = V(Bytes(64 * 65536, 7));
  const V first_large(std::move(first_large_list));
  const std::pair<const char*, std::function<void(ByteStreamWriter*)>>
      writes[] = {
          {"blocks", [&](auto* w) { Serializer().WriteValue(blocks, w); }},
          {"mixed", [&](auto* w) { Serializer().WriteValue(mixed, w); }},
          // Sizes are guessed from first elements: not 10,000 times this.
          {"guessed",
           [&](auto* w) { Serializer().WriteValue(first_large, w); }},
          {"writer", [&](auto* w) {
             for (int i = 0; i < 64; ++i) {
               w->WriteBytes(std::get<Bytes>(block).data(), 65536);
               w->WriteByte(1);
             }
           }}};
  for (const auto& [name, write] : writes) {
    const size_t allocated_before = AllocatedBytes();
    Bytes message;
    ByteBufferStreamWriter writer(&message);
    write(&writer);
    EXPECT_GT(message.size(), 64u * 65536) << name;
    EXPECT_LT(AllocatedBytes() - allocated_before, 4 * message.size()) << name;
  }
}

// The standard serializer writes into the plain buffer writer on a fast
// path; a writer of another type, or an extending serializer, could watch
// the stream calls and gets them. All give the same bytes at every offset,
// also where values cross the fast path's 4 KiB staging area.
TEST(StandardCodecTest, FastPathWritesWhatTheStreamCallsWrite) {
  struct ObservedWriter : ByteBufferStreamWriter {
    using ByteBufferStreamWriter::ByteBufferStreamWriter;
  };
  struct ExtendedSerializer : StandardCodecSerializer {};
  static const ExtendedSerializer extended;
  EncodableList many;
  for (int i = 0; i < 600; ++i) {
    many.push_back(V(i * 0.5));
    many.push_back(V(std::string(i % 40, 'k')));
    many.push_back(V(I32s(i % 3, i)));
  }
  const V values[] = {
      V(),
      V(false),
      V(int64_t{-2}),
      V(2.5),
      V(std::string(62, 'a')),
      V(std::string(254, 'b')),
      V(std::string(5000, 'c')),
      V(Bytes(70000, 9)),
      V(I32s{}),
      V(I64s{1, 2}),
      V(F64s(3, 1.5)),
      V(F32s{2.0f}),
      V(EncodableMap{{V("k"), V(F64s{})}, {V(1), V(CustomValue(1))}}),
      V(many)};
  CerrCapture cerr;
  for (uint8_t offset = 0; offset < 8; ++offset) {
    for (const V& value : values) {
      Bytes fast(offset, 0xAA);
      Bytes observed = fast;
      Bytes extending = fast;
      ByteBufferStreamWriter fast_writer(&fast);
      ObservedWriter observed_writer(&observed);
      ByteBufferStreamWriter extending_writer(&extending);
      Serializer().WriteValue(value, &fast_writer);
      Serializer().WriteValue(value, &observed_writer);
      extended.WriteValue(value, &extending_writer);
      EXPECT_EQ(fast, observed) << int{offset} << " " << value.index();
      EXPECT_EQ(fast, extending) << int{offset} << " " << value.index();
    }
  }
  // The custom value's line, once per writing.
  EXPECT_EQ(cerr.Lines().size(), 8u * 3);
}

TEST(StandardCodecTest, ReaderFailsShortReadsWithoutMoving) {
  CerrCapture cerr;
  const Bytes two = {0x2A, 0x2B};
  ByteBufferStreamReader reader(two.data(), two.size());
  EXPECT_EQ(Serializer().ReadValueOfType(3, &reader), V(int32_t{0}));
  EXPECT_EQ(reader.position(), 0u);
  EXPECT_EQ(reader.ReadByte(), 0x2A);
  EXPECT_EQ(reader.BytesRemaining(), 1u);
  // Alignment may move past the end; only the next read reports, and
  // nothing is left.
  reader.AlignRead(8);
  EXPECT_EQ(reader.position(), 8u);
  EXPECT_EQ(reader.BytesRemaining(), 0u);
  EXPECT_EQ(reader.ReadByte(), 0);
  uint8_t kept = 0x55;
  reader.ReadBytes(&kept, 1);
  EXPECT_EQ(kept, 0x55);
  EXPECT_EQ(reader.position(), 8u);
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>(3, kInvalidRead));
}

TEST(StandardCodecTest, ReadsLegacyAndUnknownTagsAndWritesCustomAsNull) {
  CerrCapture cerr;
  EXPECT_EQ(Decode({0x05, 0x02, '4', '2'}), V("42"));
  // An unknown tag is null and consumes nothing more.
  size_t end = 0;
  EXPECT_EQ(Decode({0x0F, 0x01}, &end), V());
  EXPECT_EQ(end, 1u);
  EXPECT_EQ(Encode(V(EncodableList{V(CustomValue(7)), V(true)})),
            (Bytes{0x0C, 0x02, 0x00, 0x01}));
  EXPECT_EQ(cerr.Lines(),
            (std::vector<std::string>{
                "Unknown type in StandardCodecSerializer::ReadValueOfType: 15",
                "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                "Custom types require codec extensions."}));
}

// A declared count is checked against the bytes left after the padding:
// exactly enough decodes; one element more is refused before allocating,
// also where it would fit in the bytes before the padding (|tail| bytes
// more than the fitting count leaves unread make room for it there).
TEST(StandardCodecTest, RefusesCountsTheMessageCannotHold) {
  struct Kind {
    uint8_t tag;
    uint8_t fitting;   // a count that exactly fills |rest| after padding
    size_t alignment;  // of the elements; 1 when not padded
    size_t rest;       // padding, the fitting count's elements, then |tail|
    size_t tail;
    V filled;  // what |fitting| elements of zero bytes decode to
    V refused;
  };
  const Kind kinds[] = {
      {0x07, 64, 1, 64, 0, V(std::string(64, '\0')), V("")},
      {0x08, 64, 1, 64, 0, V(Bytes(64)), V(Bytes{})},
      {0x09, 15, 4, 2 + 60 + 2, 2, V(I32s(15)), V(I32s{})},
      {0x0A, 7, 8, 6 + 56 + 2, 2, V(I64s(7)), V(I64s{})},
      {0x0B, 7, 8, 6 + 56 + 2, 2, V(F64s(7)), V(F64s{})},
      {0x0C, 64, 1, 64, 0, V(EncodableList(64)), V(EncodableList{})},
      {0x0D, 32, 1, 64, 0, V(EncodableMap{{V(), V()}}), V(EncodableMap{})},
      {0x0E, 15, 4, 2 + 60 + 2, 2, V(F32s(15)), V(F32s{})}};
  for (const Kind& kind : kinds) {
    const Bytes rest(kind.rest, 0);
    const Bytes counts[] = {{kind.fitting},
                            {static_cast<uint8_t>(kind.fitting + 1)},
                            {0xFF, 0xFF, 0xFF, 0xFF, 0xFF}};
    for (const Bytes& count : counts) {
      const bool fits = &count == &counts[0];
      const Bytes message = Concat(Concat({kind.tag}, count), rest);
      // A refused count leaves the position after its padding.
      const size_t padded = (1 + count.size() + kind.alignment - 1) /
                            kind.alignment * kind.alignment;
      CerrCapture cerr;
      const size_t allocated_before = AllocatedBytes();
      size_t end = 0;
      EXPECT_EQ(Decode(message, &end), fits ? kind.filled : kind.refused)
          << int{kind.tag} << " " << int{count[0]};
      EXPECT_LT(AllocatedBytes() - allocated_before, 8192u);
      EXPECT_EQ(end, fits ? message.size() - kind.tail : padded);
      EXPECT_EQ(cerr.Lines().size(), fits ? 0u : 1u) << int{kind.tag};
    }
  }
  // A count that fits until an earlier element eats the rest.
  CerrCapture cerr;
  EXPECT_EQ(Decode({0x0C, 0x03, 0x07, 0x02, 'a', 'b'}), V(EncodableList{}));
  EXPECT_EQ(cerr.Lines().size(), 1u);
}

// Reads through the four operations alone, as a reader written elsewhere
// might: none of the buffer reader's fast paths apply to it.
class MinimalReader : public ByteStreamReader {
 public:
  explicit MinimalReader(const Bytes& bytes)
      : buffer_(bytes.data(), bytes.size()) {}
  uint8_t ReadByte() override { return buffer_.ReadByte(); }
  void ReadBytes(uint8_t* bytes, size_t n) override {
    buffer_.ReadBytes(bytes, n);
  }
  void AlignRead(uint8_t alignment) override { buffer_.AlignRead(alignment); }
  size_t BytesRemaining() const override { return buffer_.BytesRemaining(); }

 private:
  ByteBufferStreamReader buffer_;
};

// Every reader must tell what is left: one that offers only the three
// reads cannot be given to the decoder.
struct ThreeReadsOnly : ByteStreamReader {
  uint8_t ReadByte() override { return 0; }
  void ReadBytes(uint8_t*, size_t) override {}
  void AlignRead(uint8_t) override {}
};
static_assert(std::is_abstract_v<ThreeReadsOnly>,
              "a reader must implement BytesRemaining");

// Discards what is written to it.
struct NullBuffer : std::streambuf {
  int overflow(int c) override { return c; }
};

// The most the live heap held while |reader|'s message was decoded and
// while the value lived, requests refused for their size included.
size_t DecodingPeak(ByteStreamReader* reader) {
  NullBuffer quiet;  // so the diagnostics' capture does not count
  std::streambuf* const previous = std::cerr.rdbuf(&quiet);
  HeapWatch watch;
  try {
    Serializer().ReadValue(reader);
  } catch (const std::bad_alloc&) {
  }
  std::cerr.rdbuf(previous);
  return watch.PeakBytes();
}

size_t DecodingPeak(const Bytes& message) {
  ByteBufferStreamReader reader(message.data(), message.size());
  return DecodingPeak(&reader);
}

// What a message may make the decoder hold: 56 bytes per element of one
// byte (a null), twice that while a list grows, and the 16 bytes per byte
// that lists may reserve ahead make 128; the rest is margin.
constexpr size_t kPeakBytesPerByte = 144;
constexpr size_t kPeakBytesMore = 4096;

// A 6-byte message whose count asks for up to 32 GiB, whatever the reader:
// a typed list's padding runs past the end, where nothing is left.
TEST(StandardCodecTest, SixBytesCannotAskForGigabytes) {
  for (const uint8_t tag : {0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}) {
    const Bytes message = {tag, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
    MinimalReader minimal(message);
    EXPECT_LE(DecodingPeak(&minimal), kPeakBytesMore) << int{tag};
    EXPECT_LE(DecodingPeak(message), kPeakBytesMore) << int{tag};
  }
}

void AppendCount(uint32_t count, Bytes* message) {
  for (int shift = 0; shift < 32; shift += 8) {
    message->push_back(static_cast<uint8_t>(count >> shift));
  }
}

// A list of |size| bytes whose elements each claim more than they can
// have: |tag|, a four-byte count of claim(the bytes after that count),
// then |padding| zero bytes. Two nulls first put the elements at multiples
// of 8; a typed list there has 2 bytes of padding.
Bytes Claims(uint8_t tag, size_t padding, size_t (*claim)(size_t),
             size_t size) {
  const size_t elements = (size - 14) / (6 + padding);
  Bytes message = {0x0C, 0xFF};
  AppendCount(static_cast<uint32_t>(elements + 2), &message);
  message.resize(8, 0x00);
  for (size_t i = 0; i < elements; ++i) {
    message.push_back(tag);
    message.push_back(0xFF);
    AppendCount(static_cast<uint32_t>(claim(size - message.size() - 4)),
                &message);
    message.resize(message.size() + padding, 0);
  }
  message.resize(size, 0x00);
  return message;
}

template <size_t kElement>
size_t AllBeforePadding(size_t left) {
  return left / kElement;
}
size_t OneMoreThanLeft(size_t left) { return left + 1; }

// Peak heap linear in the message: lists of typed lists that each claim
// what the bytes before their padding could hold (checked before the
// padding, 64 KiB of them held S^2/16 bytes, 256 MiB), of strings, byte
// lists, lists and maps that claim more than is left, and of nulls.
TEST(StandardCodecTest, PeakHeapIsLinearInTheMessage) {
  constexpr size_t kSize = 65536 + 6;  // the last element's read fails too
  Bytes nulls = {0x0C, 0xFF};
  AppendCount(kSize - 6, &nulls);
  nulls.resize(kSize, 0x00);
  // A list that spends the budget around one that then grows past a
  // power of two.
  Bytes growing = {0x0C, 0xFF};
  AppendCount(32769, &growing);
  growing = Concat(growing, {0x0C, 0xFF});
  AppendCount(32769, &growing);
  growing.resize(growing.size() + 32769, 0x00);
  const std::pair<const char*, Bytes> messages[] = {
      {"int32 lists", Claims(0x09, 2, AllBeforePadding<4>, kSize)},
      {"int64 lists", Claims(0x0A, 2, AllBeforePadding<8>, kSize)},
      {"double lists", Claims(0x0B, 2, AllBeforePadding<8>, kSize)},
      {"float lists", Claims(0x0E, 2, AllBeforePadding<4>, kSize)},
      {"strings", Claims(0x07, 0, OneMoreThanLeft, kSize)},
      {"byte lists", Claims(0x08, 0, OneMoreThanLeft, kSize)},
      {"lists", Claims(0x0C, 0, OneMoreThanLeft, kSize)},
      {"maps", Claims(0x0D, 0, OneMoreThanLeft, kSize)},
      {"nulls", nulls},
      {"growing", growing}};
  for (const auto& [name, message] : messages) {
    EXPECT_LE(DecodingPeak(message),
              kPeakBytesPerByte * message.size() + kPeakBytesMore)
        << name;
  }
}

// A list reserves room for its count up front only within 16 bytes per
// byte left in the message: 14 elements (56 bytes each) need 49 bytes left.
// Past its reservation a list grows, but never beyond its count.
TEST(StandardCodecTest, ListsReserveWithinTheBudget) {
  static_assert(sizeof(V) == 56, "the budget below assumes 56-byte values");
  const Bytes two = {0x07, 0x02, 'a', 'b'};
  const Bytes one = {0x07, 0x01, 'a'};
  // 6 x 4 + 8 x 3 bytes: reserved whole. 5 x 4 + 9 x 3: 13 reserved, then
  // room for 14.
  const std::pair<int, size_t> cases[] = {{6, 14 * 56}, {5, (13 + 14) * 56}};
  for (const auto& [long_ones, allocated] : cases) {
    Bytes message = {0x0C, 14};
    for (int i = 0; i < 14; ++i)
      message = Concat(message, i < long_ones ? two : one);
    const size_t allocated_before = AllocatedBytes();
    const V decoded = Decode(message);
    EXPECT_EQ(AllocatedBytes() - allocated_before, allocated);
    EXPECT_EQ(std::get<EncodableList>(decoded).size(), 14u);
    EXPECT_EQ(std::get<EncodableList>(decoded).capacity(), 14u);
  }
}

TEST(StandardCodecTest, NestingIsBoundedAndCheap) {
  // Lists inside lists, each claiming every byte that is left.
  Bytes claims;
  for (int level = 0; level < 2000; ++level) {
    const int left = (2000 - level) * 6 - 6;
    claims = Concat(claims, {0x0C, 0xFF, static_cast<uint8_t>(left),
                             static_cast<uint8_t>(left >> 8), 0, 0});
  }
  CerrCapture cerr;
  const size_t allocated_before = AllocatedBytes();
  Decode(claims);
  EXPECT_LT(AllocatedBytes() - allocated_before, 64 * claims.size());
  // Diagnostics stay proportional to the bytes present, not the counts.
  EXPECT_LT(cerr.Lines().size(), claims.size() / 6);

  V thousand;  // 1000 lists of one around a null
  for (int level = 0; level < 1000; ++level)
    thousand = V(EncodableList{thousand});
  Bytes message = {0x00};
  for (int levels = 1; levels <= 1001; ++levels) {
    message = Concat({0x0C, 0x01}, message);
    if (levels < 1000) continue;
    // One level more: the innermost list reads as null.
    const size_t lines_before = cerr.Lines().size();
    EXPECT_EQ(Decode(message), thousand) << levels;
    EXPECT_EQ(cerr.Lines().size() - lines_before, levels == 1000 ? 0u : 1u);
  }
}

// Lists of one and maps of one entry ({inner: null}) in turn, |depth|
// levels around the 32-bit integer |leaf|.
Bytes DeepKey(int depth, uint8_t leaf) {
  Bytes key = {0x03, leaf, 0, 0, 0};
  for (int level = 0; level < depth; ++level) {
    key = Concat({static_cast<uint8_t>(level % 2 ? 0x0D : 0x0C), 1}, key);
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
  const V equal = Decode(
      Concat(Concat({0x0D, 2}, one), Concat(Concat({0x01}, one), {0x02})));
  EXPECT_EQ(Encode(equal), Concat(Concat({0x0D, 1}, one), {0x01}));
  // Keys equal up to their last element, the greater one first.
  const V both = Decode(
      Concat(Concat({0x0D, 2}, one), Concat(Concat({0x01}, zero), {0x02})));
  EXPECT_EQ(Encode(both), Concat(Concat(Concat({0x0D, 2}, zero), {0x02}),
                                 Concat(one, {0x01})));
}

// {NaN: false, 1.0: true}: a NaN key is a key of its own, after 1.0.
TEST(StandardCodecTest, NanIsAMapKeyOfItsOwn) {
  Bytes message = Encode(V(std::nan("")), {0x0D, 2});
  message = Encode(V(1.0), Concat(message, {0x02}));
  const V decoded = Decode(Concat(message, {0x01}));
  ASSERT_EQ(std::get<EncodableMap>(decoded).size(), 2u);
  EXPECT_EQ(std::get<EncodableMap>(decoded).begin()->first, V(1.0));
  EXPECT_EQ(std::get<EncodableMap>(decoded).rbegin()->second, V(false));
}

}  // namespace
}  // namespace flutter::testing
