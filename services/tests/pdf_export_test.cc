// The PDF channel refuses every save the same way, whatever it carries.
#include <gtest/gtest.h>

#include "services/pdf_export_service.h"
#include "services/tests/channel_harness.h"

namespace orvalin::testing {
namespace {

constexpr char kChannel[] = "orvalin.ai/pdf_export";

class PdfExportTest : public ::testing::Test {
 protected:
  PdfExportTest() { RegisterPdfExportChannel(harness_.messenger()); }
  ChannelHarness harness_;
};

TEST_F(PdfExportTest, EverySaveGetsTheFixedRefusal) {
  std::vector<std::unique_ptr<EncodableValue>> shapes;
  shapes.push_back(nullptr);
  shapes.push_back(std::make_unique<EncodableValue>());
  shapes.push_back(std::make_unique<EncodableValue>(
      Map({{"bytes", EncodableValue(std::vector<uint8_t>{0x25, 0x50})},
           {"fileName", EncodableValue("report.pdf")}})));
  shapes.push_back(std::make_unique<EncodableValue>(
      EncodableList{EncodableValue("report.pdf")}));
  shapes.push_back(std::make_unique<EncodableValue>(int32_t{7}));
  shapes.push_back(std::make_unique<EncodableValue>("report.pdf"));
  for (auto& arguments : shapes) {
    Answer answer = harness_.Call(kChannel, "savePdf", std::move(arguments));
    EXPECT_EQ(answer.kind, Answer::Kind::kError);
    EXPECT_EQ(answer.code, "pdf_unsupported_windows");
    EXPECT_EQ(answer.message,
              "Windows 버전 PDF 출력은 다음 업데이트에서 지원됩니다.");
    EXPECT_FALSE(answer.has_details);
  }
}

TEST_F(PdfExportTest, OtherNamesAndOtherCaseAreNotImplemented) {
  for (const char* name :
       {"SavePdf", "savePDF", "savepdf", "savePdf ", "exportPdf", ""}) {
    EXPECT_EQ(harness_.Call(kChannel, name).kind, Answer::Kind::kNotImplemented)
        << name;
  }
}

}  // namespace
}  // namespace orvalin::testing
