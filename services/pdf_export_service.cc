#include "services/pdf_export_service.h"

namespace orvalin {

void HandlePdfExportCall(const Call& call, Result result) {
  if (call.MethodName() != "savePdf") {
    result->NotImplemented();
    return;
  }
  result->Error("pdf_unsupported_windows",
                "Windows 버전 PDF 출력은 다음 업데이트에서 지원됩니다.");
}

void RegisterPdfExportChannel(flutter::BinaryMessenger* messenger) {
  RegisterStatelessChannel(messenger, "orvalin.ai/pdf_export",
                           &HandlePdfExportCall);
}

}  // namespace orvalin
