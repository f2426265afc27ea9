#pragma once

#include <memory>
#include <optional>

#include "embedding/flutter_engine.h"
#include "embedding/flutter_view.h"
#include "embedding/flutter_windows.h"
#include "embedding/project_bundle.h"

namespace flutter {

// Creates an engine from a project and a view for it. Creating the library's
// view controller starts the engine; destroying it ends the engine.
class FlutterViewController {
 public:
  // `width` and `height` are physical pixels. When the library refuses the
  // engine or the view controller, a line is printed, view() returns null and
  // the calls below reach nothing in the library.
  FlutterViewController(int width, int height, const ProjectBundle& project);
  virtual ~FlutterViewController();

  FlutterViewController(const FlutterViewController&) = delete;
  FlutterViewController& operator=(const FlutterViewController&) = delete;

  FlutterEngine* engine() const { return engine_.get(); }
  // Null when creation failed.
  FlutterView* view() const { return view_.get(); }

  // Asks for a new frame.
  void ForceRedraw();

  // Offers a top-level window message to the engine and its plugins; the
  // result when they handled it, otherwise nothing and the window handles
  // the message itself.
  std::optional<FlutterDesktopLResult> HandleTopLevelWindowProc(FlutterDesktopWindowHandle window,
                                                                FlutterDesktopWindowMessage message,
                                                                FlutterDesktopWParam wparam,
                                                                FlutterDesktopLParam lparam);

 private:
  FlutterDesktopViewController* controller_ = nullptr;
  std::shared_ptr<FlutterEngine> engine_;
  std::unique_ptr<FlutterView> view_;
};

}  // namespace flutter
