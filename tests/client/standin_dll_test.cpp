// The engine-library stand-in DLL as the program meets it, for what no run of
// the program reaches: a script line it refuses, the lines after "close".

#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/standard_method_codec.h"

namespace flutter {
namespace {

TEST(StandinDllTest, ScriptedSendReachesTheHandlerAndCloseEndsTheRun) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("tarvex-standin-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder / "bundle" / "flutter_assets");
  std::ofstream(folder / "script.txt", std::ios::binary) << "# greet\r\n"
                                                            "send tarvex/test 07 05 67 72 65 65 74 00\r\n"
                                                            "send nobody/listens 00\r\n"
                                                            "frobnicate\r\n"
                                                            "close\r\n"
                                                            "send tarvex/test 07 05 67 72 65 65 74 00\r\n";
  SetEnvironmentVariableW(L"TARVEX_ENGINE_SCRIPT", (folder / "script.txt").c_str());
  SetEnvironmentVariableW(L"TARVEX_ENGINE_TRANSCRIPT", (folder / "transcript.txt").c_str());

  // The host's top-level window in miniature, never shown; closing destroys it.
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480, nullptr, nullptr,
                              nullptr, nullptr);
  auto controller =
      std::make_unique<FlutterViewController>(640, 480, ProjectBundle((folder / "bundle").wstring()));
  ASSERT_NE(controller->view(), nullptr);
  SetParent(controller->view()->GetNativeWindow(), host);
  PluginRegistrarWindows registrar(controller->engine()->GetPluginRegistrar("tarvex/test"));
  MethodChannel<> channel(registrar.messenger(), "tarvex/test", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([](const MethodCall<>&, std::unique_ptr<MethodResult<>> result) {
    result->Success(EncodableValue("hi"));
  });
  // A thread timer wakes the loop, so the deadline is seen.
  SetTimer(nullptr, 0, 100, nullptr);
  const ULONGLONG deadline = GetTickCount64() + 60000;
  MSG message;
  while (IsWindow(host) && GetTickCount64() < deadline && GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
  EXPECT_FALSE(IsWindow(host));
  controller.reset();

  // Read while the library still holds the transcript open: every line is flushed as written.
  std::ostringstream transcript;
  transcript << std::ifstream(folder / "transcript.txt", std::ios::binary).rdbuf();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  // After the engine line, which the program's own runs check.
  const std::string lines = transcript.str();
  EXPECT_EQ(lines.rfind("engine assets ", 0), 0u) << lines;
  EXPECT_EQ(lines.substr(lines.find('\n') + 1),
            "frame 1 hidden hidden\n"
            "reply tarvex/test 0007026869\n"
            "unhandled nobody/listens\n"
            "error 4 unknown command \"frobnicate\"\n"
            "end\n"
            // The host window went first, and the view with it.
            "viewcontroller destroyed gone\n");
}

}  // namespace
}  // namespace flutter
