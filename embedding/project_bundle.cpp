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

}  // namespace flutter
