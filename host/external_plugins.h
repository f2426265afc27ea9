#pragma once

// The registration functions of the external plugin libraries the program
// imports. Each takes the engine library's registrar handle, possibly null,
// and returns nothing.

#include "embedding/flutter_windows.h"

#if defined(__cplusplus)
extern "C" {
#endif

__declspec(dllimport) void AppLinksPluginCApiRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void DesktopDropPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void FileSelectorWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void FlutterSecureStorageWindowsPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void LocalNotifierPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void RivePluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void ScreenRetrieverPluginRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void SharePlusWindowsPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void SystemTrayPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void UrlLauncherWindowsRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void VideoPlayerWinPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void WindowManagerPluginRegisterWithRegistrar(FlutterDesktopPluginRegistrar* registrar);
__declspec(dllimport) void WireguardFlutterPluginCApiRegisterWithRegistrar(
    FlutterDesktopPluginRegistrar* registrar);

#if defined(__cplusplus)
}  // extern "C"
#endif
