#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// What the simulated machine's handles point at. The plugin sees only the
// opaque pointers, as with real Win32 handles.
struct ServiceObject {
  std::u16string service;  // empty for a manager handle
  Dword access;
};
struct KernelObject {
  std::size_t process;
};
struct SidObject {
  bool administrators;
};
struct FileObject {
  std::string key;
};

// A small Windows machine for the plugin's tests: services that change over a
// simulated clock, programs, elevation answers, message boxes, files and
// folders under Windows path rules, environment variables and system message
// texts. It counts what is open and can throw std::bad_alloc from any
// operation that might allocate.
class SimulatedWindows : public WindowsApi {
 public:
  struct Service {
    std::u16string name;
    Dword state = kServiceStopped;
    Dword type = kServiceWin32OwnProcess;
    // After a start request: start-pending for this long, then this state.
    Dword start_takes_ms = 0;
    Dword state_after_start = kServiceRunning;
    Dword start_error = 0;  // StartServiceW fails with it when not 0
    bool query_fails = false;
    bool open_denied = false;
    Dword start_requested_at = 0;
  };
  struct Program {
    Dword exit_code = 0;
    Dword runs_ms = 0;
  };
  struct Launch {
    std::string command_line;
    Dword creation_flags;
    Dword startup_flags;
    std::uint16_t show_window;
    bool inherit_handles;
  };
  struct ShellRequest {
    Dword mask;
    std::string verb;
    std::string file;
    std::string parameters;
    int show;
  };
  struct Box {
    std::u16string text;
    std::u16string caption;
    unsigned type;
  };

  // The log's folder "C:\Users\ana\AppData\Roaming" exists and APPDATA names
  // it; the executable is "C:\Apps\Tarvex\tarvex.exe"; the process is an
  // administrator; the clock reads 2026-12-06 03:05:17.
  SimulatedWindows();
  ~SimulatedWindows() override;

  // A service whose references stay valid while more are added.
  Service& AddService(std::u16string name, Dword state, Dword type = kServiceWin32OwnProcess);
  Service& service(std::u16string_view name);
  // A program that CreateProcessA and ShellExecuteExA can start; its file exists.
  void AddProgram(const std::string& path, Program program);
  void AddFile(const std::string& path, const std::string& contents = "");
  // Creates the folder and every missing parent.
  void AddDirectory(const std::string& path);
  std::optional<std::string> FileContents(const std::string& path) const;
  bool DirectoryExists(const std::string& path) const;
  void SetEnv(const std::string& name, const std::string& value) { env_[Key(name)] = value; }
  void UnsetEnv(const std::string& name) { env_.erase(Key(name)); }
  // The `call`th call of `operation` throws std::bad_alloc.
  void ThrowOn(const std::string& operation, int call = 1) { throw_on_[operation] = call; }
  int Calls(const std::string& operation) const;
  // Service handles, process and thread handles, SIDs, system texts,
  // environment copies and files not given back.
  std::size_t OpenHandles() const { return open_.size(); }
  bool ProcessRunning(std::size_t index) const;

  bool manager_refused = false;
  bool enumeration_fails = false;
  bool env_read_fails = false;
  bool is_admin = true;
  bool sid_allocation_fails = false;
  bool membership_check_fails = false;
  bool exit_code_unreadable = false;
  bool local_time_fails = false;
  // The user refuses the elevation prompt.
  bool elevation_refused = false;
  std::string module_path = "C:\\Apps\\Tarvex\\tarvex.exe";
  std::map<Dword, std::u16string> system_messages;
  Dword tick = 5000;
  std::int64_t now = 1796526317;
  std::int64_t local_offset_seconds = 0;
  // Runs after every enumeration call: the list may change in between.
  std::function<void()> after_enumeration;

  std::vector<Launch> launches;
  std::vector<ShellRequest> shell_requests;
  std::vector<Box> message_boxes;
  std::vector<std::string> debug_output;
  // Closed service handles in order: "manager" or the service's name.
  std::vector<std::string> closed_services;

