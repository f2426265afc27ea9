// The engine-library stand-in DLL as the program meets it: loaded through its
// import library, with a real view window, and the scripted Flutter side
// writing its transcript.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "embedding/flutter_view_controller.h"
#include "embedding/method_channel.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"

namespace flutter {
namespace {

// A folder of its own for one run: the bundle, the script and the transcript.
std::filesystem::path RunFolder(const std::string& name) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() /
      ("tarvex-standin-" + name + "-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(folder / "bundle" / "flutter_assets");
  return folder;
}

// Runs `script` against a view in a miniature host window until the scripted
// close destroys the window (at most a minute); the handler of "tarvex/test"
// answers "hi" after running `during_call`. True when the engine drew its
// first frame.
bool RunScript(const std::filesystem::path& folder, const std::string& script,
               const std::function<void(PluginRegistrarWindows&)>& during_call) {
  std::ofstream(folder / "script.txt", std::ios::binary) << script;
  SetEnvironmentVariableW(L"TARVEX_ENGINE_SCRIPT", (folder / "script.txt").c_str());
  SetEnvironmentVariableW(L"TARVEX_ENGINE_TRANSCRIPT", (folder / "transcript.txt").c_str());

  // The host's top-level window in miniature; closing destroys it.
  HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480, nullptr, nullptr,
                              nullptr, nullptr);
  auto controller =
      std::make_unique<FlutterViewController>(640, 480, ProjectBundle((folder / "bundle").wstring()));
  EXPECT_NE(controller->view(), nullptr);
  if (controller->view() == nullptr) {
    DestroyWindow(host);
    return false;
  }
  SetParent(controller->view()->GetNativeWindow(), host);
  PluginRegistrarWindows registrar(controller->engine()->GetPluginRegistrar("tarvex/test"));
  MethodChannel<> channel(registrar.messenger(), "tarvex/test", &StandardMethodCodec::GetInstance());
  channel.SetMethodCallHandler([&](const MethodCall<>& /*call*/, std::unique_ptr<MethodResult<>> result) {
    during_call(registrar);
    result->Success(EncodableValue("hi"));
  });
  bool framed = false;
  controller->engine()->SetNextFrameCallback([&framed] { framed = true; });

  // A thread timer wakes the loop, so the deadline is seen.
  SetTimer(nullptr, 0, 100, nullptr);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
  MSG message;
  while (IsWindow(host) && std::chrono::steady_clock::now() < deadline &&
         GetMessageW(&message, nullptr, 0, 0) > 0) {
    DispatchMessageW(&message);
  }
  EXPECT_FALSE(IsWindow(host));
  controller.reset();
  return framed;
}

std::string ReadTranscript(const std::filesystem::path& folder) {
  std::ostringstream transcript;
  transcript << std::ifstream(folder / "transcript.txt", std::ios::binary).rdbuf();
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return transcript.str();
}

TEST(StandinDllTest, ScriptedSendReachesTheHandlerAndCloseEndsTheRun) {
  const std::filesystem::path folder = RunFolder("send");
  const bool framed = RunScript(folder,
                                "# greet, with a message box on the way\r\n"
                                "dialogs accept\r\n"
                                "send tarvex/test 07 05 67 72 65 65 74 00\r\n"
                                "send nobody/listens 00\r\n"
                                "frobnicate\r\n"
                                "close\r\n"
                                "send tarvex/test 07 05 67 72 65 65 74 00\r\n",
                                [](PluginRegistrarWindows& registrar) {
                                  MessageBoxW(nullptr, L"Hello\nworld", L"Greeting \\ box", MB_OK);
                                  // The watcher names the icon each box shows.
                                  const std::pair<UINT, const wchar_t*> icons[] = {
                                      {MB_ICONERROR, L"MB_ICONERROR"},
                                      {MB_ICONWARNING, L"MB_ICONWARNING"},
                                      {MB_ICONINFORMATION, L"MB_ICONINFORMATION"},
                                      {MB_ICONQUESTION, L"MB_ICONQUESTION"}};
                                  for (const auto& [icon, text] : icons) {
                                    MessageBoxW(nullptr, text, L"Icon", MB_OK | icon);
                                  }
                                  const uint8_t event[] = {0x01, 0x02};
                                  registrar.messenger()->Send("tarvex/events", event, sizeof(event));
                                });
  const std::string transcript = ReadTranscript(folder);

  EXPECT_TRUE(framed);
  // Backslashes in the transcript's quoted texts are doubled.
  std::string bundle;
  for (char c : (folder / "bundle").string()) {
    bundle += c == '\\' ? std::string("\\\\") : std::string(1, c);
  }
  EXPECT_EQ(transcript, "engine assets \"" + bundle + "\\\\flutter_assets\" icu \"" + bundle +
                            "\\\\icudtl.dat\" aot \"" + bundle +
                            "\\\\app.so\" entrypoint \"\" arguments 0 null\n"
                            // The host window here is never shown.
                            "frame 1 hidden hidden\n"
                            "dialog Greeting \\\\ box | Hello\\nworld | icon none\n"
                            "dialog Icon | MB_ICONERROR | icon error\n"
                            "dialog Icon | MB_ICONWARNING | icon warning\n"
                            "dialog Icon | MB_ICONINFORMATION | icon information\n"
                            "dialog Icon | MB_ICONQUESTION | icon question\n"
                            "host tarvex/events 0102\n"
                            "reply tarvex/test 0007026869\n"
                            "unhandled nobody/listens\n"
                            "error 5 unknown command \"frobnicate\"\n"
                            "end\n"
                            // The host window went first, and the view with it.
                            "viewcontroller destroyed gone\n");
}

// Creates demand-start services that are never started; deletes them again.
class ScratchServices {
 public:
  explicit ScratchServices(const std::vector<std::wstring>& names)
      : manager_(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE)) {
    for (const std::wstring& name : names) {
      SC_HANDLE service = CreateServiceW(
          manager_, name.c_str(), name.c_str(), DELETE, SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START,
          SERVICE_ERROR_IGNORE, L"C:\\windows\\system32\\tarvex-never-started.exe", nullptr, nullptr, nullptr,
          nullptr, nullptr);
      EXPECT_NE(service, nullptr) << "error " << GetLastError();
      if (service != nullptr) {
        services_.push_back(service);
      }
    }
  }
  ~ScratchServices() {
    for (SC_HANDLE service : services_) {
      DeleteService(service);
      CloseServiceHandle(service);
    }
    CloseServiceHandle(manager_);
  }
  ScratchServices(const ScratchServices&) = delete;
  ScratchServices& operator=(const ScratchServices&) = delete;

