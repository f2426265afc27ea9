#pragma once

#include <windows.h>

#include <memory>

#include "embedding/flutter_view_controller.h"
#include "embedding/project_bundle.h"
#include "host/win32_window.h"

// The application's window: starts the Flutter engine with a view that fills
// the client area, registers every plugin, and shows itself once the first
// frame has been drawn. The engine gets the first chance at each message.
class FlutterWindow : public Win32Window {
 public:
  explicit FlutterWindow(const flutter::ProjectBundle& project);
  ~FlutterWindow() override;

 protected:
  bool OnCreate() override;
  void OnDestroy() override;
  LRESULT MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept override;

 private:
  flutter::ProjectBundle project_;
  // Null before OnCreate and after OnDestroy; the destructor ends a
  // controller still held before the project and the base window go.
  std::unique_ptr<flutter::FlutterViewController> flutter_controller_;
};
