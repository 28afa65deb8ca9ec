// "orvalin.ai/pdf_export": PDF output is not available on Windows yet; every
// "savePdf" gets the same refusal.
#ifndef SERVICES_PDF_EXPORT_SERVICE_H_
#define SERVICES_PDF_EXPORT_SERVICE_H_

#include "services/service_helpers.h"

namespace orvalin {

inline constexpr ServiceError kPdfUnsupported = {
    "pdf_unsupported_windows",
    "Windows 버전 PDF 출력은 다음 업데이트에서 지원됩니다."};

void RegisterPdfExportChannel(flutter::BinaryMessenger* messenger);
void HandlePdfExportCall(const Call& call, Result result);

}  // namespace orvalin

#endif  // SERVICES_PDF_EXPORT_SERVICE_H_
