#include "client/standard_codec.h"

#include <algorithm>
#include <cstring>
#include <iostream>
#include <limits>
#include <optional>
#include <string>
#include <typeinfo>
#include <utility>
#include <vector>

#include "client/buffer_encoder.h"

namespace flutter {
namespace {

#if defined(__BYTE_ORDER__)
// Numbers are copied as they lie in memory; the wire is little-endian.
static_assert(__BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__,
              "the standard codec assumes a little-endian host");
#endif

enum Tag : uint8_t {
  kNull = 0,
  kTrue = 1,
  kFalse = 2,
  kInt32 = 3,
  kInt64 = 4,
  kLargeInt = 5,  // Read only: arrives as text.
  kFloat64 = 6,
  kString = 7,
  kUInt8List = 8,
  kInt32List = 9,
  kInt64List = 10,
  kFloat64List = 11,
  kList = 12,
  kMap = 13,
  kFloat32List = 14,
};

constexpr uint8_t kLengthTwoBytes = 254;
constexpr uint8_t kLengthFourBytes = 255;

// Lists and maps may nest this deep. Decoding, copying, comparing and
// destroying values all recurse once per level, so an unbounded depth would
// let one message overflow the platform thread's stack. A list or map below
// the bound reads as null, like any value that could not be read; null
// re-encodes as itself, so decoded values still encode and decode unchanged.
constexpr int kMaxNestingDepth = 1000;
thread_local int g_nesting_depth = 0;

class NestingScope {
 public:
  NestingScope() { ++g_nesting_depth; }
  ~NestingScope() { --g_nesting_depth; }
  NestingScope(const NestingScope&) = delete;
  NestingScope& operator=(const NestingScope&) = delete;
  bool TooDeep() const { return g_nesting_depth > kMaxNestingDepth; }
};

// List decoding reserves room for the declared count up front, within a
// budget of bytes shared by all levels of one message: a fixed multiple of
// the bytes left when the outermost list or map began. Real messages need
// less (an element takes at least one byte on the wire and
// sizeof(EncodableValue) in memory, small values about ten times more);
// lists nested inside lists that each claim every byte left draw on the
// same budget, so their claims cannot multiply it.
constexpr size_t kReservableBytesPerByte = 16;
thread_local size_t g_reservable_bytes = 0;

// Called as each list or map begins; the outermost one sets the budget.
void StartReservations(const ByteStreamReader& stream) {
  if (g_nesting_depth == 1) {
    const size_t left = stream.BytesRemaining();
    g_reservable_bytes =
        left > std::numeric_limits<size_t>::max() / kReservableBytesPerByte
            ? 0
            : left * kReservableBytesPerByte;
  }
}

// How many of |count| elements to reserve room for now.
size_t TakeReservation(size_t count) {
  const size_t room =
      std::min(count, g_reservable_bytes / sizeof(EncodableValue));
  g_reservable_bytes -= room * sizeof(EncodableValue);
  return room;
}

// A declared count the rest of the message cannot hold is a failed read,
// reported like the reader's own.
void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

// True when |count| items of at least |min_size| bytes each cannot fit in
// what is left of the message.
bool CannotHold(const ByteStreamReader& stream, size_t count, size_t min_size) {
  return count > stream.BytesRemaining() / min_size;
}

template <typename T>
void WriteNumber(T number, ByteStreamWriter* stream) {
  uint8_t bytes[sizeof(T)];
  std::memcpy(bytes, &number, sizeof(T));
  stream->WriteBytes(bytes, sizeof(T));
}

template <typename T>
T ReadNumber(ByteStreamReader* stream) {
  // A failed read leaves the zero in place.
  uint8_t bytes[sizeof(T)] = {};
  stream->ReadBytes(bytes, sizeof(T));
  T number;
  std::memcpy(&number, bytes, sizeof(T));
  return number;
}

template <typename T>
void WriteTypedList(const StandardCodecSerializer& serializer,
                    const std::vector<T>& list, ByteStreamWriter* stream) {
  serializer.WriteLength(list.size(), stream);
  stream->AlignWrite(sizeof(T));
  if (!list.empty()) {
    stream->WriteBytes(reinterpret_cast<const uint8_t*>(list.data()),
                       list.size() * sizeof(T));
  }
}

template <typename T>
std::vector<T> ReadTypedList(const StandardCodecSerializer& serializer,
                             ByteStreamReader* stream) {
  const size_t count = serializer.ReadLength(stream);
  // Aligned even when empty, as the writer pads even then. The count is
  // checked against what is left after the padding: a count that fits only
  // before it would allocate a list whose read then fails.
  stream->AlignRead(sizeof(T));
  if (CannotHold(*stream, count, sizeof(T))) {
    ReportInvalidRead();
    return {};
  }
  std::vector<T> list(count);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(list.data()), count * sizeof(T));
  return list;
}

// Strings and byte lists this long are read in place when they can be.
constexpr size_t kLargeSequence = 4096;

// Strings and byte lists: a count, then that many bytes, never padded.
template <typename Bytes>
Bytes ReadByteSequence(const StandardCodecSerializer& serializer,
                       ByteStreamReader* stream) {
  const size_t count = serializer.ReadLength(stream);
  if (CannotHold(*stream, count, 1)) {
    ReportInvalidRead();
    return {};
  }
  // A large block from a buffer is copied in one pass; the type check
  // costs next to nothing beside it, though it would beside short strings.
  if (count >= kLargeSequence) {
    if (auto* buffer = dynamic_cast<ByteBufferStreamReader*>(stream)) {
      const uint8_t* start = buffer->ReadInPlace(count);
      if (start != nullptr) {
        return Bytes(start, start + count);
      }
    }
  }
  Bytes bytes(count, 0);
  stream->ReadBytes(reinterpret_cast<uint8_t*>(bytes.data()), count);
  return bytes;
}

// Begins a list or map: its declared count, or nothing (with the read
// failure reported) when the message nests deeper than allowed.
std::optional<size_t> OpenContainer(const NestingScope& scope,
                                    const StandardCodecSerializer& serializer,
                                    ByteStreamReader* stream) {
  if (scope.TooDeep()) {
    ReportInvalidRead();
    return std::nullopt;
  }
  StartReservations(*stream);
  return serializer.ReadLength(stream);
}

EncodableValue ReadList(const StandardCodecSerializer& serializer,
                        ByteStreamReader* stream) {
  NestingScope scope;
  const std::optional<size_t> declared =
      OpenContainer(scope, serializer, stream);
  if (!declared) {
    return EncodableValue();
  }
  const size_t count = *declared;
  EncodableList list;
  list.reserve(TakeReservation(count));
  for (size_t i = 0; i < count; ++i) {
    // Every element takes at least its tag byte.
    if (CannotHold(*stream, count - i, 1)) {
      ReportInvalidRead();
      return EncodableList();
    }
    // Doubled beyond the reservation, but never past the count, which the
    // message can hold: a list just past a power of two is not given
    // room for twice its size.
    if (list.size() == list.capacity()) {
      list.reserve(i + std::min(std::max<size_t>(i, 1), count - i));
    }
    list.push_back(serializer.ReadValue(stream));
  }
  return list;
}

EncodableValue ReadMap(const StandardCodecSerializer& serializer,
                       ByteStreamReader* stream) {
  NestingScope scope;
  const std::optional<size_t> declared =
      OpenContainer(scope, serializer, stream);
  if (!declared) {
    return EncodableValue();
  }
  const size_t count = *declared;
  EncodableMap map;
  for (size_t i = 0; i < count; ++i) {
    // Every entry takes at least a tag byte for its key and its value.
    if (CannotHold(*stream, count - i, 2)) {
      ReportInvalidRead();
      return EncodableMap();
    }
    EncodableValue key = serializer.ReadValue(stream);
    EncodableValue value = serializer.ReadValue(stream);
    // Writers emit keys in order, so the end is almost always the right
    // place; an equivalent key already present keeps its first value.
    map.emplace_hint(map.end(), std::move(key), std::move(value));
  }
  return map;
}

void ReportUnhandledCustom() {
  std::cerr << "Unhandled custom type in StandardCodecSerializer::WriteValue. "
               "Custom types require codec extensions."
            << std::endl;
}

// The length form of |length| into |out|; the number of bytes it took.
size_t EncodeLength(size_t length, uint8_t out[5]) {
  if (length < kLengthTwoBytes) {
    out[0] = static_cast<uint8_t>(length);
    return 1;
  } else if (length <= 0xFFFF) {
    out[0] = kLengthTwoBytes;
    const auto narrow = static_cast<uint16_t>(length);
    std::memcpy(out + 1, &narrow, sizeof(narrow));
    return 1 + sizeof(narrow);
  }
  // Wider counts keep their low 32 bits.
  out[0] = kLengthFourBytes;
  const auto narrow = static_cast<uint32_t>(length);
  std::memcpy(out + 1, &narrow, sizeof(narrow));
  return 1 + sizeof(narrow);
}

// Writes the payload that follows a value's tag.
class PayloadWriter {
 public:
  PayloadWriter(const StandardCodecSerializer& serializer,
                ByteStreamWriter* stream)
      : serializer_(serializer), stream_(stream) {}

