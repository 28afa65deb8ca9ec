// The binary messenger and method channel against the recording messenger.
#include <new>
#include <stdexcept>
#include <tuple>

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

class MessengerTest : public ::testing::Test {
 protected:
  FakeMessenger fake_;
  BinaryMessengerImpl messenger_{fake_.ref()};
};

// A refused send releases its reply callback at once, uncalled.
TEST_F(MessengerTest, RefusedSendReleasesItsCallback) {
  fake_.set_send_with_reply_result(false);
  auto alive = std::make_shared<int>(0);
  messenger_.SendMessage(kChannel, nullptr, 0, [alive](const uint8_t*, size_t) {
    ADD_FAILURE() << "called";
  });
  EXPECT_EQ(alive.use_count(), 1);
  EXPECT_FALSE(fake_.AnswerNextSent({}));
}

TEST_F(MessengerTest, AnswersEachMessageOnceWhileTheEngineLives) {
  std::vector<ReplyCallback> kept;
  messenger_.SetChannelHandler(
      kChannel, [&kept](const uint8_t*, size_t, ReplyCallback reply) {
        kept.push_back(std::move(reply));
      });
  const uint64_t tokens[] = {fake_.Deliver(kChannel, {7}),
                             fake_.Deliver(kChannel, {8}),
                             fake_.Deliver(kChannel, {9})};
  CerrCapture cerr;
  kept[0](Bytes{4, 2}.data(), 2);
  kept[0](nullptr, 0);
  EXPECT_EQ(fake_.ResponseCount(tokens[0]), 1);
  EXPECT_EQ(fake_.ResponseFor(tokens[0]), (Bytes{4, 2}));
  fake_.ShutDownEngine();
  kept[1](nullptr, 0);  // dropped without a word
  EXPECT_EQ(fake_.ResponseCount(tokens[1]), 0);
  EXPECT_EQ(cerr.Lines(),
            std::vector<std::string>{"Error: Response can be set only once. "
                                     "Ignoring duplicate response."});
  EXPECT_EQ(fake_.release_count(), 0);
  kept.clear();  // answered, dropped or abandoned: each gives back its ref
  EXPECT_EQ(fake_.add_ref_count(), 3);
  EXPECT_EQ(fake_.release_count(), 3);
  EXPECT_EQ(fake_.unlock_count(), fake_.lock_count());
}

// Installing releases the handler it replaces, even one still running
// (then at its return): a handler reads its own state after releasing
// itself, which a freed handler could not (the sanitizers report it).
TEST_F(MessengerTest, ReplacesAndRemovesHandlersEvenWhileTheyRun) {
  for (const bool replace : {false, true}) {
    auto state = std::make_shared<std::string>(64, 's');
    std::string seen;
    messenger_.SetChannelHandler(
        kChannel, [this, state, replace, &seen](const uint8_t*, size_t,
                                                ReplyCallback reply) {
          messenger_.SetChannelHandler(
              kChannel, replace ? [](const uint8_t*, size_t,
                                     ReplyCallback r) { r(Bytes{6}.data(), 1); }
                                : MessageHandler());
          seen = *state;
          reply(nullptr, 0);
        });
    EXPECT_EQ(fake_.DeliverAndRespond(kChannel, {}), Bytes{});
    EXPECT_EQ(seen, *state);
    EXPECT_EQ(state.use_count(), 1);
    EXPECT_EQ(fake_.DeliverAndRespond(kChannel, {}),
              replace ? std::optional(Bytes{6}) : std::nullopt);
  }
}

