#pragma once

#include <memory>

#include "embedding/flutter_view.h"
#include "embedding/flutter_windows.h"
#include "embedding/plugin_registrar.h"

namespace flutter {

// A plugin registrar that also gives the plugin the view, when there is one.
class PluginRegistrarWindows : public PluginRegistrar {
 public:
  explicit PluginRegistrarWindows(FlutterDesktopPluginRegistrar* registrar);
  ~PluginRegistrarWindows() override;

  // Null when the engine has no view. Must not be used once the engine is
  // gone: the library's view goes with it.
  FlutterView* GetView() { return view_.get(); }

 private:
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
