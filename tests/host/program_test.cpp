// tarvex.exe run whole, as a child process; checks that cannot touch each other share a run.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct HostSetup {
  std::map<std::wstring, std::wstring> environment;  // the stand-ins' controls
  bool without_data = false;                         // the installation without its "data" folder
  bool parent_console = false;                       // one to attach to, as from a console window
  bool debugged = false;                             // with the test as its debugger
  std::wstring arguments = {};                       // after the program path, as typed
  std::vector<std::string> script = {};              // the scripted Flutter side
};

// Leaves the test's console (for a new one when `open`) with the standard handles aside: AllocConsole
// points them there, and (under Wine) FreeConsole closes them, the test's output included.
void ReplaceConsole(bool open) {
  const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  HANDLE kept[3] = {};
  for (int i = 0; i < 3; ++i) {
    kept[i] = GetStdHandle(ids[i]);
    SetStdHandle(ids[i], nullptr);
  }
  FreeConsole();
  if (open) AllocConsole();
  for (int i = 0; i < 3; ++i) SetStdHandle(ids[i], kept[i]);
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream text(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) lines.push_back(line.substr(0, line.find('\r')));
  return lines;
}

// What a run left: its exit code (99: ended by the test after a minute), the stand-ins' records.
struct ProgramRun {
  DWORD exit_code;
  std::vector<std::string> transcript;
  std::vector<std::string> plugins;
  std::vector<std::string> dwmapi;
};

// Runs tarvex.exe from a private copy of the installation, with the recording dwmapi.dll, until it
// ends; once the script has run out, `after_script` gets its window to end it.
ProgramRun RunProgram(const HostSetup& setup, const std::function<void(HWND)>& after_script = {}) {
  static int runs = 0;
  const fs::path folder = fs::temp_directory_path() / ("tarvex-host-" + std::to_string(++runs));
  const fs::path install = folder / "install";
  fs::remove_all(folder);
  fs::create_directories(install);
  wchar_t test_path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, test_path, MAX_PATH + 1);
  const fs::path bin = fs::path(test_path).parent_path();
  for (const fs::path& file : fs::directory_iterator(bin)) {
    if (file.extension() == ".dll" || file.filename() == "tarvex.exe") fs::copy(file, install);
  }
  if (!setup.without_data) fs::copy(bin / "data", install / "data", fs::copy_options::recursive);
  fs::copy(bin.parent_path() / "standins" / "dwmapi" / "dwmapi.dll", install);
  std::string script;
  for (const std::string& line : setup.script) script += line + "\n";
  std::ofstream(folder / "script.txt", std::ios::binary) << script;

  std::map<std::wstring, std::wstring> environment = {
      {L"TARVEX_ENGINE_SCRIPT", (folder / "script.txt").wstring()},
      {L"TARVEX_ENGINE_TRANSCRIPT", (folder / "transcript.txt").wstring()},
      {L"TARVEX_STANDIN_PLUGIN_RECORD", (folder / "plugins.txt").wstring()},
      {L"TARVEX_STANDIN_DWMAPI_RECORD", (folder / "dwmapi.txt").wstring()},
      {L"APPDATA", folder.wstring()},  // for the plugin's debug log
  };
  environment.insert(setup.environment.begin(), setup.environment.end());
  for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), value.c_str());
  if (setup.parent_console) ReplaceConsole(true);
  // Standard output and error go nowhere until the program opens a console.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
  std::wstring command_line = L"\"" + (install / "tarvex.exe").wstring() + L"\" " + setup.arguments;
  // Without the test's console (Wine gives one even to a GUI program).
  const DWORD flags = DETACHED_PROCESS | (setup.debugged ? DEBUG_ONLY_THIS_PROCESS : 0);
  PROCESS_INFORMATION process = {};
  bool debugging = CreateProcessW(nullptr, &command_line[0], nullptr, nullptr, TRUE, flags, nullptr,
                                  folder.c_str(), &startup, &process) &&
                   setup.debugged;
  CloseHandle(process.hThread);
  CloseHandle(startup.hStdOutput);
  for (const auto& [name, value] : environment) SetEnvironmentVariableW(name.c_str(), nullptr);

  // Answers a debugged program's events until it has exited (true) or time is up.
  const auto debug = [&debugging](ULONGLONG milliseconds) {
    const ULONGLONG deadline = GetTickCount64() + milliseconds;
    for (ULONGLONG now = GetTickCount64(); debugging; now = GetTickCount64()) {
      DEBUG_EVENT event = {};
      if (now >= deadline || !WaitForDebugEvent(&event, static_cast<DWORD>(deadline - now))) return false;
      if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) CloseHandle(event.u.CreateProcessInfo.hFile);
      if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) CloseHandle(event.u.LoadDll.hFile);
      // The loader's breakpoint is the debugger's; other exceptions are the program's.
      const bool programs_own = event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                                event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT;
      debugging = event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId,
                         programs_own ? DBG_EXCEPTION_NOT_HANDLED : DBG_CONTINUE);
    }
    return true;
  };
  for (int waited = 0; after_script && waited < 60000; waited += 20) {
    if (testing::Value(ReadLines(folder / "transcript.txt"), testing::Contains("end"))) {
      after_script(FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", nullptr));
      break;
    }
    if (debug(20)) Sleep(20);
  }
  DWORD exit_code = 0;
  if (!debug(60000) || WaitForSingleObject(process.hProcess, 60000) != WAIT_OBJECT_0) {
    TerminateProcess(process.hProcess, 99);
    debug(10000);
    WaitForSingleObject(process.hProcess, 10000);
  }
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hProcess);
  if (setup.parent_console) ReplaceConsole(false);
  return {exit_code, ReadLines(folder / "transcript.txt"), ReadLines(folder / "plugins.txt"),
          ReadLines(folder / "dwmapi.txt")};
}

