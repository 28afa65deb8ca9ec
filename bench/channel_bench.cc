// Method-call round trips in process: a call is encoded, delivered through
// the recording fake of the embedding to BinaryMessengerImpl, decoded by a
// MethodChannel, answered by its handler, and the reply decoded again, as
// the Dart side would. Reported as round trips per second.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "client/binary_messenger_impl.h"
#include "client/encodable_value.h"
#include "client/method_call.h"
#include "client/method_channel.h"
#include "client/method_result.h"
#include "client/standard_method_codec.h"
#include "client/testing/fake_messenger.h"

namespace {

using flutter::EncodableValue;
using flutter::MethodCall;
using flutter::MethodResult;
using flutter::StandardMethodCodec;

constexpr char kChannel[] = "orvalin.bench/round_trip";

// Keeps the decoded answer, as a caller of InvokeMethod would.
class KeepingResult : public MethodResult<EncodableValue> {
 public:
  EncodableValue value;
  bool succeeded = false;

 protected:
  void HandleSuccess(const EncodableValue* result) override {
    succeeded = true;
    if (result != nullptr) value = *result;
  }
  void HandleSuccessOwned(EncodableValue&& result) override {
    succeeded = true;
    value = std::move(result);
  }
  void HandleError(const std::string&, const std::string&,
                   const EncodableValue*) override {}
  void HandleNotImplemented() override {}
};

// One channel whose handler answers every call with |answer|.
class RoundTrip {
 public:
  explicit RoundTrip(EncodableValue answer)
      : answer_(std::move(answer)), messenger_(fake_.ref()) {
    channel_ = std::make_unique<flutter::MethodChannel<EncodableValue>>(
        &messenger_, kChannel, &Codec());
    channel_->SetCallHandler(
        [this](const MethodCall<EncodableValue>& call,
               std::unique_ptr<MethodResult<EncodableValue>> result) {
          benchmark::DoNotOptimize(call.Arguments());
          result->Success(answer_);
        });
  }

  // One full round trip; false when no success came back.
  bool Run(const std::string& method, const EncodableValue& arguments) {
    MethodCall<EncodableValue> call(
        method, std::make_unique<EncodableValue>(arguments));
    std::unique_ptr<std::vector<uint8_t>> message = Codec().EncodeCall(call);
    const uint64_t token = fake_.Deliver(kChannel, *message);
    auto reply = fake_.responses_.find(token);
    if (reply == fake_.responses_.end() || reply->second.size() != 1) {
      return false;
    }
    KeepingResult result;
    const std::vector<uint8_t>& bytes = reply->second.front();
    const bool decoded =
        Codec().DecodeResponse(bytes.data(), bytes.size(), &result);
    // The fake records every answer; drop it so memory stays flat.
    fake_.responses_.erase(reply);
    benchmark::DoNotOptimize(&result.value);
    return decoded && result.succeeded;
  }

 private:
  static const StandardMethodCodec& Codec() {
    return StandardMethodCodec::Instance(nullptr);
  }

  EncodableValue answer_;
  flutter::testing::FakeMessenger fake_;
  flutter::BinaryMessengerImpl messenger_;
  std::unique_ptr<flutter::MethodChannel<EncodableValue>> channel_;
};

void RunRoundTrips(benchmark::State& state, EncodableValue answer,
                   const std::string& method, const EncodableValue& arguments,
                   size_t answer_bytes) {
  RoundTrip round_trip(std::move(answer));
  for (auto _ : state) {
    if (!round_trip.Run(method, arguments)) {
      state.SkipWithError("the round trip did not answer with a success");
      return;
    }
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetBytesProcessed(
      static_cast<int64_t>(state.iterations() * answer_bytes));
}

// A keychain-sized exchange: a short key in, a short text out.
void BM_RoundTrip_SmallCall(benchmark::State& state) {
  flutter::EncodableMap arguments{
      {EncodableValue("key"), EncodableValue("session.refresh_token")}};
  RunRoundTrips(state, EncodableValue("eyJhbGciOiJIUzI1NiJ9.c2Vzc2lvbg"),
                "read", EncodableValue(std::move(arguments)), 32);
}

// A profile photo coming back: a 10 MiB byte list.
void BM_RoundTrip_ByteList10MiB(benchmark::State& state) {
  std::vector<uint8_t> photo(10 << 20);
  for (size_t i = 0; i < photo.size(); ++i) photo[i] = static_cast<uint8_t>(i);
  RunRoundTrips(state, EncodableValue(std::move(photo)), "pickProfileImage",
                EncodableValue(), 10 << 20);
}

BENCHMARK(BM_RoundTrip_SmallCall);
BENCHMARK(BM_RoundTrip_ByteList10MiB)->Unit(benchmark::kMillisecond);

}  // namespace
