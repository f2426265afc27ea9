#include "tests/host/host_process.h"

#include <algorithm>
#include <array>
#include <fstream>
#include <sstream>
#include <system_error>
#include <thread>

namespace tarvex_test {

const PluginLibrary kPluginLibraries[13] = {
    {"app_links_plugin", "AppLinksPluginCApi"},
    {"desktop_drop_plugin", "DesktopDropPlugin"},
    {"file_selector_windows_plugin", "FileSelectorWindows"},
    {"flutter_secure_storage_windows_plugin", "FlutterSecureStorageWindowsPlugin"},
    {"local_notifier_plugin", "LocalNotifierPlugin"},
    {"rive_common_plugin", "RivePlugin"},
    {"screen_retriever_plugin", "ScreenRetrieverPlugin"},
    {"share_plus_plugin", "SharePlusWindowsPluginCApi"},
    {"system_tray_plugin", "SystemTrayPlugin"},
    {"url_launcher_windows_plugin", "UrlLauncherWindows"},
    {"video_player_win_plugin", "VideoPlayerWinPluginCApi"},
    {"window_manager_plugin", "WindowManagerPlugin"},
    {"wireguard_flutter_plugin", "WireguardFlutterPluginCApi"},
};

namespace {

namespace fs = std::filesystem;

fs::path FreshFolder() {
  static int runs = 0;
  wchar_t temp[MAX_PATH + 1] = {};
  GetTempPathW(MAX_PATH + 1, temp);
  const fs::path folder = fs::path(temp) / (L"tarvex-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                                            std::to_wstring(++runs));
  std::error_code ignored;
  fs::remove_all(folder, ignored);
  fs::create_directories(folder);
  return folder;
}

// A copy of what an installation holds, as the build lays it out.
fs::path PrivateCopy(const fs::path& folder, const HostSetup& setup) {
  const fs::path install = folder / "install";
  const fs::path bin = BuildBinFolder();
  fs::create_directories(install);
  std::vector<std::string> files = {"tarvex.exe", "flutter_windows.dll"};
  for (const PluginLibrary& plugin : kPluginLibraries) {
    files.push_back(std::string(plugin.library) + ".dll");
  }
  for (const std::string& file : files) {
    fs::copy_file(bin / file, install / file);
  }
  if (!setup.without_bundle) {
    fs::copy(bin / "data", install / "data", fs::copy_options::recursive);
  }
  if (setup.with_dwmapi_standin) {
    fs::copy_file(bin.parent_path() / "standins" / "dwmapi" / "dwmapi.dll", install / "dwmapi.dll");
  }
  return install;
}

// The test's environment without the stand-ins' settings, then `extra`;
// sorted, as Windows keeps environment blocks.
std::wstring EnvironmentBlock(const std::map<std::wstring, std::wstring>& extra) {
  struct CaseInsensitiveLess {
    bool operator()(const std::wstring& a, const std::wstring& b) const {
      return _wcsicmp(a.c_str(), b.c_str()) < 0;
    }
  };
  std::map<std::wstring, std::wstring, CaseInsensitiveLess> variables;
  wchar_t* inherited = GetEnvironmentStringsW();
  for (const wchar_t* entry = inherited; *entry != L'\0'; entry += wcslen(entry) + 1) {
    const std::wstring text = entry;
    const size_t equals = text.find(L'=', 1);
    if (equals == std::wstring::npos || _wcsnicmp(text.c_str(), L"TARVEX_", 7) == 0) {
      continue;
    }
    variables[text.substr(0, equals)] = text.substr(equals + 1);
  }
  FreeEnvironmentStringsW(inherited);
  for (const auto& [name, value] : extra) {
    variables[name] = value;
  }
  std::wstring block;
  for (const auto& [name, value] : variables) {
    block += name + L"=" + value;
    block.push_back(L'\0');
  }
  block.push_back(L'\0');
  return block;
}

using StandardHandles = std::array<HANDLE, 3>;

StandardHandles GetStandardHandles() {
  return {GetStdHandle(STD_INPUT_HANDLE), GetStdHandle(STD_OUTPUT_HANDLE), GetStdHandle(STD_ERROR_HANDLE)};
}

void SetStandardHandles(const StandardHandles& handles) {
  SetStdHandle(STD_INPUT_HANDLE, handles[0]);
  SetStdHandle(STD_OUTPUT_HANDLE, handles[1]);
  SetStdHandle(STD_ERROR_HANDLE, handles[2]);
}

struct FoundWindow {
  DWORD process_id;
  HWND window;
};

BOOL CALLBACK FindProgramWindow(HWND window, LPARAM found_pointer) {
  auto* found = reinterpret_cast<FoundWindow*>(found_pointer);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  wchar_t class_name[64] = {};
  GetClassNameW(window, class_name, 64);
  if (owner == found->process_id && std::wstring(class_name) == kHostWindowClass) {
    found->window = window;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

fs::path BuildBinFolder() {
  wchar_t path[MAX_PATH + 1] = {};
  GetModuleFileNameW(nullptr, path, MAX_PATH + 1);
  return fs::path(path).parent_path();
}

std::string ReadText(const fs::path& path) {
  std::ostringstream contents;
  contents << std::ifstream(path, std::ios::binary).rdbuf();
  return contents.str();
}

std::vector<std::string> ReadLines(const fs::path& path) {
  std::vector<std::string> lines;
  std::istringstream text(ReadText(path));
  std::string line;
  while (std::getline(text, line)) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
    lines.push_back(line);
  }
  return lines;
}

HostProcess::HostProcess(const HostSetup& setup) : folder_(FreshFolder()) {
  const fs::path install = setup.private_copy ? PrivateCopy(folder_, setup) : BuildBinFolder();
  {
    std::ofstream script(folder_ / "script.txt", std::ios::binary);
    for (const std::string& line : setup.script) {
      script << line << "\n";
    }
  }
  fs::create_directories(folder_ / "appdata");
  std::map<std::wstring, std::wstring> environment = {
      {L"TARVEX_ENGINE_SCRIPT", (folder_ / "script.txt").wstring()},
      {L"TARVEX_ENGINE_TRANSCRIPT", (folder_ / "transcript.txt").wstring()},
      {L"TARVEX_STANDIN_PLUGIN_RECORD", (folder_ / "plugins.txt").wstring()},
      {L"TARVEX_STANDIN_DWMAPI_RECORD", (folder_ / "dwmapi.txt").wstring()},
      {L"TARVEX_STANDIN_REPLY_TIMEOUT_MS", L"20000"},
      {L"APPDATA", (folder_ / "appdata").wstring()},
  };
  for (const auto& [name, value] : setup.environment) {
    environment[name] = value;
  }
  std::wstring block = EnvironmentBlock(environment);

  SECURITY_ATTRIBUTES inheritable = {sizeof(inheritable), nullptr, TRUE};
  HANDLE output =
      CreateFileW((folder_ / "output.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                  &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  HANDLE input = CreateFileW(L"NUL", GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, &inheritable,
                             OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  STARTUPINFOW startup = {};
  startup.cb = sizeof(startup);
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = input;
  startup.hStdOutput = output;
  startup.hStdError = output;
  PROCESS_INFORMATION information = {};
  const fs::path program = install / "tarvex.exe";
  std::wstring command_line = L"\"" + program.wstring() + L"\"";
  if (!setup.arguments.empty()) {
    command_line += L" " + setup.arguments;
  }
  if (setup.parent_console) {
    // A console of the test's own. AllocConsole points the standard handles
    // at it, and (under Wine) FreeConsole closes whatever they are then: the
    // test's own handles, its output, are kept out of both. FreeConsole has
    // something to close when an earlier run's console is still the test's.
    const StandardHandles test_handles = GetStandardHandles();
    SetStandardHandles({});
    FreeConsole();
    console_made_ = AllocConsole() != FALSE;
    console_handles_ = GetStandardHandles();
    SetStandardHandles(test_handles);
  }
  // Without the test's console (Wine gives one even to a GUI program).
  DWORD flags = CREATE_UNICODE_ENVIRONMENT | DETACHED_PROCESS;
  if (setup.debugged) {
    flags |= DEBUG_ONLY_THIS_PROCESS;
  }
  start_time_ = std::chrono::steady_clock::now();
  if (CreateProcessW(program.c_str(), &command_line[0], nullptr, nullptr, TRUE, flags, &block[0],
                     folder_.c_str(), &startup, &information)) {
    process_ = information.hProcess;
    process_id_ = information.dwProcessId;
    debugging_ = setup.debugged;
    CloseHandle(information.hThread);
  }
  CloseHandle(output);
  CloseHandle(input);
}

HostProcess::~HostProcess() {
  if (process_ != nullptr) {
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
      EndByForce();
    }
    CloseHandle(process_);
  }
  if (console_made_) {
    const StandardHandles test_handles = GetStandardHandles();
    SetStandardHandles(console_handles_);
    FreeConsole();
    SetStandardHandles(test_handles);
  }
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

bool HostProcess::Debug(std::chrono::steady_clock::time_point deadline) {
  while (debugging_) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    DEBUG_EVENT event = {};
    if (left.count() <= 0 || !WaitForDebugEvent(&event, static_cast<DWORD>(left.count()))) {
      return false;
    }
    DWORD status = DBG_CONTINUE;
    if (event.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT && event.u.CreateProcessInfo.hFile != nullptr) {
      CloseHandle(event.u.CreateProcessInfo.hFile);
    } else if (event.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT && event.u.LoadDll.hFile != nullptr) {
      CloseHandle(event.u.LoadDll.hFile);
    } else if (event.dwDebugEventCode == EXCEPTION_DEBUG_EVENT &&
               event.u.Exception.ExceptionRecord.ExceptionCode != EXCEPTION_BREAKPOINT) {
      // The loader's breakpoint is the debugger's; any other exception is
      // the program's own to handle.
      status = DBG_EXCEPTION_NOT_HANDLED;
    }
    debugging_ = event.dwDebugEventCode != EXIT_PROCESS_DEBUG_EVENT;
    ContinueDebugEvent(event.dwProcessId, event.dwThreadId, status);
  }
  return true;
}

void HostProcess::EndByForce() {
  TerminateProcess(process_, 99);
  Debug(std::chrono::steady_clock::now() + std::chrono::seconds(10));
  WaitForSingleObject(process_, 10000);
}

HWND HostProcess::WaitForWindow(bool visible, std::chrono::milliseconds limit) const {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  do {
    FoundWindow found = {process_id_, nullptr};
    EnumWindows(FindProgramWindow, reinterpret_cast<LPARAM>(&found));
    if (found.window != nullptr && (!visible || IsWindowVisible(found.window))) {
      return found.window;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  } while (std::chrono::steady_clock::now() < deadline);
  return nullptr;
}

std::optional<DWORD> HostProcess::WaitForExit(std::chrono::milliseconds limit) {
  if (process_ == nullptr) {
    return std::nullopt;
  }
  if (!Debug(std::chrono::steady_clock::now() + limit) ||
      WaitForSingleObject(process_, static_cast<DWORD>(limit.count())) != WAIT_OBJECT_0) {
    EndByForce();
    return std::nullopt;
  }
  DWORD exit_code = 0;
  GetExitCodeProcess(process_, &exit_code);
  return exit_code;
}

}  // namespace tarvex_test
