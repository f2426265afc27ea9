#pragma once

#include "embedding/flutter_windows.h"

namespace flutter {

// The engine library's view: the window the Flutter content is drawn into.
class FlutterView {
 public:
  // `view` is not owned.
  explicit FlutterView(FlutterDesktopView* view);
  virtual ~FlutterView();

  FlutterView(const FlutterView&) = delete;
  FlutterView& operator=(const FlutterView&) = delete;

  FlutterDesktopWindowHandle GetNativeWindow() const;

 private:
  FlutterDesktopView* view_;
};

}  // namespace flutter
