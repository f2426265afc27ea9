// tarvex.exe run whole under Wine: its window as the system and the user meet
// it, the plugins, the channel of the in-process plugin, one copy at a time,
// the refusals, the consoles. Checks whose state cannot touch each other
// share one run of the program.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using testing::ElementsAre;
using testing::ElementsAreArray;
using testing::IsEmpty;

struct HostSetup {
  // The command line after the program path, as typed.
  std::wstring arguments;
  // Lines of the scripted Flutter side.
  std::vector<std::string> script;
  // The stand-ins' controls.
  std::map<std::wstring, std::wstring> environment;
  // The private copy of the installation (with the recording dwmapi.dll
  // beside the program) without its "data" folder.
  bool without_data = false;
  // Started without a console, as from Explorer; or with one of the test's to
  // attach to, as from a console window.
  bool parent_console = false;
  // With the test as its debugger: the program stands still at each debug
  // event until a wait of the test answers it.
  bool debugged = false;
};

// Sets the standard handles and answers the previous ones.
std::array<HANDLE, 3> SwapStandardHandles(const std::array<HANDLE, 3>& handles) {
  const DWORD ids[] = {STD_INPUT_HANDLE, STD_OUTPUT_HANDLE, STD_ERROR_HANDLE};
  std::array<HANDLE, 3> previous = {};
  for (size_t i = 0; i < handles.size(); ++i) {
    previous[i] = GetStdHandle(ids[i]);
    SetStdHandle(ids[i], handles[i]);
  }
  return previous;
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::ifstream text(path, std::ios::binary);
  std::vector<std::string> lines;
  for (std::string line; std::getline(text, line);) {
    lines.push_back(line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
  }
  return lines;
}

// What a run of tarvex.exe left: its exit code (none: it was still running
// after a minute, a slow Wine on a busy machine, and was ended), the engine
// stand-in's transcript, the plugin and dwmapi stand-ins' records.
struct ProgramRun {
  std::optional<DWORD> exit_code;
  std::vector<std::string> transcript;
  std::vector<std::string> plugins;
  std::vector<std::string> dwmapi;
};

// Runs tarvex.exe from a private copy of the installation, with the recording
// dwmapi.dll beside it, until it ends. Once the script has run out,
// `after_script` gets the program's window, and ends the program.
ProgramRun RunProgram(const HostSetup& setup, const std::function<void(HWND)>& after_script = {}) {
  static int runs = 0;
  const fs::path folder =
      fs::temp_directory_path() /
      ("tarvex-host-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++runs));
  const fs::path install = folder / "install";
  fs::create_directories(install);
  wchar_t test_path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, test_path, MAX_PATH + 1);
  const fs::path bin = fs::path(test_path).parent_path();
  for (const fs::directory_entry& entry : fs::directory_iterator(bin)) {
    if (entry.path().extension() == ".dll" || entry.path().filename() == "tarvex.exe") {
      fs::copy_file(entry.path(), install / entry.path().filename());
    }
  }
  if (!setup.without_data) {
    fs::copy(bin / "data", install / "data", fs::copy_options::recursive);
  }
  fs::copy_file(bin.parent_path() / "standins" / "dwmapi" / "dwmapi.dll", install / "dwmapi.dll");
  std::ofstream script(folder / "script.txt", std::ios::binary);
  for (const std::string& line : setup.script) {
    script << line << "\n";
  }
  script.close();

  std::map<std::wstring, std::wstring> environment = {
      {L"TARVEX_ENGINE_SCRIPT", (folder / "script.txt").wstring()},
      {L"TARVEX_ENGINE_TRANSCRIPT", (folder / "transcript.txt").wstring()},
      {L"TARVEX_STANDIN_PLUGIN_RECORD", (folder / "plugins.txt").wstring()},
      {L"TARVEX_STANDIN_DWMAPI_RECORD", (folder / "dwmapi.txt").wstring()},
      // The plugin's debug log, in the run's own folder.
      {L"APPDATA", folder.wstring()},
  };
  environment.insert(setup.environment.begin(), setup.environment.end());
  std::array<HANDLE, 3> console_handles = {};
  if (setup.parent_console) {
    // AllocConsole points the standard handles at the new console, and
    // (under Wine) FreeConsole closes whatever they are then: the test's
    // own, its output, are kept out of their way.
    const std::array<HANDLE, 3> test_handles = SwapStandardHandles({});
    FreeConsole();
    AllocConsole();
    console_handles = SwapStandardHandles(test_handles);
  }
  // Inherited, then taken back.
  for (const auto& [name, value] : environment) {
    SetEnvironmentVariableW(name.c_str(), value.c_str());
  }
  const fs::path program = install / "tarvex.exe";
  std::wstring command_line = L"\"" + program.wstring() + L"\" " + setup.arguments;
  // Without the test's console (Wine gives one even to a GUI program).
  const DWORD flags = DETACHED_PROCESS | (setup.debugged ? DEBUG_ONLY_THIS_PROCESS : 0);
  // Standard output and error go nowhere; a console the program opens takes them.
  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE nowhere =
      CreateFileW(L"NUL", GENERIC_WRITE, FILE_SHARE_WRITE, &inheritable, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdOutput = startup.hStdError = nowhere;
  PROCESS_INFORMATION process = {};
  bool debugging = CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, flags, nullptr,
                                  folder.c_str(), &startup, &process) &&
                   setup.debugged;
  CloseHandle(process.hThread);
  CloseHandle(nowhere);
  for (const auto& [name, value] : environment) {
    SetEnvironmentVariableW(name.c_str(), nullptr);
  }

  // Answers a debugged program's debug events until it has exited (true) or
  // the time has passed (false).
  const auto debug = [&debugging](int milliseconds) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (debugging) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      DEBUG_EVENT event = {};
      if (left.count() <= 0 || !WaitForDebugEvent(&event, static_cast<DWORD>(left.count()))) {
        return false;
      }
      DWORD status = DBG_CONTINUE;
      if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
        CloseHandle(event.u.CreateProcessInfo.hFile);
      } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
        CloseHandle(event.u.LoadDll.hFile);
      } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
                 event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
        // The loader's breakpoint is the debugger's; any other exception is
        // the program's own to handle.
        status = DBG_EXCEPTION_NOT_HANDLED;
      }
      debugging = event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
      ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
    }
    return true;
  };
  for (int waited = 0; after_script && waited < 60000; waited += 20) {
    const std::vector<std::string> lines = ReadLines(folder / "transcript.txt");
    if (std::find(lines.begin(), lines.end(), "end") != lines.end()) {
      after_script(FindWindowW(L"FLUTTER_RUNNER_WIN32_WINDOW", nullptr));
      break;
    }
    if (debug(20)) {
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  ProgramRun run;
  DWORD exit_code = 0;
  if (debug(60000) && WaitForSingleObject(process.hProcess, 60000) == WAIT_OBJECT_0 &&
      GetExitCodeProcess(process.hProcess, &exit_code)) {
    run.exit_code = exit_code;
  } else {
    TerminateProcess(process.hProcess, 99);
    debug(10000);
    WaitForSingleObject(process.hProcess, 10000);
  }
  CloseHandle(process.hProcess);
  if (setup.parent_console) {
    const std::array<HANDLE, 3> test_handles = SwapStandardHandles(console_handles);
    FreeConsole();
    SwapStandardHandles(test_handles);
  }
  run.transcript = ReadLines(folder / "transcript.txt");
  run.plugins = ReadLines(folder / "plugins.txt");
  run.dwmapi = ReadLines(folder / "dwmapi.txt");
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  return run;
}

// The external plugins' registrar names, in the order they are registered.
const char kRegistrarNames[] =
    "AppLinksPluginCApi DesktopDropPlugin FileSelectorWindows FlutterSecureStorageWindowsPlugin "
    "LocalNotifierPlugin RivePlugin ScreenRetrieverPlugin SharePlusWindowsPluginCApi SystemTrayPlugin "
    "UrlLauncherWindows VideoPlayerWinPluginCApi WindowManagerPlugin WireguardFlutterPluginCApi";

// The plugin stand-ins' record: each registration, with its own registrar or
// a null one, on the main thread in the single-threaded apartment the
// program set up for it.
std::vector<std::string> PluginRecord(bool null_registrars) {
  std::vector<std::string> lines;
  std::istringstream names(kRegistrarNames);
  for (std::string name; names >> name;) {
    lines.push_back(name + (null_registrars ? " null" : " " + name) + " mainsta");
  }
  return lines;
}

const std::string kIsConnectedCall = "send tarvex/windows_vpn 07 0b 69 73 43 6f 6e 6e 65 63 74 65 64 00";

std::string EngineLine(const std::string& arguments) {
  return "engine assets \"data\\\\flutter_assets\" icu \"data\\\\icudtl.dat\" aot \"data\\\\app.so\" "
         "entrypoint \"\" arguments " +
         arguments;
}

testing::Matcher<const std::string&> MatchesLine(const std::string& pattern) {
  return testing::Truly(
      [pattern](const std::string& line) { return std::regex_match(line, std::regex(pattern)); });
}

// A window report: the window's place and size, the view filling its client
// area, with or without the focus.
testing::Matcher<const std::string&> Filling(const std::string& window, const std::string& focus) {
  return MatchesLine("window " + window + " visible client (\\d+) (\\d+) view 0 0 \\1 \\2 " + focus);
}

// The user's app theme, as the program reads it from the registry (none:
// the value removed).
void SetTheme(std::optional<DWORD> apps_use_light_theme) {
  const wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
  if (apps_use_light_theme) {
    RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme", REG_DWORD, &*apps_use_light_theme, 4);
  } else {
    RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme");
  }
}

TEST(HostProgramTest,
     FromAConsoleTheProgramShowsOnTheFirstFrameServesItsChannelAndWindowAndExitsZeroOnClose) {
  SetTheme(0);
  HostSetup setup;
  setup.parent_console = true;
  // Not valid UTF-16: kept in its place, as an empty text.
  setup.arguments = L"a \"two words\" \xD800 \x00E9\x20AC";
  setup.environment = {{L"TARVEX_STANDIN_DPI", L"144"}, {L"TARVEX_STANDIN_ANSWER_MESSAGE", L"0x02E0=3"}};
  setup.script = {"window report", kIsConnectedCall, "window resize 1000 700", "window report",
                  // Focus on the top-level window itself; WM_ACTIVATE hands it to the view.
                  "window focus", "window report", "window send 0x0006 1 0", "window report",
                  // The engine answers WM_DPICHANGED: the window keeps its place.
                  "window dpichanged 120 100 120 1700 1020", "window report", "window send 0x001D 0 0"};
  HWND window = nullptr;
  const ProgramRun run = RunProgram(setup, [&window](HWND program_window) {
    window = program_window;
    wchar_t title[16] = {};
    GetWindowTextW(window, title, 16);
    EXPECT_STREQ(title, L"tarvex");
    // Theme switches reach the window with the colorization message; without
    // the value the title bar is left as the system draws it.
    for (const std::optional<DWORD> light :
         {std::optional<DWORD>(1), std::optional<DWORD>(), std::optional<DWORD>(2)}) {
      SetTheme(light);
      DWORD_PTR ignored = 0;
      SendMessageTimeoutW(window, WM_DWMCOLORIZATIONCOLORCHANGED, 0, 0, SMTO_NORMAL, 10000, &ignored);
    }
    PostMessageW(window, WM_CLOSE, 0, 0);
  });
  SetTheme(std::nullopt);
  EXPECT_EQ(run.exit_code, 0u);
  EXPECT_THAT(
      run.transcript,
      ElementsAre(EngineLine("4 \"a\" \"two words\" \"\" \"\xC3\xA9\xE2\x82\xAC\""), "console shared",
                  "frame 1 hidden visible", "frame 2 visible visible", Filling("15 15 1920 1080", "focus"),
                  MatchesLine("reply tarvex/windows_vpn 000[12]"), Filling("15 15 1000 700", "focus"),
                  Filling("15 15 1000 700", "nofocus"), "window result 0", Filling("15 15 1000 700", "focus"),
                  MatchesLine("answered 736 7864440 \\d+ window " +
                              std::to_string(reinterpret_cast<uintptr_t>(window))),
                  "window result 3", Filling("15 15 1000 700", "focus"), "fonts reloaded", "window result 0",
                  "end",
                  // While the view was still a window: before the quit message.
                  "viewcontroller destroyed hidden"));
  EXPECT_THAT(run.plugins, ElementsAreArray(PluginRecord(false)));
  const std::string dark = "DwmSetWindowAttribute FLUTTER_RUNNER_WIN32_WINDOW 20 4 1";
  const std::string light = "DwmSetWindowAttribute FLUTTER_RUNNER_WIN32_WINDOW 20 4 0";
  EXPECT_THAT(run.dwmapi, ElementsAre(dark, light, light));
}

TEST(HostProgramTest, DebuggedWithoutRegistrarsTheProgramOpensAConsoleGoesOnAndEndsWithZeroOnAQuitMessage) {
  // Every registrar refused, named in another order than the program asks
  // for them: the transcript gives the order of the requests.
  std::vector<std::string> expected = {"resync stdout console stderr console", EngineLine("0 null"),
                                       "console own"};
  std::wstring refused = L"tarvex/windows_vpn";
  std::istringstream names(kRegistrarNames);
  for (std::string name; names >> name;) {
    expected.push_back("noregistrar " + name);
    refused = std::wstring(name.begin(), name.end()) + L"," + refused;
  }
  HostSetup setup;
  setup.debugged = true;
  setup.environment = {{L"TARVEX_STANDIN_NO_REGISTRAR", refused}};
  setup.script = {kIsConnectedCall};
  const ProgramRun run = RunProgram(setup, [](HWND window) {
    // Not a close: the loop ends with the window, its view and the engine
    // still there, and the quit code is not the exit code.
    EXPECT_TRUE(PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 7, 0));
  });
  EXPECT_EQ(run.exit_code, 0u);
  // The view is the window's child before the first frame (else "parked"),
  // and the window is shown by that frame's callback.
  expected.insert(expected.end(),
                  {"noregistrar tarvex/windows_vpn", "frame 1 hidden visible", "frame 2 visible visible",
                   "unhandled tarvex/windows_vpn", "end", "viewcontroller destroyed visible"});
  EXPECT_THAT(run.transcript, ElementsAreArray(expected));
  EXPECT_THAT(run.plugins, ElementsAreArray(PluginRecord(true)));
}

