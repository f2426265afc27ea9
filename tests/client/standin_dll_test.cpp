// The engine-library stand-in DLL as the program meets it: loaded through its
// import library, with a real view window, frames and answers posted to the
// message loop, and the scripted Flutter side writing its transcript.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"

namespace flutter {
namespace {

std::wstring ExecutableFolder() {
  wchar_t path[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH);
  std::wstring folder(path);
  return folder.substr(0, folder.find_last_of(L'\\'));
}

std::string ReadFile(const std::wstring& path) {
  std::string contents;
  std::FILE* file = _wfopen(path.c_str(), L"rb");
  if (file == nullptr) {
    return contents;
  }
  char buffer[4096];
  size_t count = 0;
  while ((count = std::fread(buffer, 1, sizeof(buffer), file)) > 0) {
    contents.append(buffer, count);
  }
  std::fclose(file);
  return contents;
}

void WriteFile(const std::wstring& path, const std::string& contents) {
  std::FILE* file = _wfopen(path.c_str(), L"wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(contents.data(), 1, contents.size(), file);
  std::fclose(file);
}

// Dispatches window messages until `done` holds or `limit` has passed.
bool PumpUntil(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    const auto now = std::chrono::steady_clock::now();
    if (now >= deadline) {
      return false;
    }
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(left), QS_ALLINPUT);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }
  return true;
}

// The host's top-level window in miniature: closing destroys it, and its
// destruction ends the message loop.
struct HostWindow {
  HWND window = nullptr;
  std::function<void()> on_timer;

  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    auto* host = reinterpret_cast<HostWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    switch (message) {
      case WM_CLOSE:
        DestroyWindow(window);
        return 0;
      case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
      case WM_TIMER:
        KillTimer(window, wparam);
        if (host != nullptr && host->on_timer) {
          host->on_timer();
        }
        return 0;
      default:
        return DefWindowProcW(window, message, wparam, lparam);
    }
  }

