// Value ordering and the one-shot reply holder.
#include <cmath>
#include <limits>
#include <variant>

#include "client/encodable_value.h"
#include "client/method_result.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

// A pointer that no reply callback is ever given.
const uint8_t kSentinel = 0;

// One value of each alternative, in index order.
std::vector<V> OnePerAlternative() {
  return {V(),
          V(true),
          V(int32_t{-9}),
          V(int64_t{-9}),
          V(-9.0),
          V(""),
          V(std::vector<uint8_t>{}),
          V(std::vector<int32_t>{}),
          V(std::vector<int64_t>{}),
          V(std::vector<double>{}),
          V(EncodableList{}),
          V(EncodableMap{}),
          V(CustomValue(1)),
          V(std::vector<float>{})};
}

TEST(EncodableValueTest, DifferentKindsOrderByAlternativeIndex) {
  const std::vector<V> values = OnePerAlternative();
  for (size_t i = 0; i < values.size(); ++i) {
    EXPECT_EQ(values[i].index(), i);
    for (size_t j = i + 1; j < values.size(); ++j) {
      EXPECT_TRUE(values[i] < values[j]) << i << " before " << j;
      EXPECT_FALSE(values[j] < values[i]) << i << " before " << j;
    }
  }
  EXPECT_TRUE(V().IsNull());
  EXPECT_TRUE(V() < V(false));
  // Text builds a string, never a bool.
  EXPECT_TRUE(std::holds_alternative<std::string>(V("a")));
}

TEST(EncodableValueTest, SameKindOrdersByContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<V, V> ordered[] = {
      {V(false), V(true)},
      {V(int32_t{-5}), V(int32_t{3})},
      {V(-(int64_t{1} << 40)), V(int64_t{1})},
      {V(-1.5), V(0.25)},
      {V(""), V("a")},
      {V("B"), V("a")},
      {V("ab"), V("abc")},
      {V("\x7f"), V("\x80")},  // bytes compare unsigned
      {V(std::vector<uint8_t>{1, 2}), V(std::vector<uint8_t>{1, 2, 0})},
      {V(std::vector<uint8_t>{0x7f}), V(std::vector<uint8_t>{0x80})},
      {V(std::vector<int32_t>{-1}), V(std::vector<int32_t>{0})},
      {V(std::vector<int64_t>{5, -1}), V(std::vector<int64_t>{5, 0})},
      {V(std::vector<double>{-0.5}), V(std::vector<double>{0.5})},
      {V(std::vector<float>{1.0f}), V(std::vector<float>{1.0f, -9.0f})},
      {V(EncodableList{V(int32_t{9})}), V(EncodableList{V(int64_t{0})})},
      {V(EncodableList{V(1)}), V(EncodableList{V(1), V()})},
      {V(EncodableMap{{V(1), V("z")}}), V(EncodableMap{{V(2), V("a")}})},
      {V(EncodableMap{{V(1), V("a")}}), V(EncodableMap{{V(1), V("b")}})},
      {V(EncodableMap{{V(1), V()}}), V(EncodableMap{{V(1), V()}, {V(2), V()}})},
      // Floating values order totally: every NaN after every number.
      {V(std::numeric_limits<double>::infinity()), V(nan)},
      {V(std::vector<double>{1.0, 9.0}), V(std::vector<double>{nan, 0.0})},
      {V(std::vector<float>{3e38f}),
       V(std::vector<float>{std::nanf(""), -1.0f})},
  };
  for (const auto& [low, high] : ordered) {
    EXPECT_TRUE(low < high) << low.index();
    EXPECT_FALSE(high < low) << low.index();
    EXPECT_FALSE(low < V(low)) << low.index();
  }
  const std::pair<V, V> equivalent[] = {
      {V(nan), V(-nan)},
      {V(-0.0), V(0.0)},
      {V(std::vector<double>{nan}), V(std::vector<double>{-nan})},
      {V(std::vector<float>{-0.0f}), V(std::vector<float>{0.0f})},
  };
  for (const auto& [first, second] : equivalent) {
    EXPECT_FALSE(first < second) << first.index();
    EXPECT_FALSE(second < first) << first.index();
  }
  // Distinct custom values are never equivalent.
  const V first(CustomValue(1));
  const V second(CustomValue(1));
  EXPECT_NE(first < second, second < first);
}

TEST(PendingReplyTest, AnswersOnceWithBytesOrNothing) {
  Bytes reserved;
  reserved.reserve(8);  // storage, but no bytes
  const Bytes some = {0, 7};
  for (const Bytes* data : {static_cast<const Bytes*>(nullptr),
                            static_cast<const Bytes*>(&reserved), &some}) {
    int calls = 0;
    Bytes seen;
    const uint8_t* seen_data = &kSentinel;
    CerrCapture cerr;
    {
      PendingReply reply([&](const uint8_t* bytes, size_t size) {
        ++calls;
        seen_data = bytes;
        seen.assign(bytes, bytes + size);
      });
      reply.SendResponseData(data);
      reply.SendResponseData(&some);
    }
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seen, data ? *data : Bytes{});
    EXPECT_EQ(seen_data == nullptr, data != &some);
    // Spent, so its destruction adds nothing.
    EXPECT_EQ(cerr.Lines(),
              std::vector<std::string>{
                  "Error: Only one of Success, Error, or NotImplemented can "
                  "be called, and it can be called exactly once. Ignoring "
                  "duplicate result."});
  }
}

TEST(PendingReplyTest, DestroyedUnansweredWarnsOnceAndSendsNothing) {
  int calls = 0;
  CerrCapture cerr;
  {
    PendingReply reply([&](const uint8_t*, size_t) { ++calls; });
  }
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(cerr.text(),
            "Warning: Failed to respond to a message. This is a memory "
            "leak.\n");
}

}  // namespace
}  // namespace flutter::testing