// The external plugins' registrar names, in the order they are registered.
const char kRegistrarNames[] =
    "AppLinksPluginCApi DesktopDropPlugin FileSelectorWindows FlutterSecureStorageWindowsPlugin "
    "LocalNotifierPlugin RivePlugin ScreenRetrieverPlugin SharePlusWindowsPluginCApi SystemTrayPlugin "
    "UrlLauncherWindows VideoPlayerWinPluginCApi WindowManagerPlugin WireguardFlutterPluginCApi";

// The plugin stand-ins' record: each registration, with its own registrar (a null one for
// `refused`), on the main thread in the single-threaded apartment set up for it.
std::vector<std::string> PluginRecord(const std::string& refused = "") {
  std::vector<std::string> lines;
  std::istringstream names(kRegistrarNames);
  for (std::string name; names >> name;)
    lines.push_back(name + (name == refused ? " null " : " " + name + " ") + "mainsta");
  return lines;
}

const std::string kIsConnectedCall = "send tarvex/windows_vpn 07 0b 69 73 43 6f 6e 6e 65 63 74 65 64 00";

// The engine's line, its Dart arguments to follow.
const std::string kEngineLine =
    "engine assets \"data\\\\flutter_assets\" icu \"data\\\\icudtl.dat\" aot \"data\\\\app.so\" entrypoint "
    "\"\" arguments ";

// A window report: its place and size, the view filling its client area.
testing::Matcher<const std::string&> Filling(const std::string& window, const std::string& focus) {
  const std::regex report("window " + window + " visible client (\\d+) (\\d+) view 0 0 \\1 \\2 " + focus);
  return testing::Truly([report](const std::string& line) { return std::regex_match(line, report); });
}

// The user's app theme, as the program reads it (none: the value removed).
void SetTheme(std::optional<DWORD> light) {
  const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  light ? RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme", REG_DWORD, &*light, 4)
        : RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme");
}

