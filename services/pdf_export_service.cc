#include "services/pdf_export_service.h"

namespace orvalin {

void HandlePdfExportCall(const Call& call, Result result) {
  if (call.MethodName() != "savePdf") {
    result->NotImplemented();
    return;
  }
  AnswerError(result, kPdfUnsupported);
}

void RegisterPdfExportChannel(flutter::BinaryMessenger* messenger) {
  RegisterStatelessChannel(messenger, "orvalin.ai/pdf_export",
                           &HandlePdfExportCall);
}

}  // namespace orvalin