  ScHandle OpenSCManagerW(const char16_t* machine_name, const char16_t* database_name,
                          Dword desired_access) override;
  ScHandle OpenServiceW(ScHandle manager, const char16_t* service_name, Dword desired_access) override;
  bool QueryServiceStatus(ScHandle service, ServiceStatus* status) override;
  bool StartServiceW(ScHandle service, Dword argument_count, const char16_t** arguments) override;
  bool EnumServicesStatusExW(ScHandle manager, Dword info_level, Dword service_type, Dword service_state,
                             std::uint8_t* buffer, Dword buffer_size, Dword* bytes_needed,
                             Dword* services_returned, Dword* resume_handle,
                             const char16_t* group_name) override;
  bool CloseServiceHandle(ScHandle handle) override;
  bool CreateProcessA(const char* application_name, char* command_line, bool inherit_handles,
                      Dword creation_flags, const StartupInfo& startup,
                      ProcessInformation* process_information) override;
  Dword WaitForSingleObject(Handle handle, Dword milliseconds) override;
  bool GetExitCodeProcess(Handle process, Dword* exit_code) override;
  bool CloseHandle(Handle handle) override;
  bool ShellExecuteExA(ShellExecuteInfo* info) override;
  int MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned type) override;
  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, std::uint8_t count,
                                Dword sub_authority0, Dword sub_authority1, Dword sub_authority2,
                                Dword sub_authority3, Dword sub_authority4, Dword sub_authority5,
                                Dword sub_authority6, Dword sub_authority7, Sid* sid) override;
  bool CheckTokenMembership(Handle token, Sid sid, int* is_member) override;
  void FreeSid(Sid sid) override;
  Dword FormatMessageW(Dword flags, const void* source, Dword message_id, Dword language_id,
                       char16_t** buffer, Dword minimum_size) override;
  void LocalFree(void* memory) override;
  Dword GetLastError() override { return last_error_; }
  Dword GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) override;
  Dword GetFileAttributesA(const char* path) override;
  bool CreateDirectoryA(const char* path) override;
  bool DeleteFileA(const char* path) override;
  FileHandle FileOpen(const char* path, FileOpenMode mode) override;
  std::size_t FileWrite(FileHandle file, const char* data, std::size_t size) override;
  int FileFlush(FileHandle file) override;
  int FileClose(FileHandle file) override;
  int DupEnv(char** value, std::size_t* length, const char* name) override;
  void FreeEnv(char* value) override;
  const char* GetEnv(const char* name) override;
  Dword GetTickCount() override;
  void Sleep(Dword milliseconds) override;
  std::int64_t Time64() override;
  int LocalTime64(std::tm* local, std::int64_t seconds) override;
  void OutputDebugStringA(const char* text) override;

 private:
  struct Entry {
    bool directory;
    std::string contents;
  };
  struct Process {
    Program program;
    Dword started_at;
  };

  // Windows paths: case-insensitive, either slash.
  static std::string Key(std::string_view path);
  static std::string Parent(const std::string& key);
  bool ParentIsDirectory(const std::string& key) const;
  void Enter(const std::string& operation);
  bool Fail(Dword error) {
    last_error_ = error;
    return false;
  }
  Service* Find(std::u16string_view name);
  // Everything handed out and not yet given back, by address.
  template <typename T>
  T* Hand(std::shared_ptr<T> object) {
    open_[object.get()] = object;
    return object.get();
  }
  // Texts go out by the address of their characters, which is what comes back.
  template <typename Text>
  auto HandText(std::shared_ptr<Text> text) {
    auto* characters = text->data();
    open_[characters] = std::move(text);
    return characters;
  }
  bool Release(const void* object, const char* what);
  bool IsOpen(const void* object) const;
  void Advance(Service& service) const;
  KernelObject* NewProcess(Program program);

  std::deque<Service> services_;
  std::map<std::string, Program> programs_;
  std::map<std::string, Entry> files_;
  std::map<std::string, std::string> env_;
  std::map<std::string, int> calls_;
  std::map<std::string, int> throw_on_;
  std::vector<Process> processes_;
  std::map<const void*, std::shared_ptr<void>> open_;
  Dword last_error_ = 0;
};

}  // namespace tarvex
