#include "services/tests/channel_harness.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <system_error>
#include <variant>

#include "client/method_call.h"
#include "client/method_result.h"
#include "client/standard_method_codec.h"
#include "services/service_helpers.h"

namespace flutter {

void PrintTo(const EncodableValue& value, std::ostream* out) {
  if (value.IsNull()) {
    *out << "null";
  } else if (const bool* b = std::get_if<bool>(&value)) {
    *out << (*b ? "true" : "false");
  } else if (const int32_t* i = std::get_if<int32_t>(&value)) {
    *out << *i << "i32";
  } else if (const int64_t* l = std::get_if<int64_t>(&value)) {
    *out << *l << "i64";
  } else if (const double* d = std::get_if<double>(&value)) {
    *out << *d;
  } else if (const std::string* s = std::get_if<std::string>(&value)) {
    *out << '"' << *s << '"';
  } else if (const auto* bytes = std::get_if<std::vector<uint8_t>>(&value)) {
    *out << "bytes[" << bytes->size() << "]";
  } else if (const EncodableList* list = std::get_if<EncodableList>(&value)) {
    *out << "[";
    for (const EncodableValue& element : *list) {
      PrintTo(element, out);
      *out << ",";
    }
    *out << "]";
  } else if (const EncodableMap* map = std::get_if<EncodableMap>(&value)) {
    *out << "{";
    for (const auto& [key, entry] : *map) {
      PrintTo(key, out);
      *out << ":";
      PrintTo(entry, out);
      *out << ",";
    }
    *out << "}";
  } else {
    *out << "<alternative " << value.index() << ">";
  }
}

}  // namespace flutter

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

const flutter::StandardMethodCodec& Codec() {
  return flutter::StandardMethodCodec::Instance();
}

}  // namespace

void PrintTo(const Answer& answer, std::ostream* out) {
  switch (answer.kind) {
    case Answer::Kind::kNone:
      *out << "no answer";
      break;
    case Answer::Kind::kSuccess:
      *out << "Success(";
      flutter::PrintTo(answer.value, out);
      *out << ")";
      break;
    case Answer::Kind::kError:
      *out << "Error(" << answer.code << ", " << answer.message
           << (answer.has_details ? ", details" : "") << ")";
      break;
    case Answer::Kind::kNotImplemented:
      *out << "NotImplemented";
      break;
  }
}

Answer DecodeAnswer(const std::vector<uint8_t>& response) {
  Answer answer;
  if (response.empty()) {
    answer.kind = Answer::Kind::kNotImplemented;
    return answer;
  }
  RecordingResult result(&answer);
  EXPECT_TRUE(Codec().DecodeResponse(response.data(), response.size(), &result))
      << "undecodable answer";
  return answer;
}

ChannelHarness::ChannelHarness() : messenger_(fake_.ref()) {}

uint64_t ChannelHarness::Send(const std::string& channel,
                              const std::string& method,
                              std::unique_ptr<EncodableValue> arguments) {
  flutter::MethodCall<EncodableValue> call(method, std::move(arguments));
  std::unique_ptr<std::vector<uint8_t>> bytes = Codec().EncodeCall(call);
  return SendRaw(channel, *bytes);
}

uint64_t ChannelHarness::SendRaw(const std::string& channel,
                                 const std::vector<uint8_t>& bytes) {
  const uint64_t token = fake_.Deliver(channel, bytes);
  EXPECT_NE(token, 0u) << "no handler on " << channel;
  return token;
}

Answer ChannelHarness::AnswerFor(uint64_t token) const {
  EXPECT_LE(fake_.ResponseCount(token), 1) << "answered more than once";
  std::optional<std::vector<uint8_t>> response = fake_.ResponseFor(token);
  if (!response) {
    return Answer();
  }
  return DecodeAnswer(*response);
}

Answer ChannelHarness::Call(const std::string& channel,
                            const std::string& method,
                            std::unique_ptr<EncodableValue> arguments) {
  return AnswerFor(Send(channel, method, std::move(arguments)));
}

Answer ChannelHarness::Call(const std::string& channel,
                            const std::string& method,
                            EncodableValue arguments) {
  return Call(channel, method,
              std::make_unique<EncodableValue>(std::move(arguments)));
}

std::vector<EncodableValue> ChannelHarness::PushedAuthCallbacks() const {
  std::vector<EncodableValue> pushed;
  for (const flutter::testing::SentMessage& message : fake_.sent()) {
    if (message.channel != "orvalin.ai/auth_callback") {
      continue;
    }
    std::unique_ptr<flutter::MethodCall<EncodableValue>> call =
        Codec().DecodeCall(message.bytes.data(), message.bytes.size());
    EXPECT_NE(call, nullptr) << "undecodable push";
    EXPECT_FALSE(message.with_reply) << "a push must not await an answer";
    if (call && call->MethodName() == "authCallback") {
      pushed.push_back(call->Arguments() ? *call->Arguments()
                                         : EncodableValue());
    }
  }
  return pushed;
}

void ExpectSuccess(const Answer& answer, const EncodableValue& value) {
  EXPECT_EQ(answer.kind, Answer::Kind::kSuccess)
      << ::testing::PrintToString(answer);
  EXPECT_EQ(answer.value, value);
}

void ExpectError(const Answer& answer, const std::string& code,
                 const std::string& message) {
  EXPECT_EQ(answer.kind, Answer::Kind::kError)
      << ::testing::PrintToString(answer);
  EXPECT_EQ(answer.code, code);
  EXPECT_EQ(answer.message, message);
  EXPECT_FALSE(answer.has_details);
}

void ExpectErrorForEach(
    ChannelHarness* harness, const std::string& channel,
    const std::string& method,
    const std::vector<std::optional<EncodableValue>>& shapes,
    const std::string& code, const std::string& message) {
  for (const std::optional<EncodableValue>& shape : shapes) {
    SCOPED_TRACE(method + " with " +
                 (shape ? ::testing::PrintToString(*shape) : "no arguments"));
    ExpectError(harness->Call(
                    channel, method,
                    shape ? std::make_unique<EncodableValue>(*shape) : nullptr),
                code, message);
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

TempDir::TempDir() {
  static int counter = 0;
  path_ = (std::filesystem::temp_directory_path() /
           (L"orvalin-services-" + std::to_wstring(GetCurrentProcessId()) +
            L"-" + std::to_wstring(++counter)))
              .wstring();
  std::filesystem::create_directories(path_);
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::wstring TempDir::Write(const std::wstring& name,
                            const std::vector<uint8_t>& bytes) const {
  const std::wstring full = path_ + L"\\" + name;
  std::ofstream file(std::filesystem::path(full), std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  EXPECT_TRUE(file.good()) << "cannot write " << Utf8(full);
  return full;
}

std::string Utf8(const std::wstring& wide) { return WideToUtf8(wide); }

}  // namespace orvalin::testing
