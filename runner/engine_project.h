// What the engine runs: assets, ICU data, AOT library and arguments.
#ifndef RUNNER_ENGINE_PROJECT_H_
#define RUNNER_ENGINE_PROJECT_H_

#include <cstdint>
#include <string>
#include <vector>

namespace flutter {

class EngineProject {
 public:
  // Paths are |folder| + "\flutter_assets", "\icudtl.dat", "\app.so".
  explicit EngineProject(const std::wstring& folder);

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }
  const std::string& dart_entrypoint() const { return dart_entrypoint_; }
  const std::vector<std::string>& dart_entrypoint_arguments() const {
    return dart_entrypoint_arguments_;
  }
  void set_dart_entrypoint_arguments(std::vector<std::string> arguments) {
    dart_entrypoint_arguments_ = std::move(arguments);
  }
  const int32_t* engine_options() const { return engine_options_; }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  std::string dart_entrypoint_;
  std::vector<std::string> dart_entrypoint_arguments_;
  int32_t engine_options_[3] = {0, 0, 0};
};

}  // namespace flutter

#endif  // RUNNER_ENGINE_PROJECT_H_
