// The binary messenger and method channel against the recording messenger.
#include <array>
#include <new>
#include <stdexcept>

#include "client/binary_messenger_impl.h"
#include "client/method_channel.h"
#include "client/standard_method_codec.h"
#include "client/testing/fake_messenger.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

const char kChannel[] = "test/channel";
const char kDuplicateResponse[] =
    "Error: Response can be set only once. Ignoring duplicate response.";
const char kDuplicateResult[] =
    "Error: Only one of Success, Error, or NotImplemented can be called, and "
    "it can be called exactly once. Ignoring duplicate result.";

class MessengerTest : public ::testing::Test {
 protected:
  // Installs a handler that keeps each message's reply callback.
  void KeepReplies() {
    messenger_.SetChannelHandler(
        kChannel, [this](const uint8_t*, size_t, ReplyCallback reply) {
          kept_.push_back(std::move(reply));
        });
  }

  FakeMessenger fake_;
  BinaryMessengerImpl messenger_{fake_.ref()};
  std::vector<ReplyCallback> kept_;
};

TEST_F(MessengerTest, SendsWithAndWithoutReply) {
  const Bytes message = {1, 2, 3};
  messenger_.SendMessage(kChannel, message.data(), message.size());
  EXPECT_EQ(fake_.send_count(), 1);
  EXPECT_EQ(fake_.send_with_reply_count(), 0);
  ASSERT_EQ(fake_.sent().size(), 1u);
  EXPECT_EQ(fake_.sent()[0].channel, kChannel);
  EXPECT_EQ(fake_.sent()[0].bytes, message);

  auto alive = std::make_shared<int>(0);
  Bytes reply;
  messenger_.SendMessage(kChannel, message.data(), message.size(),
                         [&reply, alive](const uint8_t* data, size_t size) {
                           reply.assign(data, data + size);
                         });
  EXPECT_EQ(fake_.send_with_reply_count(), 1);
  EXPECT_EQ(alive.use_count(), 2);
  EXPECT_TRUE(fake_.AnswerNextSent({9, 8}));
  EXPECT_EQ(reply, (Bytes{9, 8}));
  EXPECT_EQ(alive.use_count(), 1);  // the reply record is gone
}

TEST_F(MessengerTest, RefusedSendReleasesTheCallbackUncalled) {
  fake_.set_send_with_reply_result(false);
  auto alive = std::make_shared<int>(0);
  bool called = false;
  messenger_.SendMessage(
      kChannel, nullptr, 0,
      [&called, alive](const uint8_t*, size_t) { called = true; });
  EXPECT_EQ(fake_.send_with_reply_count(), 1);
  EXPECT_EQ(alive.use_count(), 1);
  EXPECT_FALSE(fake_.AnswerNextSent({}));
  EXPECT_FALSE(called);
}

TEST_F(MessengerTest, AnswersEachMessageOnceAndGivesBackItsReference) {
  KeepReplies();
  const uint64_t token = fake_.Deliver(kChannel, {7});
  fake_.Deliver(kChannel, {8});
  ASSERT_EQ(kept_.size(), 2u);
  EXPECT_EQ(fake_.add_ref_count(), 2);
  CerrCapture cerr;
  const Bytes answer = {4, 2};
  kept_[0](answer.data(), answer.size());
  kept_[0](nullptr, 0);
  EXPECT_EQ(fake_.ResponseCount(token), 1);
  EXPECT_EQ(fake_.ResponseFor(token), answer);
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kDuplicateResponse});
  EXPECT_EQ(fake_.release_count(), 0);
  kept_.clear();  // one answered, one abandoned: both give theirs back
  EXPECT_EQ(fake_.release_count(), 2);
  EXPECT_EQ(fake_.unlock_count(), 2);
}

TEST_F(MessengerTest, DropsAnswersAfterEngineShutdown) {
  KeepReplies();
  const uint64_t token = fake_.Deliver(kChannel, {});
  fake_.ShutDownEngine();
  CerrCapture cerr;
  kept_[0](nullptr, 0);
  EXPECT_EQ(fake_.ResponseCount(token), 0);
  EXPECT_EQ(cerr.text(), "");
  EXPECT_EQ(fake_.unlock_count(), fake_.lock_count());
}

