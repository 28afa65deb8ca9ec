// Encode and decode throughput of the standard codecs for the payload shapes
// the channels carry, each beside references measured in the same run: a
// memcpy of the same number of bytes, and msgpack-cxx packing the same
// logical data into a byte vector handed over the way our encoders hand
// theirs over (the like-for-like encode figure) and into its own buffer,
// unpacking it into its own zone-allocated objects, and unpacking and
// converting it into the standard containers our decoder produces (the
// like-for-like decode figure).
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <msgpack.hpp>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "client/byte_streams.h"
#include "client/encodable_value.h"
#include "client/method_call.h"
#include "client/standard_codec.h"
#include "client/standard_method_codec.h"

// msgpack-cxx converts an object into a value of our model the way our
// decoder builds one: standard strings, vectors and maps in the variant.
namespace msgpack {
MSGPACK_API_VERSION_NAMESPACE(MSGPACK_DEFAULT_API_NS) {
  namespace adaptor {

  template <>
  struct convert<flutter::EncodableValue> {
    const msgpack::object& operator()(const msgpack::object& object,
                                      flutter::EncodableValue& value) const {
      using flutter::EncodableValue;
      switch (object.type) {
        case msgpack::type::NIL:
          value = EncodableValue();
          break;
        case msgpack::type::BOOLEAN:
          value = EncodableValue(object.via.boolean);
          break;
        case msgpack::type::POSITIVE_INTEGER:
        case msgpack::type::NEGATIVE_INTEGER: {
          const int64_t number = object.as<int64_t>();
          if (number >= std::numeric_limits<int32_t>::min() &&
              number <= std::numeric_limits<int32_t>::max()) {
            value = EncodableValue(static_cast<int32_t>(number));
          } else {
            value = EncodableValue(number);
          }
          break;
        }
        case msgpack::type::FLOAT32:
        case msgpack::type::FLOAT64:
          value = EncodableValue(object.via.f64);
          break;
        case msgpack::type::STR:
          value = EncodableValue(
              std::string(object.via.str.ptr, object.via.str.size));
          break;
        case msgpack::type::BIN:
          value = EncodableValue(object.as<std::vector<uint8_t>>());
          break;
        case msgpack::type::ARRAY:
          value = EncodableValue(object.as<flutter::EncodableList>());
          break;
        case msgpack::type::MAP:
          value = EncodableValue(object.as<flutter::EncodableMap>());
          break;
        default:
          throw msgpack::type_error();
      }
      return object;
    }
  };

  }  // namespace adaptor
}  // MSGPACK_API_VERSION_NAMESPACE(MSGPACK_DEFAULT_API_NS)
}  // namespace msgpack

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::StandardCodecSerializer;
using flutter::StandardMethodCodec;

// ------------------------------------------------------------- payloads

EncodableValue ByteList() {
  std::vector<uint8_t> bytes(10 << 20);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
  return EncodableValue(std::move(bytes));
}

EncodableValue DoubleList() {
  std::vector<double> numbers(1 << 20);
  for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = i * 0.5;
  return EncodableValue(std::move(numbers));
}

// Like the keychain's entries: short keys and short values.
EncodableValue StringMap() {
  EncodableMap map;
  for (int i = 0; i < 10000; ++i) {
    char key[16];
    std::snprintf(key, sizeof(key), "key%05d", i);
    map[EncodableValue(key)] = EncodableValue("value " + std::to_string(i));
  }
  return EncodableValue(std::move(map));
}

// 10k lists of 10 small values of mixed kinds: 100k leaves in all.
EncodableValue NestedList() {
  EncodableList outer;
  outer.reserve(10000);
  for (int i = 0; i < 10000; ++i) {
    outer.push_back(EncodableList{
        EncodableValue(), EncodableValue(i % 2 == 0),
        EncodableValue(static_cast<int32_t>(i)),
        EncodableValue(static_cast<int64_t>(i) << 33), EncodableValue(i * 0.25),
        EncodableValue("item"), EncodableValue(std::to_string(i)),
        EncodableValue(static_cast<int32_t>(-i)), EncodableValue(true),
        EncodableValue("x")});
  }
  return EncodableValue(std::move(outer));
}