  HostWindow() {
    WNDCLASSW window_class = {};
    window_class.lpfnWndProc = Proc;
    window_class.hInstance = GetModuleHandleW(nullptr);
    window_class.lpszClassName = L"StandinDllTestHost";
    RegisterClassW(&window_class);
    window = CreateWindowExW(0, L"StandinDllTestHost", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480,
                             nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }
  ~HostWindow() {
    if (IsWindow(window)) {
      DestroyWindow(window);
    }
    // Drop the quit message of our own destruction, if any.
    MSG message;
    PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
  }
};

// Runs the message loop until the quit message; false when `limit` passed
// first.
bool RunUntilQuit(std::chrono::milliseconds limit) {
  const UINT_PTR guard = SetTimer(nullptr, 0, static_cast<UINT>(limit.count()), nullptr);
  MSG message;
  bool quit = false;
  while (GetMessageW(&message, nullptr, 0, 0) > 0) {
    if (message.message == WM_TIMER && message.hwnd == nullptr && message.wParam == guard) {
      break;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
  quit = message.message == WM_QUIT;
  KillTimer(nullptr, guard);
  return quit;
}

class StandinDllTest : public ::testing::Test {
 protected:
  void SetUp() override {
    wchar_t temp[MAX_PATH] = {};
    GetTempPathW(MAX_PATH, temp);
    folder_ = std::wstring(temp) + L"tarvex-standin-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder_.c_str(), nullptr);
    CreateDirectoryW((folder_ + L"\\bundle").c_str(), nullptr);
    CreateDirectoryW((folder_ + L"\\bundle\\flutter_assets").c_str(), nullptr);
    script_ = folder_ + L"\\script.txt";
    transcript_ = folder_ + L"\\transcript.txt";
  }

  void TearDown() override {
    for (const wchar_t* name : {L"TARVEX_ENGINE_SCRIPT", L"TARVEX_ENGINE_TRANSCRIPT",
                                L"TARVEX_STANDIN_REPLY_TIMEOUT_MS", L"TARVEX_STANDIN_DPI"}) {
      SetEnvironmentVariableW(name, nullptr);
    }
    DeleteFileW(script_.c_str());
    DeleteFileW(transcript_.c_str());
    RemoveDirectoryW((folder_ + L"\\bundle\\flutter_assets").c_str());
    RemoveDirectoryW((folder_ + L"\\bundle").c_str());
    RemoveDirectoryW(folder_.c_str());
  }

  void UseScript(const std::string& script) {
    WriteFile(script_, script);
    SetEnvironmentVariableW(L"TARVEX_ENGINE_SCRIPT", script_.c_str());
    SetEnvironmentVariableW(L"TARVEX_ENGINE_TRANSCRIPT", transcript_.c_str());
  }

  ProjectBundle Project() const { return ProjectBundle(folder_ + L"\\bundle"); }

  std::wstring folder_;
  std::wstring script_;
  std::wstring transcript_;
};

TEST_F(StandinDllTest, ScriptedSendReachesTheHandlerAndCloseEndsTheProgram) {
  UseScript(
      "# greet, with a message box on the way\r\n"
      "dialogs accept\r\n"
      "send tarvex/test 07 05 67 72 65 65 74 00\r\n"
      "send nobody/listens 00\r\n"
      "frobnicate\r\n"
      "close\r\n"
      "send tarvex/test 07 05 67 72 65 65 74 00\r\n");
  HostWindow host;
  auto controller = std::make_unique<FlutterViewController>(640, 480, Project());
  ASSERT_NE(controller->view(), nullptr);
  SetParent(controller->view()->GetNativeWindow(), host.window);
  PluginRegistrarWindows registrar(controller->engine()->GetPluginRegistrar("tarvex/test"));
  MethodChannel<> channel(registrar.messenger(), "tarvex/test", &StandardMethodCodec::GetInstance());
  std::vector<std::string> calls;
  channel.SetMethodCallHandler([&](const MethodCall<>& call, std::unique_ptr<MethodResult<>> result) {
    calls.push_back(call.method_name());
    MessageBoxW(nullptr, L"Hello\nworld", L"Greeting \\ box", MB_OK);
    const uint8_t event[] = {0x01, 0x02};
    registrar.messenger()->Send("tarvex/events", event, sizeof(event));
    result->Success(EncodableValue("hi"));
  });
  bool shown = false;
  controller->engine()->SetNextFrameCallback([&] {
    shown = true;
    ShowWindow(host.window, SW_SHOWNORMAL);
  });

  EXPECT_TRUE(RunUntilQuit(std::chrono::seconds(60)));
  controller.reset();

  EXPECT_TRUE(shown);
  EXPECT_EQ(calls, std::vector<std::string>{"greet"});
  EXPECT_EQ(ReadFile(transcript_),
            "dialog Greeting \\\\ box | Hello\\nworld\n"
            "host tarvex/events 0102\n"
            "reply tarvex/test 0007026869\n"
            "unhandled nobody/listens\n"
            "error 5 unknown command \"frobnicate\"\n"
            "end\n");
}

TEST_F(StandinDllTest, AnswerAfterTheReplyTimeOutIsLate) {
  UseScript(
      "send tarvex/test 07 04 73 6C 6F 77 00\n"
      "sleep 1500\n"
      "close\n");
  SetEnvironmentVariableW(L"TARVEX_STANDIN_REPLY_TIMEOUT_MS", L"300");
  HostWindow host;
  auto controller = std::make_unique<FlutterViewController>(640, 480, Project());
  ASSERT_NE(controller->view(), nullptr);
  SetParent(controller->view()->GetNativeWindow(), host.window);
  PluginRegistrarWindows registrar(controller->engine()->GetPluginRegistrar("tarvex/test"));
  MethodChannel<> channel(registrar.messenger(), "tarvex/test", &StandardMethodCodec::GetInstance());
  std::unique_ptr<MethodResult<>> kept;
  channel.SetMethodCallHandler([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    kept = std::move(result);
    SetTimer(host.window, 1, 800, nullptr);
  });
  host.on_timer = [&] { kept->Success(EncodableValue(true)); };

  EXPECT_TRUE(RunUntilQuit(std::chrono::seconds(60)));
  controller.reset();

  EXPECT_EQ(ReadFile(transcript_),
            "noreply tarvex/test\n"
            "latereply tarvex/test 0001\n"
            "end\n");
}

TEST_F(StandinDllTest, ScriptThatRunsOutWritesEndAndTheProgramGoesOn) {
  UseScript("# nothing to say\nsleep 20\n");
  HostWindow host;
  FlutterViewController controller(320, 200, Project());
  ASSERT_NE(controller.view(), nullptr);
  SetParent(controller.view()->GetNativeWindow(), host.window);
  EXPECT_TRUE(PumpUntil([&] { return ReadFile(transcript_) == "end\n"; }, std::chrono::seconds(10)));
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_TRUE(IsWindow(host.window));
  EXPECT_EQ(ReadFile(transcript_), "end\n");
}

TEST_F(StandinDllTest, FramesAndRepliesArriveFromTheMessageLoop) {
  SetEnvironmentVariableW(L"TARVEX_ENGINE_TRANSCRIPT", transcript_.c_str());
  FlutterViewController controller(320, 200, Project());
  ASSERT_NE(controller.view(), nullptr);
  RECT size = {};
  GetClientRect(controller.view()->GetNativeWindow(), &size);
  EXPECT_EQ(size.right - size.left, 320);
  EXPECT_EQ(size.bottom - size.top, 200);

  int frames = 0;
  controller.engine()->SetNextFrameCallback([&frames] { ++frames; });
  EXPECT_EQ(frames, 0);
  EXPECT_TRUE(PumpUntil([&] { return frames == 1; }, std::chrono::seconds(10)));
  controller.ForceRedraw();
  PumpUntil([] { return false; }, std::chrono::milliseconds(200));
  EXPECT_EQ(frames, 1);

  int replies = 0;
  DWORD reply_thread = 0;
  const uint8_t question[] = {0xAB};
  controller.engine()->messenger()->Send("host/question", question, sizeof(question),
                                         [&](const uint8_t* reply, size_t reply_size) {
                                           ++replies;
                                           reply_thread = GetCurrentThreadId();
                                           EXPECT_EQ(reply, nullptr);
                                           EXPECT_EQ(reply_size, 0u);
                                         });
  EXPECT_EQ(replies, 0);
  EXPECT_TRUE(PumpUntil([&] { return replies == 1; }, std::chrono::seconds(10)));
  EXPECT_EQ(reply_thread, GetCurrentThreadId());
  EXPECT_EQ(ReadFile(transcript_), "host host/question ab\n");
}

TEST_F(StandinDllTest, MissingAssetsFolderRefusesTheEngineAndRelativePathsStartAtTheExecutable) {
  testing::internal::CaptureStderr();
  FlutterViewController missing(320, 200, ProjectBundle(folder_ + L"\\no-such-bundle"));
  const std::string errors = testing::internal::GetCapturedStderr();
  EXPECT_NE(errors.find("Failed to create view controller.\n"), std::string::npos);
  EXPECT_EQ(missing.view(), nullptr);

  const std::wstring relative = L"standin-test-bundle-" + std::to_wstring(GetCurrentProcessId());
  const std::wstring next_to_executable = ExecutableFolder() + L"\\" + relative;
  CreateDirectoryW(next_to_executable.c_str(), nullptr);
  CreateDirectoryW((next_to_executable + L"\\flutter_assets").c_str(), nullptr);
  {
    FlutterViewController found(320, 200, ProjectBundle(relative));
    EXPECT_NE(found.view(), nullptr);
  }
  RemoveDirectoryW((next_to_executable + L"\\flutter_assets").c_str());
  RemoveDirectoryW(next_to_executable.c_str());
}

TEST_F(StandinDllTest, DpiComesFromTheMonitorUnlessTheEnvironmentGivesOne) {
  HMONITOR monitor = MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTONEAREST);
  EXPECT_GE(FlutterDesktopGetDpiForMonitor(monitor), 96u);
  SetEnvironmentVariableW(L"TARVEX_STANDIN_DPI", L"144");
  EXPECT_EQ(FlutterDesktopGetDpiForMonitor(monitor), 144u);
}

TEST_F(StandinDllTest, NullHandlesGiveNullFalseOrNothing) {
  EXPECT_EQ(FlutterDesktopEngineGetMessenger(nullptr), nullptr);
  EXPECT_EQ(FlutterDesktopViewControllerCreate(320, 200, nullptr), nullptr);
  EXPECT_EQ(FlutterDesktopEngineGetPluginRegistrar(nullptr, "x"), nullptr);
  EXPECT_FALSE(FlutterDesktopMessengerSend(nullptr, "x", nullptr, 0));
  EXPECT_FALSE(FlutterDesktopMessengerIsAvailable(nullptr));
  EXPECT_EQ(FlutterDesktopViewGetHWND(nullptr), nullptr);
  FlutterDesktopViewControllerDestroy(nullptr);
  FlutterDesktopEngineSetNextFrameCallback(nullptr, nullptr, nullptr);

  FlutterViewController controller(320, 200, Project());
  EXPECT_FALSE(controller.HandleTopLevelWindowProc(controller.view()->GetNativeWindow(), WM_FONTCHANGE, 0, 0)
                   .has_value());
}

}  // namespace
}  // namespace flutter