TEST_F(MessengerTest, ReplacesAndRemovesHandlers) {
  auto first_alive = std::make_shared<int>(0);
  int first_calls = 0;
  int second_calls = 0;
  messenger_.SetChannelHandler(
      kChannel,
      [first_alive, &first_calls](const uint8_t*, size_t, ReplyCallback reply) {
        ++first_calls;
        reply(nullptr, 0);
      });
  auto second_alive = std::make_shared<int>(0);
  messenger_.SetChannelHandler(
      kChannel, [second_alive, &second_calls](const uint8_t*, size_t,
                                              ReplyCallback reply) {
        ++second_calls;
        reply(nullptr, 0);
      });
  EXPECT_EQ(first_alive.use_count(), 1);
  fake_.Deliver(kChannel, {});
  EXPECT_EQ(first_calls, 0);
  EXPECT_EQ(second_calls, 1);

  messenger_.SetChannelHandler(kChannel, nullptr);
  EXPECT_FALSE(fake_.HasCallback(kChannel));
  EXPECT_EQ(second_alive.use_count(), 1);
  EXPECT_EQ(fake_.Deliver(kChannel, {}), 0u);
  EXPECT_EQ(second_calls, 1);
}

// Reading its own captured state after the call is what a freed handler
// would get wrong (the sanitizers report it).
TEST_F(MessengerTest, HandlerMayRemoveOrReplaceItselfWhileItRuns) {
  for (const bool replace : {false, true}) {
    const std::string state(64, 's');  // on the heap
    std::string seen;
    messenger_.SetChannelHandler(
        kChannel, [this, state, replace, &seen](const uint8_t*, size_t,
                                                ReplyCallback reply) {
          MessageHandler next;
          if (replace) next = [](const uint8_t*, size_t, ReplyCallback) {};
          messenger_.SetChannelHandler(kChannel, std::move(next));
          seen = state;
          reply(nullptr, 0);
        });
    EXPECT_EQ(fake_.ResponseCount(fake_.Deliver(kChannel, {})), 1);
    EXPECT_EQ(seen, state);
    EXPECT_EQ(fake_.HasCallback(kChannel), replace);
  }
}

// No exception unwinds into the embedding; each call is answered once.
TEST_F(MessengerTest, ExceptionsStopAtTheEmbeddingsCallbacks) {
  const char kLine[] =
      "Unhandled exception in message handler on channel test/channel";
  for (const bool answer_first : {false, true}) {
    messenger_.SetChannelHandler(
        kChannel, [answer_first](const uint8_t*, size_t, ReplyCallback reply) {
          if (answer_first) reply(nullptr, 0);
          throw std::bad_alloc();
        });
    CerrCapture cerr;
    const uint64_t token = fake_.Deliver(kChannel, {});
    EXPECT_EQ(fake_.ResponseCount(token), 1);
    EXPECT_EQ(fake_.ResponseFor(token), Bytes{});
    EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kLine});
  }
  auto alive = std::make_shared<int>(0);
  messenger_.SendMessage(kChannel, nullptr, 0, [alive](const uint8_t*, size_t) {
    throw std::runtime_error("in reply");
  });
  CerrCapture cerr;
  EXPECT_TRUE(fake_.AnswerNextSent({}));
  EXPECT_EQ(alive.use_count(), 1);
  EXPECT_EQ(cerr.text(),
            "Unhandled exception in reply handler on channel test/channel\n");
}

class MethodChannelTest : public MessengerTest {
 protected:
  std::unique_ptr<MethodChannel<>> channel_ = std::make_unique<MethodChannel<>>(
      &messenger_, kChannel, &StandardMethodCodec::Instance());
  std::vector<std::unique_ptr<MethodResult<>>> pending_;
};