const char kReturnUrl[] =
    "orvalinai://login-callback?code=4f1c2a9e-7d3b-4c55-9a1e-2b6f0d8c3e71"
    "&state=b8e2f0a4";

// ------------------------------------------------- the codec under test

// The result type every encoder of ours hands over, to the channels, the
// messenger and plugin code alike.
using OwnedBytes = std::unique_ptr<std::vector<uint8_t>>;

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> message;
  ByteBufferStreamWriter writer(&message);
  StandardCodecSerializer::Instance().WriteValue(value, &writer);
  return message;
}

// What a channel hands over: the same bytes in an owned vector.
OwnedBytes EncodeOwned(const EncodableValue& value) {
  auto message = std::make_unique<std::vector<uint8_t>>();
  ByteBufferStreamWriter writer(message.get());
  StandardCodecSerializer::Instance().WriteValue(value, &writer);
  return message;
}

EncodableValue Decode(const std::vector<uint8_t>& message) {
  ByteBufferStreamReader reader(message.data(), message.size());
  return StandardCodecSerializer::Instance().ReadValue(&reader);
}

// ------------------------------------------------------------- msgpack

// A stream for msgpack-cxx's packer that appends to a byte vector owned
// through a unique_ptr, so msgpack's output comes out as that same result
// type. It starts with the room msgpack's own buffer starts with, and grows
// as a vector grows.
class OwnedVectorStream {
 public:
  OwnedVectorStream() : bytes_(std::make_unique<std::vector<uint8_t>>()) {
    bytes_->reserve(MSGPACK_SBUFFER_INIT_SIZE);
  }

  void write(const char* data, size_t size) {
    bytes_->insert(bytes_->end(), data, data + size);
  }

  OwnedBytes Release() { return std::move(bytes_); }

 private:
  OwnedBytes bytes_;
};

// Packs the same logical data into msgpack's nearest types: raw bytes as
// bin, typed lists as arrays of numbers, strings as str.
template <typename Stream>
class MsgpackWriter {
 public:
  using Packer = msgpack::packer<Stream>;

  explicit MsgpackWriter(Packer* packer) : packer_(packer) {}

  void operator()(const std::monostate&) const { packer_->pack_nil(); }
  void operator()(bool flag) const { packer_->pack(flag); }
  void operator()(int32_t number) const { packer_->pack(number); }
  void operator()(int64_t number) const { packer_->pack(number); }
  void operator()(double number) const { packer_->pack(number); }
  void operator()(const std::string& text) const {
    packer_->pack_str(static_cast<uint32_t>(text.size()));
    packer_->pack_str_body(text.data(), static_cast<uint32_t>(text.size()));
  }
  void operator()(const std::vector<uint8_t>& bytes) const {
    packer_->pack_bin(static_cast<uint32_t>(bytes.size()));
    packer_->pack_bin_body(reinterpret_cast<const char*>(bytes.data()),
                           static_cast<uint32_t>(bytes.size()));
  }
  template <typename T>
  void operator()(const std::vector<T>& list) const {
    packer_->pack_array(static_cast<uint32_t>(list.size()));
    for (const T& element : list) packer_->pack(element);
  }
  void operator()(const EncodableList& list) const {
    packer_->pack_array(static_cast<uint32_t>(list.size()));
    for (const EncodableValue& element : list) Write(element);
  }
  void operator()(const EncodableMap& map) const {
    packer_->pack_map(static_cast<uint32_t>(map.size()));
    for (const auto& [key, value] : map) {
      Write(key);
      Write(value);
    }
  }
  void operator()(const flutter::CustomValue&) const { packer_->pack_nil(); }

