#include "client/byte_streams.h"

#include <algorithm>
#include <cstring>
#include <iostream>

namespace flutter {
namespace {

constexpr size_t kInitialCapacity = 128;
constexpr size_t kLargeBlock = size_t{64} * 1024;
constexpr size_t kRoomAfterLargeBlock = 4096;

void ReportInvalidRead() {
  std::cerr << "Invalid read in StandardCodecByteStreamReader" << std::endl;
}

}  // namespace

ByteBufferStreamReader::ByteBufferStreamReader(const uint8_t* bytes,
                                               size_t size)
    : bytes_(bytes), size_(size) {}

uint8_t ByteBufferStreamReader::ReadByte() {
  if (position_ >= size_) {
    ReportInvalidRead();
    return 0;
  }
  return bytes_[position_++];
}

void ByteBufferStreamReader::ReadBytes(uint8_t* buffer, size_t length) {
  // Written so that a huge |length| cannot wrap the sum around.
  if (position_ > size_ || length > size_ - position_) {
    ReportInvalidRead();
    return;
  }
  if (length > 0) {
    std::memcpy(buffer, bytes_ + position_, length);
  }
  position_ += length;
}

const uint8_t* ByteBufferStreamReader::ReadInPlace(size_t length) {
  if (position_ > size_ || length > size_ - position_) {
    ReportInvalidRead();
    return nullptr;
  }
  const uint8_t* start = bytes_ + position_;
  position_ += length;
  return start;
}

void ByteBufferStreamReader::AlignRead(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t misalignment = position_ % alignment;
  if (misalignment != 0) {
    position_ += alignment - misalignment;
  }
}

size_t ByteBufferStreamReader::BytesRemaining() const {
  return position_ >= size_ ? 0 : size_ - position_;
}

ByteBufferStreamWriter::ByteBufferStreamWriter(std::vector<uint8_t>* buffer)
    : buffer_(buffer) {
  // Most messages are small: one allocation up front instead of the
  // vector's doubling from a single byte.
  if (buffer_->capacity() < kInitialCapacity) {
    buffer_->reserve(kInitialCapacity);
  }
}

void ByteBufferStreamWriter::WriteByte(uint8_t byte) {
  buffer_->push_back(byte);
}

void ByteBufferStreamWriter::WriteBytes(const uint8_t* bytes, size_t length) {
  // A large block gets room for itself and the small values that usually
  // follow it, so a message of one block is allocated once. Small writes
  // are left to the vector, which doubles.
  if (length >= kLargeBlock && length > buffer_->capacity() - buffer_->size()) {
    Reserve(length + kRoomAfterLargeBlock);
  }
  if (length > 0) {
    buffer_->insert(buffer_->end(), bytes, bytes + length);
  }
}

void ByteBufferStreamWriter::Reserve(size_t length) {
  const size_t capacity = buffer_->capacity();
  if (length <= capacity - buffer_->size()) {
    return;
  }
  // Never less than double, or each of many large blocks would copy all
  // that came before it.
  buffer_->reserve(std::max(buffer_->size() + length, 2 * capacity));
}

void ByteBufferStreamWriter::AlignWrite(uint8_t alignment) {
  if (alignment == 0) {
    return;
  }
  const size_t misalignment = buffer_->size() % alignment;
  if (misalignment != 0) {
    buffer_->insert(buffer_->end(), alignment - misalignment, 0);
  }
}

}  // namespace flutter
