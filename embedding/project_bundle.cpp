#include "embedding/project_bundle.h"

#include <utility>

namespace flutter {

ProjectBundle::ProjectBundle(std::wstring_view bundle_directory)
    : assets_path_(std::wstring(bundle_directory) + L"\\flutter_assets"),
      icu_data_path_(std::wstring(bundle_directory) + L"\\icudtl.dat"),
      aot_library_path_(std::wstring(bundle_directory) + L"\\app.so") {}

void ProjectBundle::set_dart_entrypoint_arguments(std::vector<std::string>&& arguments) {
  dart_entrypoint_arguments_ = std::move(arguments);
}

void ProjectBundle::set_dart_entrypoint(std::string entrypoint) { dart_entrypoint_ = std::move(entrypoint); }

void ProjectBundle::set_engine_options(int32_t option_1, int32_t option_2) {
  engine_option_1_ = option_1;
  engine_option_2_ = option_2;
}

}  // namespace flutter
