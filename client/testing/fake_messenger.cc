#include "client/testing/fake_messenger.h"

#include <cstdio>
#include <cstdlib>

namespace flutter::testing {
namespace {

FakeMessenger* g_current = nullptr;

// Misuse of the embedding's contract ends the test program loudly, in debug
// and release builds alike.
[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "FakeMessenger: %s\n", what);
  std::abort();
}

// Response handles are tokens; the fake never dereferences them.
const FlutterDesktopMessageResponseHandle* HandleFor(uint64_t token) {
  return reinterpret_cast<const FlutterDesktopMessageResponseHandle*>(
      static_cast<uintptr_t>(token));
}

}  // namespace

FakeMessenger::FakeMessenger() {
  if (g_current != nullptr) {
    Fail("only one instance may exist at a time");
  }
  g_current = this;
}

FakeMessenger::~FakeMessenger() { g_current = nullptr; }

FakeMessenger* FakeMessenger::Current() {
  if (g_current == nullptr) {
    Fail("used without an instance");
  }
  return g_current;
}

uint64_t FakeMessenger::TokenOf(
    const FlutterDesktopMessageResponseHandle* handle) {
  return static_cast<uint64_t>(reinterpret_cast<uintptr_t>(handle));
}

void FakeMessenger::RequireLocked(const char* operation) const {
  if (!locked_) {
    std::fprintf(stderr, "FakeMessenger: %s called unlocked\n", operation);
    std::abort();
  }
}

FlutterDesktopMessengerRef FakeMessenger::ref() {
  return reinterpret_cast<FlutterDesktopMessengerRef>(this);
}

uint64_t FakeMessenger::Deliver(const std::string& channel,
                                const std::vector<uint8_t>& message) {
  auto it = callbacks_.find(channel);
  if (it == callbacks_.end() || it->second.callback == nullptr) {
    return 0;
  }
  const uint64_t token = next_token_++;
  responses_[token];
  FlutterDesktopMessage record{};
  record.struct_size = sizeof(record);
  record.channel = channel.c_str();
  record.message = message.empty() ? nullptr : message.data();
  record.message_size = message.size();
  record.response_handle = HandleFor(token);
  it->second.callback(ref(), &record, it->second.user_data);
  return token;
}

std::optional<std::vector<uint8_t>> FakeMessenger::ResponseFor(
    uint64_t token) const {
  auto it = responses_.find(token);
  if (it == responses_.end() || it->second.empty()) {
    return std::nullopt;
  }
  return it->second.front();
}

int FakeMessenger::ResponseCount(uint64_t token) const {
  auto it = responses_.find(token);
  return it == responses_.end() ? 0 : static_cast<int>(it->second.size());
}

std::optional<std::vector<uint8_t>> FakeMessenger::DeliverAndRespond(
    const std::string& channel, const std::vector<uint8_t>& message) {
  return ResponseFor(Deliver(channel, message));
}

bool FakeMessenger::AnswerNextSent(const std::vector<uint8_t>& reply) {
  for (SentMessage& message : sent_) {
    if (message.with_reply && message.reply != nullptr) {
      FlutterDesktopBinaryReply callback = message.reply;
      void* user_data = message.reply_user_data;
      message.reply = nullptr;
      callback(reply.empty() ? nullptr : reply.data(), reply.size(), user_data);
      return true;
    }
  }
  return false;
}

bool FakeMessenger::HasCallback(const std::string& channel) const {
  auto it = callbacks_.find(channel);
  return it != callbacks_.end() && it->second.callback != nullptr;
}

}  // namespace flutter::testing

using flutter::testing::FakeMessenger;
using flutter::testing::SentMessage;

extern "C" {

bool FlutterDesktopMessengerSend(FlutterDesktopMessengerRef /*messenger*/,
                                 const char* channel, const uint8_t* message,
                                 size_t message_size) {
  FakeMessenger* fake = FakeMessenger::Current();
  ++fake->sends_;
  fake->sent_.push_back(SentMessage{
      channel, std::vector<uint8_t>(message, message + message_size), false,
      nullptr, nullptr});
  return true;
}

bool FlutterDesktopMessengerSendWithReply(
    FlutterDesktopMessengerRef /*messenger*/, const char* channel,
    const uint8_t* message, size_t message_size,
    FlutterDesktopBinaryReply reply, void* user_data) {
  FakeMessenger* fake = FakeMessenger::Current();
  ++fake->sends_with_reply_;
  if (!fake->send_with_reply_ok_) {
    return false;
  }
  fake->sent_.push_back(SentMessage{
      channel, std::vector<uint8_t>(message, message + message_size), true,
      reply, user_data});
  return true;
}

void FlutterDesktopMessengerSendResponse(
    FlutterDesktopMessengerRef /*messenger*/,
    const FlutterDesktopMessageResponseHandle* handle, const uint8_t* data,
    size_t data_length) {
  FakeMessenger* fake = FakeMessenger::Current();
  // The answer must be ordered against engine teardown.
  fake->RequireLocked("SendResponse");
  fake->responses_[FakeMessenger::TokenOf(handle)].emplace_back(
      data == nullptr ? std::vector<uint8_t>()
                      : std::vector<uint8_t>(data, data + data_length));
}

void FlutterDesktopMessengerSetCallback(
    FlutterDesktopMessengerRef /*messenger*/, const char* channel,
    FlutterDesktopMessageCallback callback, void* user_data) {
  FakeMessenger* fake = FakeMessenger::Current();
  if (callback == nullptr) {
    fake->callbacks_.erase(channel);
  } else {
    fake->callbacks_[channel] = FakeMessenger::Callback{callback, user_data};
  }
}

FlutterDesktopMessengerRef FlutterDesktopMessengerAddRef(
    FlutterDesktopMessengerRef messenger) {
  ++FakeMessenger::Current()->add_refs_;
  return messenger;
}

void FlutterDesktopMessengerRelease(FlutterDesktopMessengerRef /*messenger*/) {
  ++FakeMessenger::Current()->releases_;
}

bool FlutterDesktopMessengerIsAvailable(
    FlutterDesktopMessengerRef /*messenger*/) {
  FakeMessenger* fake = FakeMessenger::Current();
  // Availability is only meaningful under the lock; catch callers that
  // check without it.
  fake->RequireLocked("IsAvailable");
  return fake->available_;
}

FlutterDesktopMessengerRef FlutterDesktopMessengerLock(
    FlutterDesktopMessengerRef messenger) {
  FakeMessenger* fake = FakeMessenger::Current();
  if (fake->locked_) {
    std::fprintf(stderr, "FakeMessenger: Lock called while already locked\n");
    std::abort();
  }
  ++fake->locks_;
  fake->locked_ = true;
  return messenger;
}

void FlutterDesktopMessengerUnlock(FlutterDesktopMessengerRef /*messenger*/) {
  FakeMessenger* fake = FakeMessenger::Current();
  fake->RequireLocked("Unlock");
  ++fake->unlocks_;
  fake->locked_ = false;
}

}  // extern "C"
