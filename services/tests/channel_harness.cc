#include "services/tests/channel_harness.h"

#include <gtest/gtest.h>

#include "client/method_call.h"
#include "client/method_result.h"
#include "client/standard_method_codec.h"

namespace orvalin::testing {
namespace {

class RecordingResult : public flutter::MethodResult<EncodableValue> {
 public:
  explicit RecordingResult(Answer* answer) : answer_(answer) {}

 protected:
  void HandleSuccess(const EncodableValue* value) override {
    answer_->kind = Answer::Kind::kSuccess;
    answer_->value = value != nullptr ? *value : EncodableValue();
  }
  void HandleError(const std::string& code, const std::string& message,
                   const EncodableValue* details) override {
    answer_->kind = Answer::Kind::kError;
    answer_->code = code;
    answer_->message = message;
    answer_->has_details = details != nullptr && !details->IsNull();
  }
  void HandleNotImplemented() override {
    answer_->kind = Answer::Kind::kNotImplemented;
  }

 private:
  Answer* answer_;
};

const flutter::StandardMethodCodec& kCodec =
    flutter::StandardMethodCodec::Instance();

}  // namespace

uint64_t ChannelHarness::Send(const std::string& channel,
                              const std::string& method,
                              const std::optional<EncodableValue>& arguments) {
  flutter::MethodCall<EncodableValue> call(
      method,
      arguments ? std::make_unique<EncodableValue>(*arguments) : nullptr);
  const uint64_t token = fake_.Deliver(channel, *kCodec.EncodeCall(call));
  EXPECT_NE(token, 0u) << "no handler on " << channel;
  return token;
}

Answer ChannelHarness::AnswerFor(uint64_t token) const {
  EXPECT_LE(fake_.ResponseCount(token), 1) << "answered more than once";
  std::optional<std::vector<uint8_t>> response = fake_.ResponseFor(token);
  Answer answer;
  if (!response) return answer;
  if (response->empty()) {
    answer.kind = Answer::Kind::kNotImplemented;
    return answer;
  }
  RecordingResult result(&answer);
  EXPECT_TRUE(
      kCodec.DecodeResponse(response->data(), response->size(), &result));
  return answer;
}

std::vector<EncodableValue> ChannelHarness::PushedAuthCallbacks() const {
  std::vector<EncodableValue> pushed;
  for (const flutter::testing::SentMessage& message : fake_.sent()) {
    auto call = kCodec.DecodeCall(message.bytes.data(), message.bytes.size());
    EXPECT_FALSE(message.with_reply) << "a push must not await an answer";
    if (message.channel == "orvalin.ai/auth_callback" && call &&
        call->MethodName() == "authCallback" && call->Arguments()) {
      pushed.push_back(*call->Arguments());
    }
  }
  return pushed;
}

void ExpectSuccess(const Answer& answer, const EncodableValue& value) {
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess) << answer.code;
  EXPECT_EQ(answer.value, value);
}

void ExpectError(const Answer& answer, const ServiceError& error) {
  EXPECT_EQ(answer.kind, Answer::Kind::kError);
  EXPECT_EQ(answer.code, error.code);
  EXPECT_EQ(answer.message, error.message);
  EXPECT_FALSE(answer.has_details);
}

void ExpectErrorForEach(
    ChannelHarness* harness, const std::string& channel,
    const std::string& method,
    const std::vector<std::optional<EncodableValue>>& shapes,
    const ServiceError& error) {
  for (const std::optional<EncodableValue>& shape : shapes) {
    ExpectError(harness->Call(channel, method, shape), error);
  }
}

EncodableValue Map(
    std::initializer_list<std::pair<const char*, EncodableValue>> entries) {
  EncodableMap map;
  for (const auto& [key, value] : entries) {
    map[EncodableValue(key)] = value;
  }
  return EncodableValue(std::move(map));
}

}  // namespace orvalin::testing
