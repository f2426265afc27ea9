#include "embedding/flutter_view.h"

namespace flutter {

FlutterView::FlutterView(FlutterDesktopView* view) : view_(view) {}

FlutterView::~FlutterView() = default;

FlutterDesktopWindowHandle FlutterView::GetNativeWindow() const { return FlutterDesktopViewGetHWND(view_); }

}  // namespace flutter
