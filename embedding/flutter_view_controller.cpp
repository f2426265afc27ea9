#include "embedding/flutter_view_controller.h"

#include <iostream>

namespace flutter {

FlutterViewController::FlutterViewController(int width, int height, const ProjectBundle& project)
    : engine_(std::make_shared<FlutterEngine>(project)) {
  FlutterDesktopEngine* engine = engine_->HandOverEngine();
  // The library takes no refused (null) engine; without one there is no
  // view controller either.
  if (engine != nullptr) {
    controller_ = FlutterDesktopViewControllerCreate(width, height, engine);
  }
  if (controller_ == nullptr) {
    std::cerr << "Failed to create view controller." << std::endl;
    return;
  }
  view_ = std::make_unique<FlutterView>(FlutterDesktopViewControllerGetView(controller_));
}

FlutterViewController::~FlutterViewController() {
  if (controller_ != nullptr) {
    // Ends the engine too; the engine wrapper no longer owns it.
    FlutterDesktopViewControllerDestroy(controller_);
    controller_ = nullptr;
  }
  view_.reset();
  engine_.reset();
}

void FlutterViewController::ForceRedraw() {
  if (controller_ != nullptr) {
    FlutterDesktopViewControllerForceRedraw(controller_);
  }
}

std::optional<FlutterDesktopLResult> FlutterViewController::HandleTopLevelWindowProc(
    FlutterDesktopWindowHandle window, FlutterDesktopWindowMessage message, FlutterDesktopWParam wparam,
    FlutterDesktopLParam lparam) {
  FlutterDesktopLResult result = 0;
  if (controller_ == nullptr || !FlutterDesktopViewControllerHandleTopLevelWindowProc(
                                    controller_, window, message, wparam, lparam, &result)) {
    return std::nullopt;
  }
  return result;
}

}  // namespace flutter
