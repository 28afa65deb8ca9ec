// Encode and decode throughput of the standard message codec for large
// payloads, each beside a memcpy of the same number of bytes.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "client/byte_streams.h"
#include "client/encodable_value.h"
#include "client/standard_codec.h"

namespace {

using flutter::ByteBufferStreamReader;
using flutter::ByteBufferStreamWriter;
using flutter::EncodableMap;
using flutter::EncodableValue;
using flutter::StandardCodecSerializer;

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

EncodableValue StringMap() {
  EncodableMap map;
  for (int i = 0; i < 10000; ++i) {
    char key[16];
    std::snprintf(key, sizeof(key), "key%05d", i);
    map[EncodableValue(key)] = EncodableValue("value " + std::to_string(i));
  }
  return EncodableValue(std::move(map));
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> message;
  ByteBufferStreamWriter writer(&message);
  StandardCodecSerializer::Instance().WriteValue(value, &writer);
  return message;
}

void Encode(benchmark::State& state, EncodableValue (*make)()) {
  const EncodableValue value = make();
  const size_t size = Encode(value).size();
  for (auto _ : state) {
    std::vector<uint8_t> message = Encode(value);
    benchmark::DoNotOptimize(message.data());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * size));
}

void Decode(benchmark::State& state, EncodableValue (*make)()) {
  const std::vector<uint8_t> message = Encode(make());
  for (auto _ : state) {
    ByteBufferStreamReader reader(message.data(), message.size());
    EncodableValue value =
        StandardCodecSerializer::Instance().ReadValue(&reader);
    benchmark::DoNotOptimize(&value);
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * message.size()));
}

// The floor: copying the encoded bytes into a buffer that already exists.
void Memcpy(benchmark::State& state, EncodableValue (*make)()) {
  const std::vector<uint8_t> message = Encode(make());
  std::vector<uint8_t> copy(message.size());
  for (auto _ : state) {
    std::memcpy(copy.data(), message.data(), message.size());
    benchmark::DoNotOptimize(copy.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * message.size()));
}

BENCHMARK_CAPTURE(Encode, ByteList10MiB, ByteList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, ByteList10MiB, ByteList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Memcpy, ByteList10MiB, ByteList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, DoubleList1M, DoubleList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Decode, DoubleList1M, DoubleList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Memcpy, DoubleList1M, DoubleList)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Encode, StringMap10k, StringMap)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Decode, StringMap10k, StringMap)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(Memcpy, StringMap10k, StringMap)
    ->Unit(benchmark::kMicrosecond);

}  // namespace
