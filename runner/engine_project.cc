#include "runner/engine_project.h"

namespace flutter {

EngineProject::EngineProject(const std::wstring& folder)
    : assets_path_(folder + L"\\flutter_assets"),
      icu_data_path_(folder + L"\\icudtl.dat"),
      aot_library_path_(folder + L"\\app.so") {}

}  // namespace flutter