  void operator()(const std::monostate&) const {}
  void operator()(bool) const {}
  void operator()(int32_t number) const { WriteNumber(number, stream_); }
  void operator()(int64_t number) const { WriteNumber(number, stream_); }
  void operator()(double number) const {
    stream_->AlignWrite(8);
    WriteNumber(number, stream_);
  }
  void operator()(const std::string& text) const {
    WriteBytesWithLength(reinterpret_cast<const uint8_t*>(text.data()),
                         text.size());
  }
  void operator()(const std::vector<uint8_t>& bytes) const {
    WriteBytesWithLength(bytes.data(), bytes.size());
  }
  template <typename T>
  void operator()(const std::vector<T>& list) const {
    WriteTypedList(serializer_, list, stream_);
  }
  void operator()(const EncodableList& list) const {
    serializer_.WriteLength(list.size(), stream_);
    for (const EncodableValue& element : list) {
      serializer_.WriteValue(element, stream_);
    }
  }
  void operator()(const EncodableMap& map) const {
    serializer_.WriteLength(map.size(), stream_);
    for (const auto& [key, value] : map) {
      serializer_.WriteValue(key, stream_);
      serializer_.WriteValue(value, stream_);
    }
  }
  void operator()(const CustomValue&) const { ReportUnhandledCustom(); }