  void Write(const EncodableValue& value) const {
    std::visit(*this, static_cast<const EncodableValue::Variant&>(value));
  }

 private:
  Packer* packer_;
};

msgpack::sbuffer MsgpackPack(const EncodableValue& value) {
  msgpack::sbuffer buffer;
  msgpack::packer<msgpack::sbuffer> packer(&buffer);
  MsgpackWriter<msgpack::sbuffer>(&packer).Write(value);
  return buffer;
}

OwnedBytes MsgpackPackOwned(const EncodableValue& value) {
  OwnedVectorStream stream;
  msgpack::packer<OwnedVectorStream> packer(&stream);
  MsgpackWriter<OwnedVectorStream>(&packer).Write(value);
  return stream.Release();
}

// Deep inputs and big arrays are within what the benchmark sends; the
// default limits would refuse a 10 MiB bin.
msgpack::unpack_limit GenerousLimit() {
  return msgpack::unpack_limit(0xffffffff, 0xffffffff, 0xffffffff, 0xffffffff,
                               0xffffffff, 1000);
}

// What each shape's unpacked object is converted into: the containers our
// decoder produces for it.
using Bytes = std::vector<uint8_t>;
using Doubles = std::vector<double>;
using StringPairs = std::map<std::string, std::string>;
using Rows = std::vector<EncodableList>;

// ---------------------------------------------------------- benchmarks

using Make = EncodableValue (*)();
using Convert = void (*)(const msgpack::object&);

template <typename T>
void ConvertTo(const msgpack::object& object) {
  T converted = object.as<T>();
  benchmark::DoNotOptimize(&converted);
}

void SetBytes(benchmark::State& state, size_t size) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
  state.counters["payload_bytes"] = static_cast<double>(size);
}

void BM_Encode(benchmark::State& state, Make make) {
  const EncodableValue value = make();
  const size_t size = Encode(value).size();
  for (auto _ : state) {
    OwnedBytes message = EncodeOwned(value);
    benchmark::DoNotOptimize(message->data());
  }
  SetBytes(state, size);
}

void BM_Decode(benchmark::State& state, Make make) {
  const std::vector<uint8_t> message = Encode(make());
  for (auto _ : state) {
    EncodableValue value = Decode(message);
    benchmark::DoNotOptimize(&value);
  }
  SetBytes(state, message.size());
}

// The floor: the encoded bytes copied into a buffer that already exists.
void BM_Memcpy(benchmark::State& state, Make make) {
  const std::vector<uint8_t> message = Encode(make());
  std::vector<uint8_t> copy(message.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), message.data(), message.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, message.size());
}

// The floor for an operation that hands back a new buffer, as both encode
// and decode do: allocate, then copy.
void BM_MemcpyNew(benchmark::State& state, Make make) {
  const std::vector<uint8_t> message = Encode(make());
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[message.size()]);
    std::memcpy(copy.get(), message.data(), message.size());
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  SetBytes(state, message.size());
}

void BM_MsgpackPack(benchmark::State& state, Make make) {
  const EncodableValue value = make();
  const size_t size = MsgpackPack(value).size();
  for (auto _ : state) {
    msgpack::sbuffer buffer = MsgpackPack(value);
    benchmark::DoNotOptimize(buffer.data());
  }
  SetBytes(state, size);
}

// The encode target: msgpack-cxx handing over the result type ours does.
void BM_MsgpackPackOwned(benchmark::State& state, Make make) {
  const EncodableValue value = make();
  const size_t size = MsgpackPackOwned(value)->size();
  for (auto _ : state) {
    OwnedBytes message = MsgpackPackOwned(value);
    benchmark::DoNotOptimize(message->data());
  }
  SetBytes(state, size);
}

