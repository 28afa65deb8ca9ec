// What every service channel shares: argument lookup, text conversion and
// the way a service creates its channel and installs its handler.
#ifndef SERVICES_SERVICE_HELPERS_H_
#define SERVICES_SERVICE_HELPERS_H_

#include <memory>
#include <string>
#include <utility>

#include "client/binary_messenger.h"
#include "client/encodable_value.h"
#include "client/method_call.h"
#include "client/method_channel.h"
#include "client/method_result.h"
#include "client/standard_method_codec.h"

namespace orvalin {

using Channel = flutter::MethodChannel<flutter::EncodableValue>;
using Call = flutter::MethodCall<flutter::EncodableValue>;
using Result = std::unique_ptr<flutter::MethodResult<flutter::EncodableValue>>;

// One error answer of a service: its code and its fixed message. Each
// service names its own in its header.
struct ServiceError {
  const char* code;
  const char* message;
};

// Answers |result| with |error|, without details.
void AnswerError(const Result& result, const ServiceError& error);

// The string stored under |key| in the call's argument map, or null when
// the arguments are no map, the key is missing or its value is no string.
// The pointer refers into |arguments|.
const std::string* FindStringArgument(const flutter::EncodableValue* arguments,
                                      const char* key);

// The arguments as a map, or null for absent arguments or any other kind.
const flutter::EncodableMap* ArgumentMap(
    const flutter::EncodableValue* arguments);

// UTF-8 <-> UTF-16 with the system's converters; malformed input becomes
// replacement characters rather than an error.
std::wstring Utf8ToWide(const std::string& utf8);
std::string WideToUtf8(const std::wstring& wide);

// Creates the channel |name| over the shared codec, under shared ownership.
std::shared_ptr<Channel> MakeServiceChannel(flutter::BinaryMessenger* messenger,
                                            const std::string& name);

// Registers |handler| (a callable taking the call and the result) on a new
// channel |name|; the channel object itself is dropped on return, the
// installed route lives on in the messenger.
template <typename Handler>
void RegisterStatelessChannel(flutter::BinaryMessenger* messenger,
                              const std::string& name, Handler handler) {
  std::shared_ptr<Channel> channel = MakeServiceChannel(messenger, name);
  channel->SetCallHandler(
      [handler = std::move(handler)](const Call& call, Result result) {
        handler(call, std::move(result));
      });
}

}  // namespace orvalin

#endif  // SERVICES_SERVICE_HELPERS_H_
