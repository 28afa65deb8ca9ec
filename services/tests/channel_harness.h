// Drives service channels the way the engine does: an encoded call goes in
// through the embedding's messenger functions (the recording fake), the
// encoded answer comes out and is decoded for the test.
#ifndef SERVICES_TESTS_CHANNEL_HARNESS_H_
#define SERVICES_TESTS_CHANNEL_HARNESS_H_

// clang-format off
#include <windows.h>  // before client/: it undoes the SendMessage macro
// clang-format on

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "client/binary_messenger_impl.h"
#include "client/encodable_value.h"
#include "client/testing/fake_messenger.h"

namespace flutter {
// Readable values in failure messages.
void PrintTo(const EncodableValue& value, std::ostream* out);
}  // namespace flutter

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
void PrintTo(const Answer& answer, std::ostream* out);

class ChannelHarness {
 public:
  ChannelHarness();

  flutter::BinaryMessenger* messenger() { return &messenger_; }
  flutter::testing::FakeMessenger& fake() { return fake_; }

  // Sends an encoded call; the token identifies its answer.
  uint64_t Send(const std::string& channel, const std::string& method,
                std::unique_ptr<EncodableValue> arguments = nullptr);
  // Sends raw bytes as a message on |channel|.
  uint64_t SendRaw(const std::string& channel,
                   const std::vector<uint8_t>& bytes);
  // The answer given so far to the message behind |token|.
  Answer AnswerFor(uint64_t token) const;
  // Sends and returns the answer given before the handler returned.
  Answer Call(const std::string& channel, const std::string& method,
              std::unique_ptr<EncodableValue> arguments = nullptr);
  Answer Call(const std::string& channel, const std::string& method,
              EncodableValue arguments);

  // The arguments of every "authCallback" pushed towards the Dart side.
  std::vector<EncodableValue> PushedAuthCallbacks() const;

 private:
  flutter::testing::FakeMessenger fake_;
  flutter::BinaryMessengerImpl messenger_;
};

Answer DecodeAnswer(const std::vector<uint8_t>& response);

// A success answer carrying |value| (null by default).
void ExpectSuccess(const Answer& answer,
                   const EncodableValue& value = EncodableValue());
// An error answer with exactly |code| and |message| and no details.
void ExpectError(const Answer& answer, const std::string& code,
                 const std::string& message);
// Calls |method| once with each of |shapes| (nullopt: no arguments at all) and
// expects that error for every one.
void ExpectErrorForEach(
    ChannelHarness* harness, const std::string& channel,
    const std::string& method,
    const std::vector<std::optional<EncodableValue>>& shapes,
    const std::string& code, const std::string& message);

// A map argument from string keys.
EncodableValue Map(
    std::initializer_list<std::pair<const char*, EncodableValue>> entries);

// A folder of its own under the temporary folder, removed with its files.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::wstring& path() const { return path_; }
  // Writes |bytes| to |name| in the folder; returns the full path.
  std::wstring Write(const std::wstring& name,
                     const std::vector<uint8_t>& bytes) const;

 private:
  std::wstring path_;
};

std::string Utf8(const std::wstring& wide);

}  // namespace orvalin::testing

#endif  // SERVICES_TESTS_CHANNEL_HARNESS_H_
