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

TEST(EncodableValueTest, DifferentKindsOrderByAlternativeIndex) {
  // One value of each alternative, in index order.
  // clang-format off
  const V values[] = {V(), V(true), V(int32_t{-9}), V(int64_t{-9}), V(-9.0),
                      V("a"), V(Bytes{}), V(I32s{}), V(I64s{}), V(F64s{}),
                      V(EncodableList{}), V(EncodableMap{}), V(CustomValue(1)),
                      V(F32s{})};
  // clang-format on
  for (size_t i = 0; i < std::size(values); ++i) {
    EXPECT_EQ(values[i].index(), i);
    for (size_t j = i + 1; j < std::size(values); ++j) {
      EXPECT_TRUE(values[i] < values[j]) << i << " before " << j;
      EXPECT_FALSE(values[j] < values[i]) << i << " before " << j;
    }
  }
}

TEST(EncodableValueTest, SameKindOrdersByContent) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::pair<V, V> ordered[] = {
      {V(false), V(true)},
      {V(int32_t{-5}), V(int32_t{3})},
      {V("B"), V("a")},
      {V("ab"), V("abc")},
      {V("\x7f"), V("\x80")},  // bytes compare unsigned
      {V(Bytes{1, 2}), V(Bytes{1, 2, 0})},
      {V(Bytes{0x7f}), V(Bytes{0x80})},
      {V(I32s{-1}), V(I32s{0})},
      {V(I64s{5, -1}), V(I64s{5, 0})},
      {V(F64s{-0.5}), V(F64s{0.5})},
      {V(F32s{1.0f}), V(F32s{1.0f, -9.0f})},
      {V(EncodableList{V(1)}), V(EncodableList{V(1), V()})},
      {V(EncodableMap{{V(1), V("z")}}), V(EncodableMap{{V(2), V("a")}})},
      {V(EncodableMap{{V(1), V("a")}}), V(EncodableMap{{V(1), V("b")}})},
      {V(EncodableMap{{V(1), V()}}), V(EncodableMap{{V(1), V()}, {V(2), V()}})},
      // Element by element, not by length: [1, 0] before [2].
      {V("az"), V("b")},
      {V(Bytes{1, 0}), V(Bytes{2})},
      {V(I32s{1, 0}), V(I32s{2})},
      {V(I64s{1, 0}), V(I64s{2})},
      {V(F64s{1, 0}), V(F64s{2})},
      {V(F32s{1, 0}), V(F32s{2})},
      {V(EncodableList{V(1), V(0)}), V(EncodableList{V(2)})},
      {V(EncodableMap{{V(1), V()}, {V(3), V()}}), V(EncodableMap{{V(2), V()}})},
      // Floating values order totally: every NaN after every number.
      {V(std::numeric_limits<double>::infinity()), V(nan)},
      {V(F64s{1.0, 9.0}), V(F64s{nan, 0.0})},
      {V(F32s{3e38f}), V(F32s{std::nanf(""), -1.0f})}};
  for (const auto& [low, high] : ordered) {
    EXPECT_TRUE(low < high) << low.index();
    EXPECT_FALSE(high < low) << low.index();
    EXPECT_FALSE(low < V(low)) << low.index();
  }
  const std::pair<V, V> equivalent[] = {{V(nan), V(-nan)},
                                        {V(-0.0), V(0.0)},
                                        {V(F64s{nan}), V(F64s{-nan})},
                                        {V(F32s{-0.0f}), V(F32s{0.0f})}};
  for (const auto& [first, second] : equivalent) {
    EXPECT_FALSE(first < second) << first.index();
    EXPECT_FALSE(second < first) << first.index();
  }
  // Distinct custom values are never equivalent.
  const V first(CustomValue(1));
  const V second(CustomValue(1));
  EXPECT_NE(first < second, second < first);
}

// The wrong alternative read strictly fails with the standard error and its
// own message, in every form of access; the right one reads in place.
TEST(EncodableValueTest, StrictAccessOfAnotherAlternativeFails) {
  V map(EncodableMap{{V("k"), V("v")}});
  const V& constant = map;
  const auto message = [](const auto& access) -> std::string {
    try {
      access();
    } catch (const std::bad_variant_access& error) {
      return error.what();
    }
    return "no error";
  };
  const std::string kMessage = "bad variant access";
  EXPECT_EQ(message([&] { std::get<std::string>(map); }), kMessage);
  EXPECT_EQ(message([&] { std::get<std::string>(constant); }), kMessage);
  EXPECT_EQ(message([&] { std::get<std::string>(std::move(map)); }), kMessage);
  EXPECT_EQ(message([&] { std::get<5>(map); }), kMessage);
  EXPECT_EQ(message([&] { std::get<5>(constant); }), kMessage);
  EXPECT_EQ(message([&] { std::get<int32_t>(V(int64_t{1})); }), kMessage);
  EXPECT_EQ(message([&] { std::get<std::monostate>(V(false)); }), kMessage);

  std::get<EncodableMap>(map)[V("k")] = V("w");
  EXPECT_EQ(std::get<11>(constant).at(V("k")), V("w"));
  EXPECT_EQ(std::get<std::string>(V("text")), "text");
  std::string moved = std::get<std::string>(V(std::string(64, 'x')));
  EXPECT_EQ(moved.size(), 64u);
}

TEST(PendingReplyTest, AnswersOnceWithBytesOrNothing) {
  const std::string kDuplicate =
      "Error: Only one of Success, Error, or NotImplemented can be called, "
      "and it can be called exactly once. Ignoring duplicate result.";
  Bytes reserved;
  reserved.reserve(8);  // storage, but no bytes
  const Bytes some = {0, 7};
  // The data, and whether the callback gets a null pointer for it.
  const std::pair<const Bytes*, bool> cases[] = {
      {nullptr, true}, {&reserved, true}, {&some, false}};
  for (const auto& [data, null_pointer] : cases) {
    std::vector<std::pair<const uint8_t*, Bytes>> calls;
    CerrCapture cerr;
    {
      PendingReply reply([&calls](const uint8_t* bytes, size_t size) {
        calls.push_back({bytes, Bytes(bytes, bytes + size)});
      });
      reply.SendResponseData(data);
      reply.SendResponseData(&some);
    }
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0].first == nullptr, null_pointer);
    EXPECT_EQ(calls[0].second, data ? *data : Bytes{});
    // Spent, so its destruction adds nothing.
    EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kDuplicate});
  }
  // An answer given from inside the callback finds the reply spent.
  int calls = 0;
  CerrCapture cerr;
  PendingReply reentered([&](const uint8_t*, size_t) {
    if (++calls == 1) reentered.SendResponseData(&some);
  });
  reentered.SendResponseData(nullptr);
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(cerr.Lines(), std::vector<std::string>{kDuplicate});
  {
    PendingReply unanswered([&](const uint8_t*, size_t) { ADD_FAILURE(); });
  }
  EXPECT_EQ(cerr.Lines().back(),
            "Warning: Failed to respond to a message. This is a memory "
            "leak.");
  EXPECT_EQ(cerr.Lines().size(), 2u);
}

}  // namespace
}  // namespace flutter::testing
