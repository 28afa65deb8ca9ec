// Method calls and result envelopes over the standard message format.
#include <memory>

#include "client/method_call.h"
#include "client/standard_method_codec.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

const StandardMethodCodec& Codec() { return StandardMethodCodec::Instance(); }

TEST(StandardMethodCodecTest, EncodesEnvelopes) {
  const V one(1.0);
  const V list(std::vector<int32_t>{1});
  // Values align from the envelope's first byte, not from their own.
  EXPECT_EQ(
      *Codec().EncodeSuccess(&one),
      (Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  EXPECT_EQ(*Codec().EncodeError("e", "no", &list),
            (Bytes{0x01, 0x07, 0x01, 'e', 0x07, 0x02, 'n', 'o', 0x09, 0x01, 0,
                   0, 1, 0, 0, 0}));
}

// An extending serializer gets the stream calls; the shared one encodes
// envelopes in one pass. Both give the same bytes.
struct ExtendedSerializer : StandardCodecSerializer {};

TEST(StandardMethodCodecTest, EncodesTheSameWithAnExtendingSerializer) {
  static const ExtendedSerializer extended;
  const StandardMethodCodec& observed =
      StandardMethodCodec::Instance(&extended);
  ASSERT_NE(&observed, &Codec());
  const V url("orvalinai://login-callback?code=1");
  // Texts whose bytes differ, so that a copy from the wrong offset shows.
  const auto text = [](size_t size) {
    std::string text(size, 'a');
    for (size_t i = 0; i < size; ++i) text[i] = static_cast<char>('!' + i % 90);
    return text;
  };
  // Small messages are built whole up to 256 bytes and texts of 253.
  const V values[] = {V(),
                      V(false),
                      V(int32_t{-7}),
                      V(int64_t{1} << 40),
                      V(1.0),
                      V(std::vector<int64_t>{1}),
                      url,
                      V(text(31)),
                      V(text(33)),
                      V(text(64)),
                      V(text(97)),
                      V(text(253)),
                      V(text(254)),
                      V(EncodableList{V(2.0), V("x"), V(Bytes(300, 1))})};
  for (const V& value : values) {
    for (const std::string& name : {std::string("authCallback"), text(253)}) {
      const MethodCall<> call(name, std::make_unique<V>(value));
      EXPECT_EQ(*Codec().EncodeCall(call), *observed.EncodeCall(call));
    }
    EXPECT_EQ(*Codec().EncodeSuccess(&value), *observed.EncodeSuccess(&value));
    for (const char* message : {"", "m"}) {
      EXPECT_EQ(*Codec().EncodeError("c", message, &value),
                *observed.EncodeError("c", message, &value));
    }
  }
  EXPECT_EQ(*Codec().EncodeCall(MethodCall<>("m", nullptr)),
            (Bytes{0x07, 0x01, 'm', 0x00}));
  EXPECT_EQ(*Codec().EncodeCall(
                MethodCall<>("authCallback", std::make_unique<V>(url))),
            Concat(Concat({0x07, 12}, Bytes{'a', 'u', 't', 'h', 'C', 'a', 'l',
                                            'l', 'b', 'a', 'c', 'k'}),
                   Encode(url)));
  EXPECT_EQ(*Codec().EncodeSuccess(nullptr), (Bytes{0x00, 0x00}));
  EXPECT_EQ(*Codec().EncodeError("c", "", nullptr),
            (Bytes{0x01, 0x07, 0x01, 'c', 0x00, 0x00}));
}

// A photo's answer is allocated once, at its size: nothing doubles past it.
TEST(StandardMethodCodecTest, OneLargeBlockIsAllocatedOnce) {
  const V photo(Bytes(1 << 20, 7));
  const size_t allocated_before = AllocatedBytes();
  const std::unique_ptr<Bytes> message = Codec().EncodeSuccess(&photo);
  EXPECT_LT(AllocatedBytes() - allocated_before, message->size() + 256);
  EXPECT_EQ(message->capacity(), message->size());
}

TEST(StandardMethodCodecTest, DecodesResponses) {
  const std::pair<Bytes, std::string> cases[] = {
      {{0x00, 0x00}, "success"},
      {{0x00, 0x07, 0x01, 'x'}, "success x"},
      {{0x01, 0x07, 0x01, 'c', 0x00, 0x00}, "error c "},
      {{0x01, 0x07, 0x01, 'c', 0x07, 0x01, 'm', 0x07, 0x01, 'd'},
       "error c m d"},
      // Not understood: an unknown kind, a code that is not text, a message
      // that is neither text nor null.
      {{0x02}, ""},
      {{0x01, 0x00, 0x00, 0x00}, ""},
      {{0x01, 0x07, 0x01, 'c', 0x01, 0x00}, ""}};
  for (const auto& [response, answer] : cases) {
    auto log = std::make_shared<std::vector<std::string>>();
    RecordingResult result(log);
    EXPECT_EQ(Codec().DecodeResponse(response.data(), response.size(), &result),
              !answer.empty());
    EXPECT_EQ(*log, answer.empty() ? std::vector<std::string>{}
                                   : std::vector<std::string>{answer});
  }
}

}  // namespace
}  // namespace flutter::testing
