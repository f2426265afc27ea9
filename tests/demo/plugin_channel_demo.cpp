// Until the desktop host exists, this small Windows program stands in for it
// in the demonstration: a top-level window that hosts the engine library's
// view, with WindowsVpnPlugin answering the channel "tarvex/windows_vpn" on
// the real (Wine) system. The engine library's scripted Flutter side drives
// it; see scripts/run-demo.
#include <windows.h>

#include <memory>
#include <utility>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace {

LRESULT CALLBACK DemoWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_DESTROY) {
    PostQuitMessage(0);
    return 0;
  }
  return DefWindowProcW(window, message, wparam, lparam);
}

}  // namespace

int main() {
  WNDCLASSW window_class{};
  window_class.lpfnWndProc = DemoWindowProc;
  window_class.hInstance = GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"TarvexPluginDemo";
  RegisterClassW(&window_class);
  HWND window = CreateWindowExW(0, window_class.lpszClassName, L"tarvex (plugin demo)", WS_OVERLAPPEDWINDOW,
                                10, 10, 640, 480, nullptr, nullptr, window_class.hInstance, nullptr);
  if (window == nullptr) {
    return 1;
  }

  RECT client{};
  GetClientRect(window, &client);
  auto controller = std::make_unique<flutter::FlutterViewController>(client.right, client.bottom,
                                                                     flutter::ProjectBundle(L"data"));
  if (controller->view() == nullptr) {
    return 1;
  }
  SetParent(controller->view()->GetNativeWindow(), window);

  flutter::PluginRegistrarWindows registrar(controller->engine()->GetPluginRegistrar("tarvex/windows_vpn"));
  tarvex::WindowsVpnPlugin plugin;
  flutter::MethodChannel<flutter::EncodableValue> channel(registrar.messenger(), "tarvex/windows_vpn",
                                                          &flutter::StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler(
      [&plugin](const auto& call, auto result) { plugin.HandleMethodCall(call, std::move(result)); });

  controller->engine()->SetNextFrameCallback([window] { ShowWindow(window, SW_SHOWNORMAL); });
  controller->ForceRedraw();

  MSG message;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  channel.SetMethodCallHandler(nullptr);
  controller.reset();
  return 0;
}