TEST(HostProgramTest, ATakenNameARefusedEngineOrViewControllerEndsTheProgramWithOneBeforeAnyRegistration) {
  struct Case {
    bool name_taken;
    HostSetup setup;
    // No frame, and no later call with what the refusal ended (a "misuse" line).
    std::vector<std::string> transcript;
  };
  Case cases[] = {
      {true, {}, {"dialog Tarvex | Tarvex is already running. | icon error"}},
      {false, {}, {EngineLine("0 null"), "refused engine"}},
      // Debugged, with a console to attach to: it keeps that one.
      {false, {}, {EngineLine("0 null"), "console shared", "refused viewcontroller"}},
  };
  cases[0].setup.environment = {{L"TARVEX_STANDIN_ACCEPT_DIALOGS", L"1"}};
  cases[1].setup.without_data = true;
  cases[2].setup.environment = {{L"TARVEX_STANDIN_REFUSE_VIEW_CONTROLLER", L"1"}};
  cases[2].setup.debugged = cases[2].setup.parent_console = true;
  for (const Case& test_case : cases) {
    HANDLE held = test_case.name_taken ? CreateMutexW(nullptr, TRUE, L"TarvexSingleInstance") : nullptr;
    const ProgramRun run = RunProgram(test_case.setup);
    EXPECT_EQ(run.exit_code, 1u) << test_case.transcript.back();
    EXPECT_THAT(run.transcript, ElementsAreArray(test_case.transcript));
    EXPECT_THAT(run.plugins, IsEmpty()) << test_case.transcript.back();
    if (held != nullptr) {
      CloseHandle(held);
    }
  }
}

}  // namespace