 private:
  void WriteBytesWithLength(const uint8_t* bytes, size_t size) const {
    serializer_.WriteLength(size, stream_);
    if (size > 0) {
      stream_->WriteBytes(bytes, size);
    }
  }

  const StandardCodecSerializer& serializer_;
  ByteStreamWriter* stream_;
};

uint8_t TagFor(const EncodableValue& value) {
  static constexpr uint8_t kTagByIndex[] = {
      kNull,        kTrue,      kInt32,     kInt64,       kFloat64, kString,
      kUInt8List,   kInt32List, kInt64List, kFloat64List, kList,    kMap,
      kNull,  // CustomValue: the peer reads null.
      kFloat32List,
  };
  static_assert(
      sizeof(kTagByIndex) == std::variant_size_v<EncodableValue::Variant>,
      "one tag per alternative");
  if (const bool* flag = std::get_if<bool>(&value)) {
    return *flag ? kTrue : kFalse;
  }
  return kTagByIndex[value.index()];
}

// Strings up to this many bytes go out in the same append as their tag.
constexpr size_t kShortString = 62;
static_assert(kShortString < kLengthTwoBytes, "a one-byte length");

// Writes null, bools, 32- and 64-bit integers and short strings, tag and
// payload, with one call on the stream rather than one per field: these
// are most of the values in lists and maps. False for any other value,
// which is then left unwritten.
bool WriteSmallValue(const EncodableValue& value, ByteStreamWriter* stream) {
  uint8_t bytes[2 + kShortString];
  size_t size = 0;
  bytes[size++] = TagFor(value);
  if (const auto* number = std::get_if<int32_t>(&value)) {
    std::memcpy(bytes + size, number, sizeof(*number));
    size += sizeof(*number);
  } else if (const auto* number = std::get_if<int64_t>(&value)) {
    std::memcpy(bytes + size, number, sizeof(*number));
    size += sizeof(*number);
  } else if (const auto* text = std::get_if<std::string>(&value)) {
    if (text->size() > kShortString) {
      return false;
    }
    bytes[size++] = static_cast<uint8_t>(text->size());
    // Text travels without a terminator.
    // NOLINTNEXTLINE(bugprone-not-null-terminated-result)
    std::memcpy(bytes + size, text->data(), text->size());
    size += text->size();
  } else if (!value.IsNull() && !std::holds_alternative<bool>(value)) {
    return false;
  }
  stream->WriteBytes(bytes, size);
  return true;
}

// Most keys and texts in messages are this short.
constexpr size_t kShortBlock = 32;

// Copies up to kShortBlock bytes in fixed-size moves that the compiler
// inlines: a call to memcpy would cost more than the copy. Two
// overlapping moves cover every length without reading past either end.
void CopyShort(uint8_t* to, const uint8_t* from, size_t size) {
  if (size >= 16) {
    std::memcpy(to, from, 16);
    std::memcpy(to + size - 16, from + size - 16, 16);
  } else if (size >= 8) {
    std::memcpy(to, from, 8);
    std::memcpy(to + size - 8, from + size - 8, 8);
  } else if (size >= 4) {
    std::memcpy(to, from, 4);
    std::memcpy(to + size - 4, from + size - 4, 4);
  } else if (size > 0) {
    to[0] = from[0];
    to[size / 2] = from[size / 2];
    to[size - 1] = from[size - 1];
  }
}

// CopyShort for the texts of a small message, shorter than a one-byte
// length allows: whole 32-byte moves, and one more ending at the end.
void CopyText(uint8_t* to, const uint8_t* from, size_t size) {
  if (size <= kShortBlock) {
    CopyShort(to, from, size);
    return;
  }
  for (size_t at = 0; at + kShortBlock < size; at += kShortBlock) {
    std::memcpy(to + at, from + at, kShortBlock);
  }
  std::memcpy(to + size - kShortBlock, from + size - kShortBlock, kShortBlock);
}

// Adds without wrapping around.
size_t SaturatingAdd(size_t a, size_t b) {
  return a > std::numeric_limits<size_t>::max() - b
             ? std::numeric_limits<size_t>::max()
             : a + b;
}

// A list or map entry counts as at most this many bytes (and a quarter)
// in a size guess: each already takes sizeof(EncodableValue) or more in
// memory, so reserving the guess never asks for much beyond the value's
// own footprint.
constexpr size_t kMostGuessedPerEntry = 64;

// Tag, length and padding: all that comes before a block.
constexpr size_t kMostBeforeBlock = 16;

// Tag and length of a sequence of |count| elements.
size_t HeaderSize(size_t count) {
  uint8_t length[5];
  return 1 + EncodeLength(count, length);
}

// Tag, length, padding (as much as it can be) and the elements.
template <typename T>
size_t TypedListSize(const std::vector<T>& list) {
  return SaturatingAdd(HeaderSize(list.size()) + sizeof(T) - 1,
                       list.size() * sizeof(T));
}

size_t GuessEncodedSize(const EncodableValue& value, int levels) {
  switch (TagFor(value)) {
    case kInt32:
      return 1 + sizeof(int32_t);
    case kInt64:
      return 1 + sizeof(int64_t);
    case kFloat64:
      return 1 + 7 + sizeof(double);
    case kString: {
      const auto& text = *std::get_if<std::string>(&value);
      return HeaderSize(text.size()) + text.size();
    }
    case kUInt8List: {
      const auto& bytes = *std::get_if<std::vector<uint8_t>>(&value);
      return HeaderSize(bytes.size()) + bytes.size();
    }
    case kInt32List:
      return TypedListSize(*std::get_if<std::vector<int32_t>>(&value));
    case kInt64List:
      return TypedListSize(*std::get_if<std::vector<int64_t>>(&value));
    case kFloat64List:
      return TypedListSize(*std::get_if<std::vector<double>>(&value));
    case kFloat32List:
      return TypedListSize(*std::get_if<std::vector<float>>(&value));
    case kList:
    case kMap:
      break;
    default:
      return 1;
  }
  size_t count = 0;
  size_t first = 0;
  if (const auto* list = std::get_if<EncodableList>(&value)) {
    count = list->size();
    if (count > 0 && levels > 0) {
      first = GuessEncodedSize(list->front(), levels - 1);
    }
  } else if (const auto* map = std::get_if<EncodableMap>(&value)) {
    count = map->size();
    if (count > 0 && levels > 0) {
      first = SaturatingAdd(GuessEncodedSize(map->begin()->first, levels - 1),
                            GuessEncodedSize(map->begin()->second, levels - 1));
    }
  }
  // Later entries tend to be longer: wider numbers, longer texts.
  const size_t entry = std::min(first, kMostGuessedPerEntry);
  return HeaderSize(count) + count * std::max<size_t>(entry + entry / 4, 1);
}

}  // namespace

