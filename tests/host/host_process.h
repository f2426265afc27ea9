#pragma once

// tarvex.exe as a child process under Wine, with its own environment, the
// engine stand-in's script and transcript, and the plugin stand-ins' record.

#include <windows.h>

#include <array>
#include <chrono>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace tarvex_test {

// The program's top-level window class.
inline constexpr wchar_t kHostWindowClass[] = L"FLUTTER_RUNNER_WIN32_WINDOW";

// The thirteen plugin libraries beside the program and the registrar name of
// each, in registration order.
struct PluginLibrary {
  const char* library;
  const char* registrar_name;
};
extern const PluginLibrary kPluginLibraries[13];

struct HostSetup {
  // The command line after the program path, as typed.
  std::wstring arguments;
  // Lines of the scripted Flutter side.
  std::vector<std::string> script;
  // Added to (or replacing) the test's own environment.
  std::map<std::wstring, std::wstring> environment;
  // False: the program runs from the build folder. True: from a private copy
  // of the installation (program, engine and plugin libraries, data).
  bool private_copy = false;
  // With a private copy: leave out the "data" bundle folder.
  bool without_bundle = false;
  // With a private copy: put the recording dwmapi.dll stand-in beside it.
  bool with_dwmapi_standin = false;
  // The program starts without a console, as from Explorer. True: the test
  // has one for it to attach to, as a console window has for a program
  // started from it.
  bool parent_console = false;
  // Started as a debugged process with the test as its debugger. It stands
  // still at each debug event until WaitForExit answers them, so wait for
  // nothing else first.
  bool debugged = false;
};

// A text file's contents, or its lines (LF or CR LF); empty when it does
// not exist.
std::string ReadText(const std::filesystem::path& path);
std::vector<std::string> ReadLines(const std::filesystem::path& path);

// A started tarvex.exe; ended by force when it is destroyed still running.
class HostProcess {
 public:
  explicit HostProcess(const HostSetup& setup);
  ~HostProcess();

  HostProcess(const HostProcess&) = delete;
  HostProcess& operator=(const HostProcess&) = delete;

  bool started() const { return process_ != nullptr; }
  bool Running() const { return process_ != nullptr && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT; }
  std::chrono::steady_clock::time_point start_time() const { return start_time_; }

  // The program's top-level window, once it exists (and is visible, when
  // asked); null after `limit`.
  HWND WaitForWindow(bool visible, std::chrono::milliseconds limit) const;

  // The exit code; nothing when the program has not ended within `limit`,
  // and is then ended by force. Runs the debug loop of a debugged program.
  std::optional<DWORD> WaitForExit(std::chrono::milliseconds limit);

  // Transcript lines, plugin registrations and title-bar calls as far as
  // written (none without the file).
  std::vector<std::string> Transcript() const { return ReadLines(folder_ / "transcript.txt"); }
  std::vector<std::string> PluginRecord() const { return ReadLines(folder_ / "plugins.txt"); }
  std::vector<std::string> DwmRecord() const { return ReadLines(folder_ / "dwmapi.txt"); }
  // The program's standard output and error.
  std::string Output() const { return ReadText(folder_ / "output.txt"); }
  // The plugin's debug log, in the private APPDATA of the run.
  std::string DebugLog() const { return ReadText(folder_ / "appdata" / "Tarvex" / "windows_vpn_debug.log"); }

 private:
  // Answers the debug events of a debugged program until it has exited
  // (true) or `deadline` has passed.
  bool Debug(std::chrono::steady_clock::time_point deadline);
  void EndByForce();

  std::filesystem::path folder_;
  HANDLE process_ = nullptr;
  DWORD process_id_ = 0;
  // A debugged program that has not exited yet.
  bool debugging_ = false;
  // The console the test made for the program, and its standard handles;
  // freed when the program has ended.
  bool console_made_ = false;
  std::array<HANDLE, 3> console_handles_ = {};
  std::chrono::steady_clock::time_point start_time_;
};

// The build folder's bin directory, where the tests and tarvex.exe lie.
std::filesystem::path BuildBinFolder();

}  // namespace tarvex_test
