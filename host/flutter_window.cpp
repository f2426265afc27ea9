#include "host/flutter_window.h"

#include <optional>

#include "embedding/plugin_registrar_windows.h"
#include "host/plugin_registrant.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace {

// The in-process plugin's registrar name, the same text as its channel.
constexpr char kVpnPluginName[] = "tarvex/windows_vpn";

// The registrar of the in-process plugin: made from the first registrar the
// engine gives for it, kept until the process ends, when it destroys the
// plugin.
flutter::PluginRegistrarWindows* VpnPluginRegistrar(FlutterDesktopPluginRegistrar* registrar) {
  static flutter::PluginRegistrarWindows vpn_plugin_registrar(registrar);
  return &vpn_plugin_registrar;
}

}  // namespace

FlutterWindow::FlutterWindow(const flutter::ProjectBundle& project) : project_(project) {}

FlutterWindow::~FlutterWindow() {
  // The window may still be open here (the loop ended on a quit message
  // nobody posted by closing it, or creation failed half-way). The controller
  // goes first, while this is still a FlutterWindow, and through reset(): the
  // pointer is null before the view and engine are torn down, so a message
  // their teardown sends to the window (the view's parent notification, a
  // focus change) finds no controller instead of one being destroyed.
  flutter_controller_.reset();
}

bool FlutterWindow::OnCreate() {
  if (!Win32Window::OnCreate()) {
    return false;
  }
  // The window is already scaled: the client area is in physical pixels.
  const RECT frame = GetClientArea();
  flutter_controller_ = std::make_unique<flutter::FlutterViewController>(frame.right - frame.left,
                                                                         frame.bottom - frame.top, project_);
  if (flutter_controller_->engine() == nullptr || flutter_controller_->view() == nullptr) {
    return false;
  }
  RegisterPlugins(flutter_controller_->engine());

  FlutterDesktopPluginRegistrar* vpn_registrar =
      flutter_controller_->engine()->GetPluginRegistrar(kVpnPluginName);
  if (vpn_registrar != nullptr) {
    tarvex::WindowsVpnPlugin::RegisterWithRegistrar(VpnPluginRegistrar(vpn_registrar));
  }

  SetChildContent(flutter_controller_->view()->GetNativeWindow());
  flutter_controller_->engine()->SetNextFrameCallback([this] { Show(); });
  // A first frame even before any input arrives.
  flutter_controller_->ForceRedraw();
  return true;
}

void FlutterWindow::OnDestroy() {
  // reset() clears the pointer before the controller is destroyed, for the
  // same reason as in the destructor.
  flutter_controller_.reset();
  Win32Window::OnDestroy();
}

LRESULT FlutterWindow::MessageHandler(HWND window, UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  if (flutter_controller_) {
    const std::optional<LRESULT> result =
        flutter_controller_->HandleTopLevelWindowProc(window, message, wparam, lparam);
    if (result) {
      return *result;
    }
  }
  if (message == WM_FONTCHANGE && flutter_controller_) {
    flutter_controller_->engine()->ReloadSystemFonts();
  }
  return Win32Window::MessageHandler(window, message, wparam, lparam);
}
