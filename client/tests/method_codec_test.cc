// Method calls and result envelopes over the standard message format.
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
