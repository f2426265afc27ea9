#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace flutter {

// Where the application bundle lies and what the Dart entrypoint is started
// with. The engine is created from it.
class ProjectBundle {
 public:
  // Derives the three bundle paths from `bundle_directory` by plain
  // concatenation; a relative directory gives relative paths, which the
  // engine library resolves.
  explicit ProjectBundle(std::wstring_view bundle_directory);

  void set_dart_entrypoint_arguments(std::vector<std::string>&& arguments);
  // The host leaves the entrypoint empty and both options 0; the engine is
  // handed whatever is set here.
  void set_dart_entrypoint(std::string entrypoint);
  void set_engine_options(int32_t option_1, int32_t option_2);

  const std::wstring& assets_path() const { return assets_path_; }
  const std::wstring& icu_data_path() const { return icu_data_path_; }
  const std::wstring& aot_library_path() const { return aot_library_path_; }
  const std::string& dart_entrypoint() const { return dart_entrypoint_; }
  const std::vector<std::string>& dart_entrypoint_arguments() const { return dart_entrypoint_arguments_; }
  int32_t engine_option_1() const { return engine_option_1_; }
  int32_t engine_option_2() const { return engine_option_2_; }

 private:
  std::wstring assets_path_;
  std::wstring icu_data_path_;
  std::wstring aot_library_path_;
  // Empty: the library's default entrypoint.
  std::string dart_entrypoint_;
  std::vector<std::string> dart_entrypoint_arguments_;
  int32_t engine_option_1_ = 0;
  int32_t engine_option_2_ = 0;
};

}  // namespace flutter
