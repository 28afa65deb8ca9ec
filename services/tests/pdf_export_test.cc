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
  ExpectErrorForEach(
      &harness_, kChannel, "savePdf",
      {std::nullopt, EncodableValue(),
       Map({{"bytes", EncodableValue(std::vector<uint8_t>{0x25, 0x50})},
            {"fileName", EncodableValue("report.pdf")}}),
       EncodableList{EncodableValue("report.pdf")}, EncodableValue(int32_t{7}),
       EncodableValue("report.pdf")},
      "pdf_unsupported_windows",
      "Windows 버전 PDF 출력은 다음 업데이트에서 지원됩니다.");
}

}  // namespace
}  // namespace orvalin::testing