 private:
  SC_HANDLE manager_;
  std::vector<SC_HANDLE> services_;
};

uint64_t NowUnixMilliseconds() {
  FILETIME now{};
  GetSystemTimeAsFileTime(&now);
  const uint64_t ticks = (static_cast<uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
  return (ticks - 116444736000000000ULL) / 10000;
}

TEST(StandinDllTest, TimedTranscriptListsServicesAndNotes) {
  // Names only this run uses, differing in case from the prefix given, and
  // one that does not start with it.
  const std::string id = std::to_string(GetCurrentProcessId());
  const std::wstring wide_id(id.begin(), id.end());
  ScratchServices services({L"TarvexScratch" + wide_id + L"b", L"tarvexscratch" + wide_id + L"A",
                            L"TarvexScratchOther" + wide_id});
  const std::filesystem::path folder = RunFolder("services");
  SetEnvironmentVariableW(L"TARVEX_STANDIN_TIMES", L"1");
  const uint64_t started = NowUnixMilliseconds();
  RunScript(folder,
            "note before the call\n"
            "send tarvex/test 07 05 67 72 65 65 74 00\n"
            "services TARVEXSCRATCH" +
                id +
                "\n"
                "services TarvexScratchNone" +
                id +
                "\n"
                "note\n"
                "close\n",
            [](PluginRegistrarWindows& /*registrar*/) { Sleep(50); });
  const uint64_t ended = NowUnixMilliseconds();
  SetEnvironmentVariableW(L"TARVEX_STANDIN_TIMES", nullptr);
  std::istringstream transcript(ReadTranscript(folder));

  // Every line carries a time within the run, never running backwards; the
  // rest of the line is as without times.
  std::vector<std::string> lines;
  std::vector<uint64_t> times;
  for (std::string line; std::getline(transcript, line);) {
    const size_t blank = line.find(' ');
    ASSERT_NE(blank, std::string::npos) << line;
    const uint64_t time = std::stoull(line.substr(0, blank));
    EXPECT_GE(time, started) << line;
    EXPECT_LE(time, ended) << line;
    if (!times.empty()) {
      EXPECT_GE(time, times.back()) << line;
    }
    times.push_back(time);
    lines.push_back(line.substr(blank + 1));
  }
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0].rfind("engine assets ", 0), 0u) << lines[0];
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + 1, lines.end()),
      (std::vector<std::string>{"frame 1 hidden hidden", "note before the call", "sending tarvex/test",
                                "reply tarvex/test 0007026869", "service tarvexscratch" + id + "A STOPPED",
                                "service TarvexScratch" + id + "b STOPPED", "services 2", "services 0",
                                "note", "end", "viewcontroller destroyed gone"}));
  // The handler took 50 ms between sending and its reply.
  if (lines.size() == times.size() && lines.size() > 4) {
    EXPECT_GE(times[4] - times[3], 40u);
  }
}

}  // namespace
}  // namespace flutter
