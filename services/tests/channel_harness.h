// Drives service channels the way the engine does: an encoded call goes in
// through the embedding's messenger functions (the recording fake), the
// encoded answer comes out and is decoded for the test.
#ifndef SERVICES_TESTS_CHANNEL_HARNESS_H_
#define SERVICES_TESTS_CHANNEL_HARNESS_H_

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "client/binary_messenger_impl.h"
#include "client/encodable_value.h"
#include "client/testing/fake_messenger.h"
#include "services/service_helpers.h"

namespace orvalin::testing {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

// One decoded answer.
struct Answer {
  enum class Kind { kNone, kSuccess, kError, kNotImplemented };
  Kind kind = Kind::kNone;
  EncodableValue value;  // the success value (null without one)
  std::string code;
  std::string message;
  bool has_details = false;
};

class ChannelHarness {
 public:
  ChannelHarness() : messenger_(fake_.ref()) {}

  flutter::BinaryMessenger* messenger() { return &messenger_; }
  flutter::testing::FakeMessenger& fake() { return fake_; }

  // Sends an encoded call (no arguments for nullopt); the token identifies
  // its answer.
  uint64_t Send(const std::string& channel, const std::string& method,
                const std::optional<EncodableValue>& arguments = {});
  // The answer given so far to the message behind |token|; fails the test
  // when it was answered more than once.
  Answer AnswerFor(uint64_t token) const;
  // Sends and returns the answer given before the handler returned.
  Answer Call(const std::string& channel, const std::string& method,
              const std::optional<EncodableValue>& arguments = {}) {
    return AnswerFor(Send(channel, method, arguments));
  }

  // The arguments of every "authCallback" pushed towards the Dart side.
  std::vector<EncodableValue> PushedAuthCallbacks() const;

 private:
  flutter::testing::FakeMessenger fake_;
  flutter::BinaryMessengerImpl messenger_;
};

void ExpectSuccess(const Answer& answer,
                   const EncodableValue& value = EncodableValue());
// An error answer with exactly that code and message and no details.
void ExpectError(const Answer& answer, const ServiceError& error);
// Calls |method| with each of |shapes| and expects |error| for every one.
void ExpectErrorForEach(
    ChannelHarness* harness, const std::string& channel,
    const std::string& method,
    const std::vector<std::optional<EncodableValue>>& shapes,
    const ServiceError& error);

// A map argument from string keys.
EncodableValue Map(
    std::initializer_list<std::pair<const char*, EncodableValue>> entries);

}  // namespace orvalin::testing

#endif  // SERVICES_TESTS_CHANNEL_HARNESS_H_
