// A recording fake of the embedding's messenger functions, for tests that
// drive the client layer (and the services on top of it) without an engine.
// Linking this file provides the FlutterDesktopMessenger* functions.
#ifndef CLIENT_TESTING_FAKE_MESSENGER_H_
#define CLIENT_TESTING_FAKE_MESSENGER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "embedding/flutter_messenger.h"

namespace flutter::testing {

// One message the host sent towards the Dart side.
struct SentMessage {
  std::string channel;
  std::vector<uint8_t> bytes;
  bool with_reply = false;
  FlutterDesktopBinaryReply reply = nullptr;
  void* reply_user_data = nullptr;
};

// Only one fake exists at a time; it is what the C functions act on.
class FakeMessenger {
 public:
  FakeMessenger();
  ~FakeMessenger();
  FakeMessenger(const FakeMessenger&) = delete;
  FakeMessenger& operator=(const FakeMessenger&) = delete;

  FlutterDesktopMessengerRef ref();

  // Delivers an incoming message to the channel's callback, as the engine
  // would. Returns a token for ResponseFor; 0 when no callback is set.
  uint64_t Deliver(const std::string& channel,
                   const std::vector<uint8_t>& message);
  // The response sent for the message behind |token|, if one was sent.
  std::optional<std::vector<uint8_t>> ResponseFor(uint64_t token) const;
  // Deliver, then the response sent before it returned (if any).
  std::optional<std::vector<uint8_t>> DeliverAndRespond(
      const std::string& channel, const std::vector<uint8_t>& message);
  // How many responses the message behind |token| was given (the embedding
  // would reject more than one; the fake counts them to catch that).
  int ResponseCount(uint64_t token) const;

  // Answers the oldest unanswered message sent with a reply.
  bool AnswerNextSent(const std::vector<uint8_t>& reply);

  bool HasCallback(const std::string& channel) const;
  const std::vector<SentMessage>& sent() const { return sent_; }
  void ClearSent() { sent_.clear(); }

  // False makes FlutterDesktopMessengerSendWithReply refuse.
  void set_send_with_reply_result(bool result) { send_with_reply_ok_ = result; }
  // Simulates engine shutdown: IsAvailable answers false from now on.
  void ShutDownEngine() { available_ = false; }

  int add_ref_count() const { return add_refs_; }
  int release_count() const { return releases_; }
  int lock_count() const { return locks_; }
  int unlock_count() const { return unlocks_; }
  int send_count() const { return sends_; }
  int send_with_reply_count() const { return sends_with_reply_; }

  // Used by the C functions.
  struct Callback {
    FlutterDesktopMessageCallback callback = nullptr;
    void* user_data = nullptr;
  };
  static FakeMessenger* Current();
  static uint64_t TokenOf(const FlutterDesktopMessageResponseHandle* handle);
  // Aborts the test program when the messenger lock is not held.
  void RequireLocked(const char* operation) const;
  std::map<std::string, Callback> callbacks_;
  std::map<uint64_t, std::vector<std::vector<uint8_t>>> responses_;
  std::vector<SentMessage> sent_;
  bool send_with_reply_ok_ = true;
  bool available_ = true;
  bool locked_ = false;
  uint64_t next_token_ = 1;
  int add_refs_ = 0;
  int releases_ = 0;
  int locks_ = 0;
  int unlocks_ = 0;
  int sends_ = 0;
  int sends_with_reply_ = 0;
};

}  // namespace flutter::testing

#endif  // CLIENT_TESTING_FAKE_MESSENGER_H_