// No exception unwinds into the embedding; each call is answered once.
TEST_F(MessengerTest, ExceptionsStopAtTheEmbeddingsCallbacks) {
  for (const bool answer_first : {false, true}) {
    messenger_.SetChannelHandler(
        kChannel, [answer_first](const uint8_t*, size_t, ReplyCallback reply) {
          if (answer_first) reply(Bytes{5}.data(), 1);
          throw std::bad_alloc();
        });
    CerrCapture cerr;
    const uint64_t token = fake_.Deliver(kChannel, {});
    EXPECT_EQ(fake_.ResponseCount(token), 1);
    EXPECT_EQ(fake_.ResponseFor(token), answer_first ? Bytes{5} : Bytes{});
    EXPECT_EQ(cerr.text(),
              "Unhandled exception in message handler on channel "
              "test/channel\n");
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
};

// Each incoming call is answered exactly once, whatever its handler did.
TEST_F(MethodChannelTest, AnswersEachCallOnce) {
  channel_->SetCallHandler(
      [](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
        const std::string& name = call.MethodName();
        if (name == "ok") result->Success(V("ok"));
        if (name == "err") result->Error("abc", "");
        if (name == "twice" || name == "s") result->Success();
        if (name == "twice") result->Error("late");
        if (name == "s" || name == "x") {
          std::get<std::string>(*call.Arguments());  // not a string: throws
        }
      });
  channel_.reset();  // the handler outlives the channel object
  const std::tuple<Bytes, Bytes, size_t> cases[] = {
      {{0x07, 2, 'o', 'k', 0x00}, {0x00, 0x07, 0x02, 0x6F, 0x6B}, 0},
      {{0x07, 3, 'e', 'r', 'r', 0x00},
       {0x01, 0x07, 0x03, 'a', 'b', 'c', 0x00, 0x00},
       0},
      {{0x07, 5, 't', 'w', 'i', 'c', 'e', 0x00}, {0x00, 0x00}, 1},
      // Not named by a string: the handler is not called.
      {{0x03, 1, 0, 0, 0, 0x00}, {}, 2},
      // The handler throws, before or after answering.
      {{0x07, 1, 'x', 0x00},
       {0x01, 0x07, 19,  'u', 'n', 'h', 'a', 'n', 'd', 'l', 'e',  'd',
        '_',  'e',  'x', 'c', 'e', 'p', 't', 'i', 'o', 'n', 0x00, 0x00},
       1},
      {{0x07, 1, 's', 0x00}, {0x00, 0x00}, 1}};
  for (const auto& [call, answer, lines] : cases) {
    CerrCapture cerr;
    const uint64_t token = fake_.Deliver(kChannel, call);
    EXPECT_EQ(fake_.ResponseCount(token), 1);
    EXPECT_EQ(fake_.ResponseFor(token), answer);
    EXPECT_EQ(cerr.Lines().size(), lines) << cerr.text();
    if (lines == 2) {
      EXPECT_EQ(cerr.Lines(),
                (std::vector<std::string>{
                    "Invalid method call; method name is not a string.",
                    "Unable to construct method call from message on channel "
                    "test/channel"}));
    }
  }
}

TEST_F(MethodChannelTest, InvokesMethodsOnTheDartSide) {
  channel_->InvokeMethod("ping", nullptr);
  EXPECT_FALSE(fake_.sent().at(0).with_reply);
  EXPECT_EQ(fake_.sent()[0].bytes, (Bytes{0x07, 4, 'p', 'i', 'n', 'g', 0x00}));
  const std::pair<Bytes, std::string> cases[] = {
      {{}, ""},
      {{0x00, 0x00}, ""},
      {{0x05},
       "Unable to decode reply to method invocation on channel "
       "test/channel\n"}};
  for (const auto& [reply, line] : cases) {
    auto log = std::make_shared<std::vector<std::string>>();
    channel_->InvokeMethod("ask", std::make_unique<V>(1),
                           std::make_unique<RecordingResult>(log));
    EXPECT_EQ(fake_.sent().back().bytes,
              (Bytes{0x07, 3, 'a', 's', 'k', 0x03, 1, 0, 0, 0}));
    CerrCapture cerr;
    ASSERT_TRUE(fake_.AnswerNextSent(reply));
    EXPECT_EQ(log->at(0), reply.size() == 2 ? "success" : "not_implemented");
    EXPECT_EQ(cerr.text(), line);
    EXPECT_EQ(log.use_count(), 1);  // the result went with its reply
  }
}

// A channel object owned by its own handler, as some services' are, then
// released through that object: the name it passes dies with the handler.
TEST_F(MethodChannelTest, HandlerOwningItsChannelCanBeRemovedOrReplaced) {
  for (const bool replace : {false, true}) {
    auto owned = std::make_shared<MethodChannel<>>(
        &messenger_, kChannel, &StandardMethodCodec::Instance());
    owned->SetCallHandler(
        [owned](const MethodCall<>&, std::unique_ptr<MethodResult<>>) {});
    MethodChannel<>* channel = owned.get();
    owned.reset();
    channel->SetCallHandler(
        replace ? [](const MethodCall<>&,
                     std::unique_ptr<MethodResult<>> r) { r->NotImplemented(); }
                : CallHandler<>());
    EXPECT_EQ(fake_.HasCallback(kChannel), replace);
  }
  EXPECT_EQ(fake_.DeliverAndRespond(kChannel, {0x07, 1, 'm', 0x00}), Bytes{});
}

// Calls in and out, answered at once or later, must leave the live heap
// where a warm-up left it: a few bytes kept per call would show as many
// kilobytes.
TEST_F(MethodChannelTest, HeapDoesNotGrowOverManyCalls) {
  std::unique_ptr<MethodResult<>> later;
  channel_->SetCallHandler([&later](const MethodCall<>& call,
                                    std::unique_ptr<MethodResult<>> result) {
    if (call.MethodName() == "later") {
      later = std::move(result);
    } else {
      result->Error("code", "message", *call.Arguments());
    }
  });
  const Bytes incoming[] = {{0x07, 5, 'l', 'a', 't', 'e', 'r', 0x07, 1, 'a'},
                            {0x07, 4, 'f', 'a', 'i', 'l', 0x07, 1, 'b'}};
  const auto exchange = [&](int calls) {
    for (int i = 0; i < calls; ++i) {
      const uint64_t token = fake_.Deliver(kChannel, incoming[i % 2]);
      if (later) later->Success();
      later.reset();
      ASSERT_EQ(fake_.ResponseCount(token), 1);
      auto log = std::make_shared<std::vector<std::string>>();
      channel_->InvokeMethod("ask", std::make_unique<V>("x"),
                             std::make_unique<RecordingResult>(log));
      ASSERT_TRUE(fake_.AnswerNextSent({0x00, 0x07, 1, 'y'}));
      fake_.responses_.clear();
      fake_.ClearSent();
    }
  };
  exchange(500);
  const size_t warm = LiveBytes();
  exchange(5000);
  EXPECT_LE(LiveBytes(), warm + 1024);
  EXPECT_EQ(fake_.release_count(), fake_.add_ref_count());
}

}  // namespace
}  // namespace flutter::testing
