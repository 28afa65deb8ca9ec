// Method calls and result envelopes over the standard message format.
#include "client/standard_method_codec.h"
#include "client/tests/test_support.h"
#include "gtest/gtest.h"

namespace flutter::testing {
namespace {

using V = EncodableValue;

const StandardMethodCodec& Codec() { return StandardMethodCodec::Instance(); }

TEST(StandardMethodCodecTest, EncodesCalls) {
  const std::string url(20, 'u');
  Bytes expected = {0x07, 0x0C};
  for (char c : std::string("authCallback")) expected.push_back(c);
  expected.insert(expected.end(), {0x07, 20});
  expected.insert(expected.end(), url.begin(), url.end());
  EXPECT_EQ(*Codec().EncodeCall(
                MethodCall<>("authCallback", std::make_unique<V>(url))),
            expected);
  EXPECT_EQ(*Codec().EncodeCall(MethodCall<>("m", nullptr)),
            (Bytes{0x07, 0x01, 'm', 0x00}));
}

TEST(StandardMethodCodecTest, DecodesCalls) {
  const Bytes message = {0x07, 0x01, 'm', 0x03, 5, 0, 0, 0, 0x01};
  std::unique_ptr<MethodCall<>> call =
      Codec().DecodeCall(message.data(), message.size());
  ASSERT_TRUE(call);
  EXPECT_EQ(call->MethodName(), "m");
  EXPECT_EQ(*call->Arguments(), V(int32_t{5}));

  // Only a name: the arguments still exist, as null.
  CerrCapture cerr;
  const Bytes name_only = {0x07, 0x01, 'm'};
  call = Codec().DecodeCall(name_only.data(), name_only.size());
  ASSERT_TRUE(call && call->Arguments());
  EXPECT_TRUE(call->Arguments()->IsNull());
  EXPECT_EQ(cerr.text(), "Invalid read in StandardCodecByteStreamReader\n");
}

TEST(StandardMethodCodecTest, RejectsCallsNotNamedByAString) {
  CerrCapture cerr;
  const Bytes message = {0x03, 1, 0, 0, 0, 0x00};
  EXPECT_FALSE(Codec().DecodeCall(message.data(), message.size()));
  EXPECT_EQ(cerr.text(), "Invalid method call; method name is not a string.\n");
}

TEST(StandardMethodCodecTest, EncodesEnvelopes) {
  const V yes(true);
  EXPECT_EQ(*Codec().EncodeSuccess(nullptr), (Bytes{0x00, 0x00}));
  EXPECT_EQ(*Codec().EncodeSuccess(&yes), (Bytes{0x00, 0x01}));
  EXPECT_EQ(*Codec().EncodeError("bad", "", nullptr),
            (Bytes{0x01, 0x07, 0x03, 'b', 'a', 'd', 0x00, 0x00}));
  EXPECT_EQ(*Codec().EncodeError("e", "no", &yes),
            (Bytes{0x01, 0x07, 0x01, 'e', 0x07, 0x02, 'n', 'o', 0x01}));
  // Values align from the envelope's first byte, not from their own.
  const V one(1.0);
  EXPECT_EQ(
      *Codec().EncodeSuccess(&one),
      (Bytes{0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  const V list(std::vector<int32_t>{1});
  EXPECT_EQ(*Codec().EncodeError("e", "", &list),
            (Bytes{0x01, 0x07, 0x01, 'e', 0x00, 0x09, 0x01, 0, 1, 0, 0, 0}));
}

TEST(StandardMethodCodecTest, DecodesResponses) {
  struct Case {
    Bytes response;
    bool understood;
    std::vector<Answer> answers;
  };
  const Case cases[] = {
      {{0x00, 0x00}, true, {{Answer::kSuccess, std::nullopt, "", ""}}},
      {{0x00, 0x07, 0x01, 'x'}, true, {{Answer::kSuccess, V("x"), "", ""}}},
      {{0x01, 0x07, 0x01, 'c', 0x00, 0x00},
       true,
       {{Answer::kError, std::nullopt, "c", ""}}},
      {{0x01, 0x07, 0x01, 'c', 0x07, 0x01, 'm', 0x02},
       true,
       {{Answer::kError, V(false), "c", "m"}}},
      {{0x02}, false, {}},
      {{0x05, 0x00}, false, {}},
      // Malformed error envelopes: code not text, message neither text nor
      // null.
      {{0x01, 0x00, 0x00, 0x00}, false, {}},
      {{0x01, 0x07, 0x01, 'c', 0x01, 0x00}, false, {}},
  };
  for (const Case& test : cases) {
    auto log = std::make_shared<std::vector<Answer>>();
    RecordingResult result(log);
    EXPECT_EQ(Codec().DecodeResponse(test.response.data(), test.response.size(),
                                     &result),
              test.understood);
    ASSERT_EQ(log->size(), test.answers.size());
    for (size_t i = 0; i < log->size(); ++i) {
      EXPECT_EQ((*log)[i].kind, test.answers[i].kind);
      EXPECT_EQ((*log)[i].value, test.answers[i].value);
      EXPECT_EQ((*log)[i].code, test.answers[i].code);
      EXPECT_EQ((*log)[i].message, test.answers[i].message);
    }
  }
}

}  // namespace
}  // namespace flutter::testing