void BM_MsgpackUnpack(benchmark::State& state, Make make) {
  const msgpack::sbuffer buffer = MsgpackPack(make());
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(
        buffer.data(), buffer.size(), nullptr, nullptr, GenerousLimit());
    benchmark::DoNotOptimize(handle.get());
  }
  SetBytes(state, buffer.size());
}

// Unpacking and converting: the same output as BM_Decode.
void BM_MsgpackConvert(benchmark::State& state, Make make, Convert convert) {
  const msgpack::sbuffer buffer = MsgpackPack(make());
  for (auto _ : state) {
    msgpack::object_handle handle = msgpack::unpack(
        buffer.data(), buffer.size(), nullptr, nullptr, GenerousLimit());
    convert(handle.get());
  }
  SetBytes(state, buffer.size());
}

#define ORVALIN_SHAPE(name, make, target, unit)                        \
  BENCHMARK_CAPTURE(BM_Encode, name, make)->Unit(unit);                \
  BENCHMARK_CAPTURE(BM_Decode, name, make)->Unit(unit);                \
  BENCHMARK_CAPTURE(BM_Memcpy, name, make)->Unit(unit);                \
  BENCHMARK_CAPTURE(BM_MemcpyNew, name, make)->Unit(unit);             \
  BENCHMARK_CAPTURE(BM_MsgpackPack, name, make)->Unit(unit);           \
  BENCHMARK_CAPTURE(BM_MsgpackPackOwned, name, make)->Unit(unit);      \
  BENCHMARK_CAPTURE(BM_MsgpackUnpack, name, make)->Unit(unit);         \
  BENCHMARK_CAPTURE(BM_MsgpackConvert, name, make, &ConvertTo<target>) \
      ->Unit(unit)

ORVALIN_SHAPE(ByteList10MiB, ByteList, Bytes, benchmark::kMillisecond);
ORVALIN_SHAPE(DoubleList1M, DoubleList, Doubles, benchmark::kMillisecond);
ORVALIN_SHAPE(StringMap10k, StringMap, StringPairs, benchmark::kMicrosecond);
ORVALIN_SHAPE(NestedList100k, NestedList, Rows, benchmark::kMicrosecond);

// ------------------------------------------- the "authCallback" method call

const StandardMethodCodec& MethodCodec() {
  return StandardMethodCodec::Instance(nullptr);
}

std::unique_ptr<MethodCall<EncodableValue>> AuthCallbackCall() {
  return std::make_unique<MethodCall<EncodableValue>>(
      "authCallback", std::make_unique<EncodableValue>(kReturnUrl));
}

std::unique_ptr<std::vector<uint8_t>> EncodeAuthCallback() {
  return MethodCodec().EncodeCall(*AuthCallbackCall());
}

msgpack::sbuffer MsgpackAuthCallback() {
  return MsgpackPack(EncodableValue(EncodableList{
      EncodableValue("authCallback"), EncodableValue(kReturnUrl)}));
}

// Like the other shapes, both sides encode data that already exists.
void BM_Encode_AuthCallback(benchmark::State& state) {
  const std::unique_ptr<MethodCall<EncodableValue>> call = AuthCallbackCall();
  // A channel holds its codec; it does not look it up for every message.
  const StandardMethodCodec& codec = MethodCodec();
  const size_t size = codec.EncodeCall(*call)->size();
  for (auto _ : state) {
    std::unique_ptr<std::vector<uint8_t>> message = codec.EncodeCall(*call);
    benchmark::DoNotOptimize(message->data());
  }
  SetBytes(state, size);
}

void BM_Decode_AuthCallback(benchmark::State& state) {
  const std::unique_ptr<std::vector<uint8_t>> message = EncodeAuthCallback();
  for (auto _ : state) {
    auto call = MethodCodec().DecodeCall(message->data(), message->size());
    benchmark::DoNotOptimize(call.get());
  }
  SetBytes(state, message->size());
}

