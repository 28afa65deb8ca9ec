// Byte sources and sinks for the standard message codec.
#ifndef CLIENT_BYTE_STREAMS_H_
#define CLIENT_BYTE_STREAMS_H_

#include <cstddef>
#include <cstdint>
#include <vector>

namespace flutter {

class ByteStreamReader {
 public:
  ByteStreamReader() = default;
  virtual ~ByteStreamReader() = default;
  virtual uint8_t ReadByte() = 0;
  virtual void ReadBytes(uint8_t* buffer, size_t length) = 0;
  virtual void AlignRead(uint8_t alignment) = 0;
  // The bytes the reads can still deliver; 0 once an alignment has run past
  // the end. The decoder allocates for a declared length only as far as
  // this answer allows, so every reader must give it: the reads report no
  // failure, and without it a few bytes could ask for gigabytes.
  virtual size_t BytesRemaining() const = 0;
};

class ByteStreamWriter {
 public:
  ByteStreamWriter() = default;
  virtual ~ByteStreamWriter() = default;
  virtual void WriteByte(uint8_t byte) = 0;
  virtual void WriteBytes(const uint8_t* bytes, size_t length) = 0;
  virtual void AlignWrite(uint8_t alignment) = 0;
};

// Reads a buffer it does not own, in place.
class ByteBufferStreamReader : public ByteStreamReader {
 public:
  ByteBufferStreamReader(const uint8_t* bytes, size_t size);

  uint8_t ReadByte() override;
  void ReadBytes(uint8_t* buffer, size_t length) override;
  void AlignRead(uint8_t alignment) override;
  size_t BytesRemaining() const override;

  size_t position() const { return position_; }

  // The next |length| bytes where they lie, skipping past them; null
  // (reported like any failed read, the position unmoved) when fewer are
  // left. Lets a large block be copied once instead of zero-filled first.
  const uint8_t* ReadInPlace(size_t length);

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t position_ = 0;
};

// Appends to a vector it does not own; the vector's length is the position.
class ByteBufferStreamWriter : public ByteStreamWriter {
 public:
  explicit ByteBufferStreamWriter(std::vector<uint8_t>* buffer);

  void WriteByte(uint8_t byte) override;
  void WriteBytes(const uint8_t* bytes, size_t length) override;
  void AlignWrite(uint8_t alignment) override;

  size_t position() const { return buffer_->size(); }

  // Room for |length| more bytes without reallocating, the capacity
  // growing at least twofold when it must grow.
  void Reserve(size_t length);

 private:
  std::vector<uint8_t>* buffer_;
};

}  // namespace flutter

#endif  // CLIENT_BYTE_STREAMS_H_