namespace internal {

bool BufferEncoder::Serves(const StandardCodecSerializer& serializer,
                           const ByteStreamWriter& stream) {
  return typeid(serializer) == typeid(StandardCodecSerializer) &&
         typeid(stream) == typeid(ByteBufferStreamWriter);
}

size_t BufferEncoder::GuessSize(const EncodableValue& value) {
  return GuessEncodedSize(value, 3);
}

void BufferEncoder::Expect(size_t size) {
  writer_->Reserve(SaturatingAdd(used_, size));
}

void BufferEncoder::WriteByte(uint8_t byte) {
  Room(1);
  stage_[used_++] = byte;
}

void BufferEncoder::WriteString(const std::string& text) {
  Room(kMostBeforeBlock);
  stage_[used_++] = kString;
  Sequence(text);
}

void BufferEncoder::Write(const EncodableValue& value) {
  Room(kMostBeforeBlock);
  const uint8_t tag = TagFor(value);
  stage_[used_++] = tag;
  // A switch the compiler can inline, where visiting calls through a
  // table for every value.
  switch (tag) {
    case kNull:
      if (std::holds_alternative<CustomValue>(value)) {
        ReportUnhandledCustom();
      }
      break;
    case kTrue:
    case kFalse:
      break;
    case kInt32:
      Put(std::get_if<int32_t>(&value), sizeof(int32_t));
      break;
    case kInt64:
      Put(std::get_if<int64_t>(&value), sizeof(int64_t));
      break;
    case kFloat64:
      Pad(sizeof(double));
      Put(std::get_if<double>(&value), sizeof(double));
      break;
    case kString:
      Sequence(*std::get_if<std::string>(&value));
      break;
    case kUInt8List:
      Sequence(*std::get_if<std::vector<uint8_t>>(&value));
      break;
    case kInt32List:
      TypedList(*std::get_if<std::vector<int32_t>>(&value));
      break;
    case kInt64List:
      TypedList(*std::get_if<std::vector<int64_t>>(&value));
      break;
    case kFloat64List:
      TypedList(*std::get_if<std::vector<double>>(&value));
      break;
    case kFloat32List:
      TypedList(*std::get_if<std::vector<float>>(&value));
      break;
    case kList:
      List(*std::get_if<EncodableList>(&value));
      break;
    case kMap:
      Map(*std::get_if<EncodableMap>(&value));
      break;
  }
}

void BufferEncoder::Flush() {
  if (used_ > 0) {
    writer_->WriteBytes(stage_, used_);
    used_ = 0;
  }
}

void BufferEncoder::Room(size_t size) {
  if (kStageSize - used_ < size) {
    Flush();
  }
}

// The room was made before.
void BufferEncoder::Put(const void* bytes, size_t size) {
  std::memcpy(stage_ + used_, bytes, size);
  used_ += size;
}

void BufferEncoder::Pad(size_t alignment) {
  const size_t misalignment = (writer_->position() + used_) % alignment;
  if (misalignment != 0) {
    std::memset(stage_ + used_, 0, alignment - misalignment);
    used_ += alignment - misalignment;
  }
}

void BufferEncoder::Length(size_t length) {
  used_ += EncodeLength(length, stage_ + used_);
}

void BufferEncoder::Block(const void* bytes, size_t size) {
  if (size > kStageSize - used_) {
    Flush();
    if (size > kStageSize) {
      writer_->WriteBytes(static_cast<const uint8_t*>(bytes), size);
      return;
    }
  }
  if (size <= kShortBlock) {
    CopyShort(stage_ + used_, static_cast<const uint8_t*>(bytes), size);
    used_ += size;
  } else {
    Put(bytes, size);
  }
}

template <typename Bytes>
void BufferEncoder::Sequence(const Bytes& bytes) {
  Length(bytes.size());
  Block(bytes.data(), bytes.size());
}

template <typename T>
void BufferEncoder::TypedList(const std::vector<T>& list) {
  Length(list.size());
  // Padded even when empty.
  Pad(sizeof(T));
  Block(list.data(), list.size() * sizeof(T));
}

void BufferEncoder::List(const EncodableList& list) {
  Length(list.size());
  for (const EncodableValue& element : list) {
    Write(element);
  }
}

void BufferEncoder::Map(const EncodableMap& map) {
  Length(map.size());
  for (const auto& [key, value] : map) {
    // Most maps pair short texts: the entry in one room check, without
    // the length forms a longer text needs.
    const auto* key_text = std::get_if<std::string>(&key);
    const auto* value_text = std::get_if<std::string>(&value);
    if (key_text != nullptr && value_text != nullptr &&
        key_text->size() <= kShortBlock && value_text->size() <= kShortBlock) {
      Room(2 * (2 + kShortBlock));
      ShortString(*key_text);
      ShortString(*value_text);
      continue;
    }
    Write(key);
    Write(value);
  }
}

// The room was made before.
void BufferEncoder::ShortString(const std::string& text) {
  static_assert(kShortBlock < kLengthTwoBytes, "a one-byte length");
  stage_[used_++] = kString;
  stage_[used_++] = static_cast<uint8_t>(text.size());
  CopyShort(stage_ + used_, reinterpret_cast<const uint8_t*>(text.data()),
            text.size());
  used_ += text.size();
}

// Room for the tag, a one-byte length and the text, leaving the next Add
// its own room check.
bool SmallMessage::AddString(const std::string& text) {
  if (text.size() >= kLengthTwoBytes || kMostBytes - used_ < 2 + text.size()) {
    return false;
  }
  bytes_[used_++] = kString;
  bytes_[used_++] = static_cast<uint8_t>(text.size());
  CopyText(bytes_ + used_, reinterpret_cast<const uint8_t*>(text.data()),
           text.size());
  used_ += text.size();
  return true;
}

bool SmallMessage::Add(const EncodableValue& value) {
  // The widest scalar: a tag, padding and a double.
  constexpr size_t kMostScalar = 1 + 7 + sizeof(double);
  if (const auto* text = std::get_if<std::string>(&value)) {
    return AddString(*text);
  }
  if (kMostBytes - used_ < kMostScalar) {
    return false;
  }
  const uint8_t tag = TagFor(value);
  switch (tag) {
    case kNull:
      if (std::holds_alternative<CustomValue>(value)) {
        return false;
      }
      [[fallthrough]];
    case kTrue:
    case kFalse:
      bytes_[used_++] = tag;
      return true;
    case kInt32:
      AddNumber(tag, *std::get_if<int32_t>(&value));
      return true;
    case kInt64:
      AddNumber(tag, *std::get_if<int64_t>(&value));
      return true;
    case kFloat64:
      // The message starts the vector, so its offsets are the positions.
      bytes_[used_++] = tag;
      while (used_ % sizeof(double) != 0) {
        bytes_[used_++] = 0;
      }
      std::memcpy(bytes_ + used_, std::get_if<double>(&value), sizeof(double));
      used_ += sizeof(double);
      return true;
    default:
      return false;
  }
}

std::unique_ptr<std::vector<uint8_t>> SmallMessage::Take() const {
  return std::make_unique<std::vector<uint8_t>>(bytes_, bytes_ + used_);
}

std::unique_ptr<std::vector<uint8_t>> SmallMessage::Call(
    const std::string& name, const EncodableValue& arguments) {
  SmallMessage message;
  if (!message.AddString(name)) {
    return nullptr;
  }
  // Most calls carry one text; it needs none of Add's other forms.
  const auto* text = std::get_if<std::string>(&arguments);
  if (!(text != nullptr ? message.AddString(*text) : message.Add(arguments))) {
    return nullptr;
  }
  return message.Take();
}

std::unique_ptr<std::vector<uint8_t>> SmallMessage::Envelope(
    uint8_t kind, const EncodableValue& value) {
  SmallMessage message;
  message.AddByte(kind);
  if (!message.Add(value)) {
    return nullptr;
  }
  return message.Take();
}

}  // namespace internal

