// The standard message format written straight into a plain buffer
// writer's vector: the fast path behind the standard serializer's and the
// standard method codec's writing. Not an interface for other code.
#ifndef CLIENT_BUFFER_ENCODER_H_
#define CLIENT_BUFFER_ENCODER_H_

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <typeinfo>
#include <vector>

#include "client/byte_streams.h"
#include "client/encodable_value.h"
#include "client/standard_codec.h"

namespace flutter::internal {

// Small fields gather in a fixed staging area that reaches the vector in
// blocks of a few KiB, so a value costs a few stores instead of a virtual
// call and a vector append per field; blocks too large to stage go to the
// vector directly. The bytes are those the stream calls would give.
class BufferEncoder {
 public:
  // True for the standard serializer over the plain buffer writer: no
  // override can then tell this encoder from the stream calls.
  static bool Serves(const StandardCodecSerializer& serializer,
                     const ByteStreamWriter& stream);
  // True for the standard serializer: over a plain buffer writer of the
  // caller's own, this encoder serves it.
  static bool Serves(const StandardCodecSerializer& serializer) {
    return typeid(serializer) == typeid(StandardCodecSerializer);
  }

  // A guess at |value|'s encoded size, cheap enough to make for every
  // message: exact for numbers, strings and blocks; a list or map counts
  // every entry as its first one, a few levels down, and a quarter more.
  static size_t GuessSize(const EncodableValue& value);

  explicit BufferEncoder(ByteBufferStreamWriter* writer) : writer_(writer) {}
  BufferEncoder(const BufferEncoder&) = delete;
  BufferEncoder& operator=(const BufferEncoder&) = delete;

  // Room in the vector for |size| more bytes than are staged.
  void Expect(size_t size);

  void WriteByte(uint8_t byte);
  void Write(const EncodableValue& value);
  // The same bytes as Write of |text| as a string value.
  void WriteString(const std::string& text);

  // Hands what is staged to the vector; nothing reaches it before.
  void Flush();

 private:
  static constexpr size_t kStageSize = 4096;

  void Room(size_t size);
  void Put(const void* bytes, size_t size);
  void Pad(size_t alignment);
  void Length(size_t length);
  void Block(const void* bytes, size_t size);
  template <typename Bytes>
  void Sequence(const Bytes& bytes);
  template <typename T>
  void TypedList(const std::vector<T>& list);
  void List(const EncodableList& list);
  void Map(const EncodableMap& map);
  void ShortString(const std::string& text);

  ByteBufferStreamWriter* writer_;
  size_t used_ = 0;
  uint8_t stage_[kStageSize];
};

// A message of a few scalar values and short texts (a method call with a
// text argument, most replies) built on the stack and handed over in a
// vector of exactly its size: no size guess, no staging area, no growth.
// Holds no lists, maps or blocks: for those, and for texts too long for a
// one-byte length, the builders answer null and the caller encodes the
// message the general way.
class SmallMessage {
 public:
  // The call |name| with |arguments|.
  static std::unique_ptr<std::vector<uint8_t>> Call(
      const std::string& name, const EncodableValue& arguments);
  // The envelope byte |kind| followed by |value|.
  static std::unique_ptr<std::vector<uint8_t>> Envelope(
      uint8_t kind, const EncodableValue& value);

 private:
  static constexpr size_t kMostBytes = 256;

  void AddByte(uint8_t byte) { bytes_[used_++] = byte; }
  // An integer after its tag; integers need no padding.
  template <typename T>
  void AddNumber(uint8_t tag, T number) {
    bytes_[used_++] = tag;
    std::memcpy(bytes_ + used_, &number, sizeof(T));
    used_ += sizeof(T);
  }
  bool Add(const EncodableValue& value);
  // The same bytes as Add of |text| as a string value.
  bool AddString(const std::string& text);
  std::unique_ptr<std::vector<uint8_t>> Take() const;

  size_t used_ = 0;
  uint8_t bytes_[kMostBytes];
};

}  // namespace flutter::internal

#endif  // CLIENT_BUFFER_ENCODER_H_
