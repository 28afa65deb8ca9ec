#include "client/standard_method_codec.h"

#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/buffer_encoder.h"
#include "client/byte_streams.h"

namespace flutter {
namespace {

constexpr uint8_t kSuccessEnvelope = 0;
constexpr uint8_t kErrorEnvelope = 1;

// Stands in for an absent value without copying the present one.
const EncodableValue& ValueOrNull(const EncodableValue* value) {
  static const EncodableValue kNullValue;
  return value ? *value : kNullValue;
}

using CodecCache = std::map<const StandardCodecSerializer*,
                            std::unique_ptr<StandardMethodCodec>>;

// Never destroyed: codec references handed out stay valid until the process
// ends, whatever order static objects are torn down in.
CodecCache& Cache() {
  static auto* cache = new CodecCache();
  return *cache;
}

// Apart from the small message path, whose frame it would otherwise
// enlarge by the staging area.
[[gnu::noinline]] std::unique_ptr<std::vector<uint8_t>> EncodeCallInParts(
    const StandardCodecSerializer& serializer, const std::string& name,
    const EncodableValue& arguments) {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(message.get());
  if (internal::BufferEncoder::Serves(serializer, stream)) {
    // The whole call in one pass, the name without a copy.
    internal::BufferEncoder encoder(&stream);
    encoder.Expect(name.size() + internal::BufferEncoder::GuessSize(arguments));
    encoder.WriteString(name);
    encoder.Write(arguments);
    encoder.Flush();
    return message;
  }
  serializer.WriteValue(EncodableValue(name), &stream);
  serializer.WriteValue(arguments, &stream);
  return message;
}

}  // namespace

const StandardMethodCodec& StandardMethodCodec::Instance(
    const StandardCodecSerializer* serializer) {
  if (serializer == nullptr) {
    // The channels' codec: looked up once, not for every message.
    static const StandardMethodCodec& shared =
        Instance(&StandardCodecSerializer::Instance());
    return shared;
  }
  CodecCache& cache = Cache();
  auto it = cache.find(serializer);
  if (it == cache.end()) {
    // The constructor is private, so make_unique cannot reach it.
    it = cache
             .emplace(serializer, std::unique_ptr<StandardMethodCodec>(
                                      new StandardMethodCodec(serializer)))
             .first;
  }
  return *it->second;
}

StandardMethodCodec::StandardMethodCodec(
    const StandardCodecSerializer* serializer)
    : serializer_(serializer),
      small_messages_(internal::BufferEncoder::Serves(*serializer)) {}

StandardMethodCodec::~StandardMethodCodec() = default;

std::unique_ptr<MethodCall<EncodableValue>> StandardMethodCodec::DecodeCall(
    const uint8_t* message, size_t message_size) const {
  ByteBufferStreamReader stream(message, message_size);
  EncodableValue name = serializer_->ReadValue(&stream);
  const std::string* method_name = std::get_if<std::string>(&name);
  if (method_name == nullptr) {
    std::cerr << "Invalid method call; method name is not a string."
              << std::endl;
    return nullptr;
  }
  // A decoded call always carries an arguments value, null included.
  auto arguments =
      std::make_unique<EncodableValue>(serializer_->ReadValue(&stream));
  return std::make_unique<MethodCall<EncodableValue>>(*method_name,
                                                      std::move(arguments));
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeCall(
    const MethodCall<EncodableValue>& call) const {
  const EncodableValue& arguments = ValueOrNull(call.Arguments());
  if (small_messages_) {
    if (auto message =
            internal::SmallMessage::Call(call.MethodName(), arguments)) {
      return message;
    }
  }
  return EncodeCallInParts(*serializer_, call.MethodName(), arguments);
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeSuccess(
    const EncodableValue* result) const {
  const EncodableValue& value = ValueOrNull(result);
  if (small_messages_) {
    if (auto message =
            internal::SmallMessage::Envelope(kSuccessEnvelope, value)) {
      return message;
    }
  }
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(message.get());
  if (internal::BufferEncoder::Serves(*serializer_, stream)) {
    internal::BufferEncoder encoder(&stream);
    encoder.Expect(1 + internal::BufferEncoder::GuessSize(value));
    encoder.WriteByte(kSuccessEnvelope);
    encoder.Write(value);
    encoder.Flush();
    return message;
  }
  stream.WriteByte(kSuccessEnvelope);
  serializer_->WriteValue(value, &stream);
  return message;
}

std::unique_ptr<std::vector<uint8_t>> StandardMethodCodec::EncodeError(
    const std::string& code, const std::string& message,
    const EncodableValue* details) const {
  auto envelope = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter stream(envelope.get());
  const EncodableValue& more = ValueOrNull(details);
  if (internal::BufferEncoder::Serves(*serializer_, stream)) {
    internal::BufferEncoder encoder(&stream);
    encoder.Expect(1 + code.size() + message.size() +
                   internal::BufferEncoder::GuessSize(more));
    encoder.WriteByte(kErrorEnvelope);
    encoder.WriteString(code);
    if (message.empty()) {
      encoder.Write(EncodableValue());
    } else {
      encoder.WriteString(message);
    }
    encoder.Write(more);
    encoder.Flush();
    return envelope;
  }
  stream.WriteByte(kErrorEnvelope);
  serializer_->WriteValue(EncodableValue(code), &stream);
  serializer_->WriteValue(
      message.empty() ? EncodableValue() : EncodableValue(message), &stream);
  serializer_->WriteValue(more, &stream);
  return envelope;
}

bool StandardMethodCodec::DecodeResponse(
    const uint8_t* response, size_t response_size,
    MethodResult<EncodableValue>* result) const {
  ByteBufferStreamReader stream(response, response_size);
  const uint8_t kind = stream.ReadByte();
  if (kind == kSuccessEnvelope) {
    EncodableValue value = serializer_->ReadValue(&stream);
    if (value.IsNull()) {
      result->Success();
    } else {
      // Handed over: a result that keeps the value need not copy it.
      result->Success(std::move(value));
    }
    return true;
  }
  if (kind != kErrorEnvelope) {
    return false;
  }
  EncodableValue code = serializer_->ReadValue(&stream);
  EncodableValue message = serializer_->ReadValue(&stream);
  EncodableValue details = serializer_->ReadValue(&stream);
  // A code that is not text, or a message that is neither null nor text,
  // is a malformed envelope: refused here rather than let a variant-access
  // error escape into the embedding's reply callback.
  const std::string* code_text = std::get_if<std::string>(&code);
  const std::string* message_text = std::get_if<std::string>(&message);
  if (code_text == nullptr || (message_text == nullptr && !message.IsNull())) {
    return false;
  }
  const std::string empty;
  const std::string& message_or_empty = message_text ? *message_text : empty;
  if (details.IsNull()) {
    result->Error(*code_text, message_or_empty);
  } else {
    result->Error(*code_text, message_or_empty, details);
  }
  return true;
}

}  // namespace flutter
