// The method codec over the standard message format.
#ifndef CLIENT_STANDARD_METHOD_CODEC_H_
#define CLIENT_STANDARD_METHOD_CODEC_H_

#include "client/encodable_value.h"
#include "client/method_codec.h"
#include "client/standard_codec.h"

namespace flutter {

class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The shared codec for |serializer|; null means the standard serializer.
  // Codecs live until the process ends.
  static const StandardMethodCodec& Instance(
      const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

  std::unique_ptr<MethodCall<EncodableValue>> DecodeCall(
      const uint8_t* message, size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeCall(
      const MethodCall<EncodableValue>& call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccess(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeError(
      const std::string& code, const std::string& message,
      const EncodableValue* details) const override;
  bool DecodeResponse(const uint8_t* response, size_t response_size,
                      MethodResult<EncodableValue>* result) const override;

 private:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  const StandardCodecSerializer* serializer_;
  // Whether small messages may be built on the stack: decided once, as the
  // serializer's type never changes.
  const bool small_messages_;
};

}  // namespace flutter

#endif  // CLIENT_STANDARD_METHOD_CODEC_H_
