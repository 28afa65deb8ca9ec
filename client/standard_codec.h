// The standard message format: one value as a tag byte and its payload.
#ifndef CLIENT_STANDARD_CODEC_H_
#define CLIENT_STANDARD_CODEC_H_

#include <cstddef>
#include <cstdint>

#include "client/byte_streams.h"
#include "client/encodable_value.h"

namespace flutter {

class StandardCodecSerializer {
 public:
  // The one shared serializer, created on first use.
  static const StandardCodecSerializer& Instance();

  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  virtual void WriteValue(const EncodableValue& value,
                          ByteStreamWriter* stream) const;
  virtual EncodableValue ReadValueOfType(uint8_t type,
                                         ByteStreamReader* stream) const;

  EncodableValue ReadValue(ByteStreamReader* stream) const;
  void WriteLength(size_t length, ByteStreamWriter* stream) const;
  size_t ReadLength(ByteStreamReader* stream) const;

 protected:
  StandardCodecSerializer();
};

}  // namespace flutter

#endif  // CLIENT_STANDARD_CODEC_H_