StandardCodecSerializer::StandardCodecSerializer() = default;

StandardCodecSerializer::~StandardCodecSerializer() = default;

const StandardCodecSerializer& StandardCodecSerializer::Instance() {
  static const StandardCodecSerializer instance;
  return instance;
}

void StandardCodecSerializer::WriteValue(const EncodableValue& value,
                                         ByteStreamWriter* stream) const {
  if (internal::BufferEncoder::Serves(*this, *stream)) {
    internal::BufferEncoder encoder(
        static_cast<ByteBufferStreamWriter*>(stream));
    encoder.Expect(internal::BufferEncoder::GuessSize(value));
    encoder.Write(value);
    encoder.Flush();
    return;
  }
  if (WriteSmallValue(value, stream)) {
    return;
  }
  stream->WriteByte(TagFor(value));
  std::visit(PayloadWriter(*this, stream),
             static_cast<const EncodableValue::Variant&>(value));
}

EncodableValue StandardCodecSerializer::ReadValue(
    ByteStreamReader* stream) const {
  const uint8_t type = stream->ReadByte();
  return ReadValueOfType(type, stream);
}

EncodableValue StandardCodecSerializer::ReadValueOfType(
    uint8_t type, ByteStreamReader* stream) const {
  switch (type) {
    case kNull:
      return EncodableValue();
    case kTrue:
      return EncodableValue(true);
    case kFalse:
      return EncodableValue(false);
    case kInt32:
      return EncodableValue(ReadNumber<int32_t>(stream));
    case kInt64:
      return EncodableValue(ReadNumber<int64_t>(stream));
    case kFloat64:
      stream->AlignRead(8);
      return EncodableValue(ReadNumber<double>(stream));
    case kLargeInt:
    case kString:
      return EncodableValue(ReadByteSequence<std::string>(*this, stream));
    case kUInt8List:
      return EncodableValue(
          ReadByteSequence<std::vector<uint8_t>>(*this, stream));
    case kInt32List:
      return EncodableValue(ReadTypedList<int32_t>(*this, stream));
    case kInt64List:
      return EncodableValue(ReadTypedList<int64_t>(*this, stream));
    case kFloat64List:
      return EncodableValue(ReadTypedList<double>(*this, stream));
    case kList:
      return ReadList(*this, stream);
    case kMap:
      return ReadMap(*this, stream);
    case kFloat32List:
      return EncodableValue(ReadTypedList<float>(*this, stream));
    default:
      std::cerr << "Unknown type in StandardCodecSerializer::ReadValueOfType: "
                << static_cast<int>(type) << std::endl;
      return EncodableValue();
  }
}

void StandardCodecSerializer::WriteLength(size_t length,
                                          ByteStreamWriter* stream) const {
  uint8_t bytes[5];
  const size_t size = EncodeLength(length, bytes);
  stream->WriteByte(bytes[0]);
  if (size > 1) {
    stream->WriteBytes(bytes + 1, size - 1);
  }
}

size_t StandardCodecSerializer::ReadLength(ByteStreamReader* stream) const {
  const uint8_t first = stream->ReadByte();
  if (first < kLengthTwoBytes) {
    return first;
  }
  if (first == kLengthTwoBytes) {
    return ReadNumber<uint16_t>(stream);
  }
  return ReadNumber<uint32_t>(stream);
}

}  // namespace flutter