void BM_Memcpy_AuthCallback(benchmark::State& state) {
  const std::unique_ptr<std::vector<uint8_t>> message = EncodeAuthCallback();
  std::vector<uint8_t> copy(message->size());
  for (auto _ : state) {
    std::memcpy(copy.data(), message->data(), message->size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  SetBytes(state, message->size());
}

void BM_MemcpyNew_AuthCallback(benchmark::State& state) {
  const std::unique_ptr<std::vector<uint8_t>> message = EncodeAuthCallback();
  for (auto _ : state) {
    std::unique_ptr<uint8_t[]> copy(new uint8_t[message->size()]);
    std::memcpy(copy.get(), message->data(), message->size());
    benchmark::DoNotOptimize(copy.get());
    benchmark::ClobberMemory();
  }
  SetBytes(state, message->size());
}

void BM_MsgpackPack_AuthCallback(benchmark::State& state) {
  const size_t size = MsgpackAuthCallback().size();
  const std::string name = "authCallback";
  const std::string url = kReturnUrl;
  for (auto _ : state) {
    // The codec's work: name and argument into one new buffer.
    msgpack::sbuffer buffer;
    msgpack::packer<msgpack::sbuffer> packer(&buffer);
    packer.pack_array(2);
    packer.pack(name);
    packer.pack(url);
    benchmark::DoNotOptimize(buffer.data());
  }
  SetBytes(state, size);
}

// The same, handed over as the result type EncodeCall hands over.
void BM_MsgpackPackOwned_AuthCallback(benchmark::State& state) {
  const size_t size = MsgpackAuthCallback().size();
  const std::string name = "authCallback";
  const std::string url = kReturnUrl;
  for (auto _ : state) {
    OwnedVectorStream stream;
    msgpack::packer<OwnedVectorStream> packer(&stream);
    packer.pack_array(2);
    packer.pack(name);
    packer.pack(url);
    OwnedBytes message = stream.Release();
    benchmark::DoNotOptimize(message->data());
  }
  SetBytes(state, size);
}

void BM_MsgpackUnpack_AuthCallback(benchmark::State& state) {
  const msgpack::sbuffer buffer = MsgpackAuthCallback();
  for (auto _ : state) {
    msgpack::object_handle handle =
        msgpack::unpack(buffer.data(), buffer.size());
    benchmark::DoNotOptimize(handle.get());
  }
  SetBytes(state, buffer.size());
}

// The decoder's output for a call: the method name and its argument.
void BM_MsgpackConvert_AuthCallback(benchmark::State& state) {
  const msgpack::sbuffer buffer = MsgpackAuthCallback();
  for (auto _ : state) {
    msgpack::object_handle handle =
        msgpack::unpack(buffer.data(), buffer.size());
    auto call = handle.get().as<std::pair<std::string, EncodableValue>>();
    benchmark::DoNotOptimize(&call);
  }
  SetBytes(state, buffer.size());
}

BENCHMARK(BM_Encode_AuthCallback)->Name("BM_Encode/AuthCallback");
BENCHMARK(BM_Decode_AuthCallback)->Name("BM_Decode/AuthCallback");
BENCHMARK(BM_Memcpy_AuthCallback)->Name("BM_Memcpy/AuthCallback");
BENCHMARK(BM_MemcpyNew_AuthCallback)->Name("BM_MemcpyNew/AuthCallback");
BENCHMARK(BM_MsgpackPack_AuthCallback)->Name("BM_MsgpackPack/AuthCallback");
BENCHMARK(BM_MsgpackPackOwned_AuthCallback)
    ->Name("BM_MsgpackPackOwned/AuthCallback");
BENCHMARK(BM_MsgpackUnpack_AuthCallback)->Name("BM_MsgpackUnpack/AuthCallback");
BENCHMARK(BM_MsgpackConvert_AuthCallback)
    ->Name("BM_MsgpackConvert/AuthCallback");

}  // namespace