TEST_F(MethodChannelTest, EncodesTheHandlersAnswers) {
  channel_->SetCallHandler(
      [this](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
        if (call.MethodName() == "ok") {
          result->Success(V("ok"));
        } else if (call.MethodName() == "twice") {
          result->Success();
          result->Error("late");
        } else if (call.MethodName() == "error") {
          result->Error("abc", "");
        } else if (call.MethodName() == "later") {
          pending_.push_back(std::move(result));
        }  // anything else: dropped unanswered
      });
  // The handler outlives the channel object that installed it.
  channel_.reset();
  EXPECT_EQ(fake_.DeliverAndRespond(kChannel, {0x07, 2, 'o', 'k', 0x00}),
            (Bytes{0x00, 0x07, 0x02, 0x6F, 0x6B}));
  EXPECT_EQ(fake_.DeliverAndRespond(kChannel,
                                    {0x07, 5, 'e', 'r', 'r', 'o', 'r', 0x00}),
            (Bytes{0x01, 0x07, 0x03, 'a', 'b', 'c', 0x00, 0x00}));

  CerrCapture cerr;
  const uint64_t twice =
      fake_.Deliver(kChannel, {0x07, 5, 't', 'w', 'i', 'c', 'e', 0x00});
  EXPECT_EQ(fake_.ResponseCount(twice), 1);
  EXPECT_EQ(fake_.ResponseFor(twice), (Bytes{0x00, 0x00}));
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kDuplicateResult});

  const uint64_t dropped = fake_.Deliver(kChannel, {0x07, 1, 'x', 0x00});
  EXPECT_EQ(fake_.ResponseCount(dropped), 0);
  EXPECT_EQ(cerr.Lines().back(),
            "Warning: Failed to respond to a message. This is a memory leak.");

  const uint64_t later =
      fake_.Deliver(kChannel, {0x07, 5, 'l', 'a', 't', 'e', 'r', 0x00});
  EXPECT_EQ(fake_.ResponseCount(later), 0);
  pending_.at(0)->NotImplemented();
  EXPECT_EQ(fake_.ResponseFor(later), Bytes{});
  EXPECT_EQ(cerr.Lines().size(), 2u);
}

TEST_F(MethodChannelTest, AnswersUndecodableCallsWithNothing) {
  bool called = false;
  channel_->SetCallHandler(
      [&called](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
        called = true;
        result->Success();
      });
  CerrCapture cerr;
  const uint64_t token = fake_.Deliver(kChannel, {0x03, 1, 0, 0, 0, 0x00});
  EXPECT_FALSE(called);
  EXPECT_EQ(fake_.ResponseCount(token), 1);
  EXPECT_EQ(fake_.ResponseFor(token), Bytes{});
  EXPECT_EQ(cerr.Lines(),
            (std::vector<std::string>{
                "Invalid method call; method name is not a string.",
                "Unable to construct method call from message on channel "
                "test/channel"}));

  channel_->SetCallHandler(nullptr);
  EXPECT_EQ(fake_.Deliver(kChannel, {0x07, 1, 'm', 0x00}), 0u);
  EXPECT_FALSE(called);
}

TEST_F(MethodChannelTest, InvokesMethodsOnTheDartSide) {
  channel_->InvokeMethod("ping", nullptr);
  ASSERT_EQ(fake_.sent().size(), 1u);
  EXPECT_FALSE(fake_.sent()[0].with_reply);
  EXPECT_EQ(fake_.sent()[0].bytes, (Bytes{0x07, 4, 'p', 'i', 'n', 'g', 0x00}));

  struct Case {
    Bytes reply;
    Answer::Kind kind;
    std::string line;
  };
  const Case cases[] = {
      {{}, Answer::kNotImplemented, ""},
      {{0x00, 0x00}, Answer::kSuccess, ""},
      {{0x05},
       Answer::kNotImplemented,
       "Unable to decode reply to method invocation on channel test/channel"},
  };
  for (const Case& test : cases) {
    auto log = std::make_shared<std::vector<Answer>>();
    channel_->InvokeMethod("ask", std::make_unique<V>(1),
                           std::make_unique<RecordingResult>(log));
    CerrCapture cerr;
    ASSERT_TRUE(fake_.AnswerNextSent(test.reply));
    ASSERT_EQ(log->size(), 1u);
    EXPECT_EQ(log->at(0).kind, test.kind);
    EXPECT_FALSE(log->at(0).value.has_value());
    EXPECT_EQ(cerr.text(), test.line.empty() ? "" : test.line + "\n");
    EXPECT_EQ(log.use_count(), 1);  // the result went with its reply
  }
  EXPECT_EQ(fake_.sent().back().bytes,
            (Bytes{0x07, 3, 'a', 's', 'k', 0x03, 1, 0, 0, 0}));
}