TEST(HostProgramTest, FromAConsoleItShowsOnTheFirstFrameServesItsChannelAndWindowAndExitsZeroOnClose) {
  SetTheme(0);
  HostSetup setup;
  setup.parent_console = true;
  // Lone surrogates (not valid UTF-16): kept in their places, as empty texts.
  setup.arguments = L"a \"two words\" \xD800 \xDC00z \x00E9\x20AC\xD83D\xDE00";
  // 110/96: the window at 11 11 and 1466 wide (1466.67 truncated), hidden until the first frame.
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"110"}, {L"TARVEX_STANDIN_ANSWER_MESSAGE", L"0x02E0=3"}};
  setup.script = {"window report", kIsConnectedCall, "window resize 1000 700", "window report",
                  // Focus on the top-level window itself; WM_ACTIVATE hands it to the view.
                  "window focus", "window report", "window send 0x0006 1 0", "window report",
                  // The engine answers WM_DPICHANGED: the window keeps its place.
                  "window dpichanged 120 100 120 1700 1020", "window report", "window send 0x001D 0 0"};
  HWND window = nullptr;
  const ProgramRun run = RunProgram(setup, [&window](HWND program_window) {
    window = program_window;
    wchar_t title[16] = {};
    EXPECT_EQ(std::wstring(title, GetWindowTextW(window, title, 16)), L"tarvex");
    // Theme switches come with the colorization message; without the value the title bar is left.
    for (const std::optional<DWORD> light : std::initializer_list<std::optional<DWORD>>{1, std::nullopt, 2}) {
      SetTheme(light);
      SendMessageTimeoutW(window, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0, SMTO_NORMAL, 10000, nullptr);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  SetTheme(std::nullopt);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_THAT(
      run.transcript,
      testing::ElementsAre(
          kEngineLine + "5 \"a\" \"two words\" \"\" \"\" \"\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\"",
          "console shared", "frame 1 hidden visible", "frame 2 visible visible",
          Filling("11 11 1466 825", "focus"),
          testing::AnyOf("reply tarvex/windows_vpn 0001", "reply tarvex/windows_vpn 0002"),
          Filling("11 11 1000 700", "focus"), Filling("11 11 1000 700", "nofocus"), "window result 0",
          Filling("11 11 1000 700", "focus"),
          testing::MatchesRegex("answered 736 7864440 \\d+ window " +
                                std::to_string(reinterpret_cast<uintptr_t>(window))),
          "window result 3", Filling("11 11 1000 700", "focus"), "fonts reloaded", "window result 0", "end",
          // While the view was still a window: before the quit message.
          "viewcontroller destroyed hidden"));
  EXPECT_THAT(run.plugins, testing::ElementsAreArray(PluginRecord()));
  const std::string dark_mode = "DwmSetWindowAttribute FLUTTER_RUNNER_WIN32_WINDOW 20 4 ";
  EXPECT_THAT(run.dwmapi, testing::ElementsAre(dark_mode + "1", dark_mode + "0", dark_mode + "0"));
}

TEST(HostProgramTest, DebuggedWithRefusedRegistrarsItOpensAConsoleGoesOnAndEndsWithZeroOnAQuitMessage) {
  HostSetup setup;
  setup.debugged = true;
  // The first plugin's and our own: every plugin is still registered, and the channel goes unanswered.
  setup.environment = {{L"TARVEX_STANDIN_NO_REGISTRAR", L"AppLinksPluginCApi,tarvex/windows_vpn"}};
  setup.script = {kIsConnectedCall};
  const ProgramRun run = RunProgram(setup, [](HWND window) {
    // Not a close: the loop ends with window, view and engine still there; 7 is not the exit code.
    EXPECT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 7, 0));
  });
  EXPECT_EQ(run.exit_code, 0u);
  // "hidden visible": the view was in the window (not "parked") and the frame's callback showed it.
  EXPECT_THAT(
      run.transcript,
      testing::ElementsAre("resync stdout console stderr console", kEngineLine + "0 null", "console own",
                           "noregistrar AppLinksPluginCApi", "noregistrar tarvex/windows_vpn",
                           "frame 1 hidden visible", "frame 2 visible visible",
                           "unhandled tarvex/windows_vpn", "end", "viewcontroller destroyed visible"));
  EXPECT_THAT(run.plugins, testing::ElementsAreArray(PluginRecord("AppLinksPluginCApi")));
}

TEST(HostProgramTest, ATakenNameARefusedEngineOrViewControllerEndsTheProgramWithOneBeforeAnyRegistration) {
  struct Case {
    bool name_taken;
    HostSetup setup;
    // No frame, and no later call with what the refusal ended (a "misuse" line).
    std::vector<std::string> transcript;
  };
  const Case cases[] = {
      {true,
       {{{L"TARVEX_STANDIN_ACCEPT_DIALOGS", L"1"}}},
       {"dialog Tarvex | Tarvex is already running. | icon error"}},
      {false, {{}, true}, {kEngineLine + "0 null", "refused engine"}},  // without its "data" folder
      // Debugged, with a console to attach to: it keeps that one.
      {false,
       {{{L"TARVEX_STANDIN_REFUSE_VIEW_CONTROLLER", L"1"}}, false, true, true},
       {kEngineLine + "0 null", "console shared", "refused viewcontroller"}},
  };
  for (const Case& test_case : cases) {
    HANDLE held = test_case.name_taken ? CreateMutexW(nullptr, TRUE, L"TarvexSingleInstance") : nullptr;
    const ProgramRun run = RunProgram(test_case.setup);
    EXPECT_EQ(run.exit_code, 1u) << test_case.transcript.back();
    EXPECT_THAT(run.transcript, testing::ElementsAreArray(test_case.transcript));
    EXPECT_THAT(run.plugins, testing::IsEmpty()) << test_case.transcript.back();
    if (held != nullptr) CloseHandle(held);
  }
}

}  // namespace