// A channel object owned by its own handler, as some services' are, then
// released through that object: the name it passes dies with the handler.
TEST_F(MethodChannelTest, HandlerOwningItsChannelCanBeRemovedOrReplaced) {
  for (const bool replace : {false, true}) {
    auto owned = std::make_shared<MethodChannel<>>(
        &messenger_, kChannel, &StandardMethodCodec::Instance());
    owned->SetCallHandler(
        [owned](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
          result->Success();
        });
    MethodChannel<>* channel = owned.get();
    owned.reset();
    CallHandler<> next;
    if (replace) {
      next = [](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
        result->NotImplemented();
      };
    }
    channel->SetCallHandler(std::move(next));
    EXPECT_EQ(fake_.HasCallback(kChannel), replace);
  }
  EXPECT_EQ(fake_.DeliverAndRespond(kChannel, {0x07, 1, 'm', 0x00}), Bytes{});
}

// A handler that throws: its call is answered once, with an error unless
// it answered first, and the messenger reports the exception in one line.
TEST_F(MethodChannelTest, HandlerExceptionsBecomeOneAnswer) {
  channel_->SetCallHandler(
      [](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
        if (call.MethodName() == "s") result->Success();
        std::get<std::string>(*call.Arguments());  // not a string: throws
      });
  const std::pair<Bytes, Bytes> cases[] = {
      {{0x07, 1, 'x', 0x00},
       {0x01, 0x07, 19,  'u', 'n', 'h', 'a', 'n', 'd', 'l', 'e',  'd',
        '_',  'e',  'x', 'c', 'e', 'p', 't', 'i', 'o', 'n', 0x00, 0x00}},
      {{0x07, 1, 's', 0x00}, {0x00, 0x00}},
  };
  for (const auto& [call, answer] : cases) {
    CerrCapture cerr;
    const uint64_t token = fake_.Deliver(kChannel, call);
    EXPECT_EQ(fake_.ResponseCount(token), 1);
    EXPECT_EQ(fake_.ResponseFor(token), answer);
    EXPECT_EQ(cerr.Lines(),
              std::vector<std::string>{"Unhandled exception in message "
                                       "handler on channel test/channel"});
  }
}

// Every kind of exchange, 100k calls in all, must leave the live heap
// where a warm-up left it: a few bytes kept per call would show as
// hundreds of kilobytes.
TEST_F(MethodChannelTest, HeapDoesNotGrowOverManyCalls) {
  std::unique_ptr<MethodResult<>> deferred;
  channel_->SetCallHandler([&deferred](const MethodCall<>& call,
                                       std::unique_ptr<MethodResult<>> result) {
    const std::string& name = call.MethodName();
    if (name == "echo") {
      result->Success(*call.Arguments());
    } else if (name == "fail") {
      result->Error("code", "message", *call.Arguments());
    } else if (name == "later") {
      deferred = std::move(result);
    } else {
      result->NotImplemented();
    }
  });
  const V arguments(EncodableMap{
      {V("key"), V("value")},
      {V(1), V(EncodableList{V(1.5), V(std::vector<uint8_t>(8, 7)),
                             V(std::vector<int64_t>{1, -2, 3})})}});
  const auto encode = [&arguments](const char* name) {
    return *StandardMethodCodec::Instance().EncodeCall(
        MethodCall<>(name, std::make_unique<V>(arguments)));
  };
  const std::array<Bytes, 4> incoming = {encode("echo"), encode("fail"),
                                         encode("later"), encode("other")};
  const std::array<Bytes, 3> replies = {
      Encode(arguments, {0x00}), Bytes{0x01, 0x07, 1, 'e', 0x07, 0, 0x00},
      Bytes{}};
  const auto exchange = [&](int calls) {
    for (int i = 0; i < calls; ++i) {
      const uint64_t token = fake_.Deliver(kChannel, incoming[i % 4]);
      if (deferred) deferred->Success();
      ASSERT_EQ(fake_.ResponseCount(token), 1) << i;
      auto log = std::make_shared<std::vector<Answer>>();
      channel_->InvokeMethod("ask", std::make_unique<V>(arguments),
                             std::make_unique<RecordingResult>(log));
      ASSERT_TRUE(fake_.AnswerNextSent(replies[i % 3]));
      ASSERT_EQ(log->size(), 1u);
      deferred.reset();
      fake_.responses_.clear();
      fake_.ClearSent();
    }
  };
  exchange(1000);
  const size_t warm = LiveBytes();
  exchange(50000);  // each one call in, one out
  EXPECT_LE(LiveBytes(), warm + 1024);
  EXPECT_EQ(fake_.release_count(), fake_.add_ref_count());
}

}  // namespace
}  // namespace flutter::testing
