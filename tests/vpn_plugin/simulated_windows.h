#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// Service names and paths are case-insensitive; paths take either slash, a run of them counting as one.
template <typename Text>
Text Fold(const Text& text) {
  Text folded;
  for (auto c : text) {
    c = c == '/' ? '\\' : c >= 'A' && c <= 'Z' ? static_cast<decltype(c)>(c + 32) : c;
    if (c != '\\' || folded.empty() || folded.back() != '\\') folded.push_back(c);
  }
  return folded;
}
struct FoldedLess {
  bool operator()(const std::string& a, const std::string& b) const { return Fold(a) < Fold(b); }
};
template <typename Value>
using PathMap = std::map<std::string, Value, FoldedLess>;

struct SimulatedService {
  std::u16string name;
  Dword state, type = kServiceWin32OwnProcess;
  Dword start_ms = 0, after_start = kServiceRunning,
        start_requested_at = 0;  // start-pending so long, then so
};
// What the handles point at; the plugin sees only the opaque pointers.
struct ServiceObject {
  SimulatedService* service;  // null for the manager
  Dword access;
};
struct KernelObject {  // a program's process, or a thread, token, file or folder
  Dword exit_code, runs_ms, started_at = 0;
  std::string kind = "process", path{};
};
struct SidObject {
  std::string text;
};
struct FileObject {  // a stream, and the descriptor it owns, if any
  std::string path;
  bool text = true;
  int descriptor = -1;
};
struct SecurityDescriptorObject {
  std::string sddl;
  SidObject owner{};
};

// The operation's `call`-th call (every call when 0) fails with `error`, or throws std::bad_alloc.
constexpr Dword kThrows = 0xFFFFFFFF;
struct Failure {
  Dword error;
  int call = 0;
};

// Every operation counts its calls and fails as planned; what it hands out stays open until given back.
class SimulatedWindows : public WindowsApi {
 public:
  static constexpr const char* kAppData = "C:\\Users\\ana\\AppData\\Roaming";

  SimulatedWindows();
  SimulatedService& AddService(std::u16string name, Dword state, Dword type = kServiceWin32OwnProcess) {
    return services.emplace_back(SimulatedService{std::move(name), state, type});
  }
  SimulatedService* FindService(const std::u16string& name) {
    const auto found = std::find_if(services.begin(), services.end(),
                                    [&](const SimulatedService& s) { return Fold(s.name) == Fold(name); });
    return found == services.end() ? nullptr : &*found;
  }
  std::size_t OpenHandles() const { return open_.size(); }

  std::map<std::string, int> calls;
  std::map<std::string, Failure> fail;
  std::deque<SimulatedService> services;  // references stay valid while more are added
  PathMap<KernelObject> programs;
  PathMap<std::string> files, file_security,
      folder_owners;  // the SDDL given; the owner's SID if not the user
  std::set<std::string, FoldedLess> folders{kAppData}, junctions;
  PathMap<std::size_t> size_limits;  // the most a file can hold: a write beyond is cut short
  PathMap<std::string> env{{"APPDATA", kAppData}};
  std::map<Dword, std::u16string> system_messages{
      {kErrorFileNotFound, u"The system cannot find the file specified.\r\n"},
      {kErrorAccessDenied, u"Access is denied.\r\n"},
      {kErrorCancelled, u"The operation was canceled by the user.\r\n"}};
  bool is_admin = true;
  std::string module_path = "C:\\Apps\\Tarvex\\tarvex.exe", system_folder = "C:\\Windows\\system32",
              user_sid = "S-1-5-21-1004336348-1177238915-682003330-1001";
  Dword tick = 5000;
  std::int64_t now = 1796526317, local_offset_seconds = 0;  // 2026-12-06 03:05:17 UTC
  // When set, an open asking for other rights is refused, as for an unelevated caller.
  std::optional<Dword> manager_access, service_access;
  std::function<void(const std::string&)> before_call;  // with the operation's name
  // When a program starts, with its path and command line (or the shell's parameters).
  std::function<void(const std::string&, const std::string&)> on_launch;
  std::vector<std::string> launches, debug_output;
  std::vector<std::u16string> message_boxes;  // caption|text|type, the type as one character

  ScHandle OpenSCManagerW(const char16_t* machine, const char16_t* database, Dword access) override {
    EXPECT_TRUE(machine == nullptr && database == nullptr);
    if (Fails("OpenSCManagerW") ||
        (manager_access && access != *manager_access && !Error(kErrorAccessDenied))) {
      return nullptr;
    }
    return Hand(ServiceObject{nullptr, access});
  }
  ScHandle OpenServiceW(ScHandle manager, const char16_t* name, Dword access) override {
    SimulatedService* found = FindService(name);
    if (!Use(manager) || Fails("OpenServiceW") || (found == nullptr && !Error(kErrorServiceDoesNotExist)) ||
        (service_access && access != *service_access && !Error(kErrorAccessDenied))) {
      return nullptr;
    }
    return Hand(ServiceObject{found, access});
  }
  bool QueryServiceStatus(ScHandle service, ServiceStatus* status) override {
    if (Fails("QueryServiceStatus") || !Allowed(service, kServiceQueryStatus)) return false;
    *status = ServiceStatus{service->service->type, Advance(*service->service).state, 0, 0, 0, 0, 0};
    return true;
  }
  bool StartServiceW(ScHandle service, Dword argument_count, const char16_t** arguments) override {
    EXPECT_TRUE(argument_count == 0 && arguments == nullptr);
    if (Fails("StartServiceW") || !Allowed(service, kServiceStart) ||
        (Advance(*service->service).state != kServiceStopped && !Error(kErrorServiceAlreadyRunning))) {
      return false;
    }
    service->service->state = kServiceStartPending;
    service->service->start_requested_at = tick;
    return true;
  }
  // Records from the buffer's front, names from its back; what does not fit waits at the resume position.
  bool EnumServicesStatusExW(ScHandle manager, Dword level, Dword type, Dword state, std::uint8_t* buffer,
                             Dword size, Dword* needed, Dword* returned, Dword* resume,
                             const char16_t* group) override {
    EXPECT_TRUE(level == kScEnumProcessInfo && state == kServiceStateAll && group == nullptr);
    *needed = *returned = 0;
    if (Fails("EnumServicesStatusExW") || !Allowed(manager, kScManagerEnumerateService)) return false;
    std::size_t front = 0, back = size, index = 0;
    for (SimulatedService& listed : services) {
      const std::size_t name_bytes = (listed.name.size() + 1) * sizeof(char16_t);
      if ((listed.type & type) == 0 || index++ < *resume) continue;
      if (*needed != 0 || front + sizeof(EnumServiceStatusProcess) + name_bytes > back) {
        *needed += static_cast<Dword>(sizeof(EnumServiceStatusProcess) + name_bytes);
        continue;
      }
      back -= name_bytes;
      std::memcpy(buffer + back, listed.name.c_str(), name_bytes);
      EnumServiceStatusProcess record{};
      record.service_name = record.display_name = reinterpret_cast<char16_t*>(buffer + back);
      record.status.service_type = listed.type;
      record.status.current_state = Advance(listed).state;
      std::memcpy(buffer + front, &record, sizeof record);
      front += sizeof record;
      ++*returned;
    }
    *resume = *needed == 0 ? 0 : *resume + *returned;
    return *needed == 0 || Error(kErrorMoreData);
  }
  bool CloseServiceHandle(ScHandle handle) override { return Release(handle); }

  bool CreateProcessA(const char* application, char* command_line, bool inherit_handles, Dword flags,
                      const StartupInfo& startup, ProcessInformation* started) override {
    // Child processes run hidden and inherit nothing.
    EXPECT_TRUE(!inherit_handles && flags == kCreateNoWindow && startup.flags == kStartfUseShowWindow &&
                startup.show_window == kSwHide);
    const std::string line(command_line);
    launches.push_back(line);
    // The application named, or the line's quoted start, or its first word.
    const auto found = programs.find(application != nullptr ? std::string(application)
                                     : line[0] == '"'       ? line.substr(1, line.find('"', 1) - 1)
                                                            : line.substr(0, line.find(' ')));
    if (Fails("CreateProcessA") || (found == programs.end() && !Error(kErrorFileNotFound))) return false;
    started->process = Run(found->second);
    started->thread = Run(found->second, "thread");
    if (on_launch) on_launch(found->first, line);
    return true;
  }
  Dword WaitForSingleObject(Handle process, Dword milliseconds) override {
    if (Fails("WaitForSingleObject") || !Use(process)) return 0xFFFFFFFF;  // WAIT_FAILED
    tick += std::min(Remaining(process), milliseconds);
    return Remaining(process) == 0 ? kWaitObject0 : kWaitTimeout;
  }
  bool GetExitCodeProcess(Handle process, Dword* code) override {
    if (Fails("GetExitCodeProcess") || !Use(process)) return false;
    *code = Remaining(process) > 0 ? kStillActive : process->exit_code;
    return true;
  }
  bool CloseHandle(Handle handle) override {
    if (Use(handle) && handle->kind == "file") --open_files_[handle->path];
    return Release(handle);
  }

  // Only SEE_MASK_NOCLOSEPROCESS hands the process over.
  bool ShellExecuteExA(ShellExecuteInfo* info) override {
    EXPECT_TRUE(info->window == nullptr && info->verb == std::string("runas") && info->directory == nullptr &&
                info->show == kSwHide);
    const auto found = programs.find(info->file);
    if (Fails("ShellExecuteExA") || (found == programs.end() && !Error(kErrorFileNotFound))) return false;
    info->process = (info->mask & kSeeMaskNoCloseProcess) != 0 ? Run(found->second) : nullptr;
    if (on_launch) on_launch(found->first, info->parameters);
    return true;
  }
  int MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned type) override {
    EXPECT_EQ(owner, nullptr);
    message_boxes.push_back(std::u16string(caption) + u"|" + text + u"|" + static_cast<char16_t>(type));
    return Fails("MessageBoxW") ? 0 : 1;  // IDOK, the only button
  }

  bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, std::uint8_t count, Dword rid0,
                                Dword rid1, Dword rid2, Dword rid3, Dword rid4, Dword rid5, Dword rid6,
                                Dword rid7, Sid* sid) override {
    EXPECT_TRUE(std::memcmp(authority.value, kSecurityNtAuthority.value, 6) == 0 && count == 2 &&
                rid0 == 32 && rid1 == 544 && (rid2 | rid3 | rid4 | rid5 | rid6 | rid7) == 0);
    return !Fails("AllocateAndInitializeSid") && (*sid = Hand(SidObject{})) != nullptr;
  }
  bool CheckTokenMembership(Handle token, Sid sid, int* is_member) override {
    EXPECT_TRUE(token == nullptr && Use(sid));
    const bool failing = Fails("CheckTokenMembership");
    *is_member = failing || is_admin;  // a failed check leaves a flag that must not count
    return !failing;
  }
  void FreeSid(Sid sid) override { Release(sid); }
  Handle GetCurrentProcess() override { return &current_process_; }
  bool OpenProcessToken(Handle process, Dword access, Handle* token) override {
    EXPECT_TRUE(process == &current_process_ && access == kTokenQuery);
    *token = Fails("OpenProcessToken") ? nullptr : Hand(KernelObject{0, 0, 0, "token"});
    return *token != nullptr;
  }
  bool GetTokenInformation(Handle token, Dword information_class, void* buffer, Dword size,
                           Dword* length) override {
    EXPECT_EQ(information_class, kTokenUserInformation);
    *length = sizeof(TokenUser) + 28;  // the record, then the SID it points to
    if (Fails("GetTokenInformation") || !Use(token) || (size < *length && !Error(kErrorInsufficientBuffer))) {
      return false;
    }
    const TokenUser user{&user_sid_, 0};
    std::memcpy(buffer, &user, sizeof user);
    return true;
  }
  bool ConvertSidToStringSidA(Sid sid, char** text) override {
    *text = Fails("ConvertSidToStringSidA") ? nullptr : HandText(sid == &user_sid_ ? user_sid : sid->text);
    return *text != nullptr;
  }
  bool ConvertStringSecurityDescriptorToSecurityDescriptorA(const char* text, Dword revision,
                                                            SecurityDescriptor* descriptor,
                                                            Dword* size) override {
    EXPECT_TRUE(revision == kSddlRevision1 && size == nullptr);
    const bool failing = Fails("ConvertStringSecurityDescriptorToSecurityDescriptorA");
    *descriptor = failing ? nullptr : Hand(SecurityDescriptorObject{text});
    return !failing;
  }
  Dword GetSecurityInfo(Handle handle, Dword object_type, Dword information, Sid* owner,
                        SecurityDescriptor* descriptor) override {
    EXPECT_TRUE(object_type == kSeFileObject && information == kOwnerSecurityInformation);
    *owner = nullptr;
    *descriptor = nullptr;
    if (Fails("GetSecurityInfo") || !Use(handle)) return last_error_;
    const auto found = folder_owners.find(handle->path);
    *descriptor =
        Hand(SecurityDescriptorObject{"", {found != folder_owners.end() ? found->second : user_sid}});
    *owner = &(*descriptor)->owner;
    return 0;
  }

  Dword FormatMessageW(Dword flags, const void* source, Dword id, Dword language, char16_t** text,
                       Dword minimum_size) override {
    EXPECT_TRUE(flags == 0x1300 && source == nullptr && language == 0x0400 && minimum_size == 0);
    const auto found = system_messages.find(id);
    const bool known =
        !Fails("FormatMessageW") && (found != system_messages.end() || Error(kErrorMrMidNotFound));
    *text = known ? HandText(found->second) : nullptr;
    return known ? static_cast<Dword>(found->second.size()) : 0;
  }
  void LocalFree(void* memory) override { Release(memory); }
  Dword GetLastError() override { return last_error_; }

  // A path that does not fit is cut to the buffer, terminator included, and the buffer's size returned.
  Dword GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) override {
    EXPECT_EQ(module, nullptr);
    if (Fails("GetModuleFileNameA")) return 0;
    std::snprintf(buffer, size, "%s", module_path.c_str());
    return module_path.size() < size ? static_cast<Dword>(module_path.size())
                                     : (Error(kErrorInsufficientBuffer), size);
  }
  Dword GetFileAttributesA(const char* path) override {
    if (Fails("GetFileAttributesA") || (!Exists(path) && !Error(kErrorFileNotFound))) {
      return kInvalidFileAttributes;
    }
    return folders.count(path) != 0 ? kFileAttributeDirectory : kFileAttributeNormal;
  }
  bool CreateDirectoryA(const char* path, SecurityDescriptor descriptor) override {
    if (Fails("CreateDirectoryA") || (descriptor != nullptr && !Use(descriptor)) ||
        (Exists(path) && !Error(kErrorAlreadyExists))) {
      return false;
    }
    if (!ParentExists(path)) return Error(kErrorPathNotFound);
    file_security[path] = descriptor != nullptr ? descriptor->sddl : "inherited";
    return folders.insert(path).second;
  }
  bool DeleteFileA(const char* path) override {
    return !Fails("DeleteFileA") && (open_files_[path] == 0 || Error(kErrorSharingViolation)) &&
           (files.erase(path) != 0 || Error(kErrorFileNotFound));
  }
  Dword GetSystemDirectoryA(char* buffer, Dword size) override {
    if (Fails("GetSystemDirectoryA")) return 0;
    if (system_folder.size() >= size) return static_cast<Dword>(system_folder.size() + 1);
    std::snprintf(buffer, size, "%s", system_folder.c_str());
    return static_cast<Dword>(system_folder.size());
  }
  Handle CreateFileA(const char* path, Dword access, Dword share, SecurityDescriptor descriptor,
                     Dword disposition, Dword flags) override {
    // A file is only created new, to be written; a folder opened as it is (not where a junction leads),
    // to be listed (an access that takes part in sharing) and its owner read. Neither shares deletion.
    const bool folder = disposition == kOpenExisting;
    EXPECT_EQ(share, kFileShareRead | kFileShareWrite);
    EXPECT_TRUE(
        folder ? access == (kFileListDirectory | kReadControl | kFileReadAttributes) &&
                     descriptor == nullptr && flags == (kFileFlagBackupSemantics | kFileFlagOpenReparsePoint)
               : disposition == kCreateNew && access == kGenericWrite && flags == kFileAttributeNormal);
    if (folder) {
      return Fails("CreateFileA") ||
                     (!Exists(path) && !Error(ParentExists(path) ? kErrorFileNotFound : kErrorPathNotFound))
                 ? nullptr
                 : Hand(KernelObject{0, 0, 0, "folder", path});
    }
    if (Fails("CreateFileA") || (descriptor != nullptr && !Use(descriptor)) ||
        (!ParentExists(path) && !Error(kErrorPathNotFound)) || (Exists(path) && !Error(kErrorFileExists))) {
      return nullptr;
    }
    files[path] = "";
    file_security[path] = descriptor ? descriptor->sddl : "inherited";
    ++open_files_[path];
    return Hand(KernelObject{0, 0, 0, "file", path});
  }
  bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) override {
    if (Fails("GetFileInformationByHandle") || !Use(file)) return false;
    *information = ByHandleFileInformation{};
    information->file_attributes = folders.count(file->path) == 0 ? kFileAttributeNormal
                                   : junctions.count(file->path) == 0
                                       ? kFileAttributeDirectory
                                       : kFileAttributeDirectory | kFileAttributeReparsePoint;
    return true;
  }
  int OpenOsfHandle(Handle file, int flags) override {
    if (Fails("OpenOsfHandle") || !Use(file)) return -1;
    descriptors_[next_descriptor_] = {file, flags};
    return next_descriptor_++;
  }
  FileHandle FdOpen(int descriptor, const char* mode) override {
    EXPECT_EQ(mode, std::string("w"));
    if (Fails("FdOpen") || descriptors_.count(descriptor) == 0) return nullptr;
    const auto& [file, flags] = descriptors_.at(descriptor);
    return Hand(FileObject{file->path, (flags & kOpenText) != 0, descriptor});
  }
  int CloseFd(int descriptor) override {
    EXPECT_EQ(descriptors_.count(descriptor), 1u) << "closed a descriptor that is not open";
    --open_files_[descriptors_.at(descriptor).first->path];
    Release(descriptors_.at(descriptor).first);
    descriptors_.erase(descriptor);
    return 0;
  }
  FileHandle FileOpen(const char* path, FileOpenMode mode) override {
    EXPECT_EQ(mode, FileOpenMode::kAppendText);
    if (Fails("FileOpen") || !ParentExists(path) || folders.count(path) != 0) return nullptr;
    files[path];  // created if missing; a long log is not copied at every line
    return Hand(FileObject{path});
  }
  // Text mode stores a line feed as CR LF. Answers how many of the given bytes were stored.
  std::size_t FileWrite(FileHandle file, const char* data, std::size_t size) override {
    if (Fails("FileWrite") || !Use(file)) return 0;
    const auto limit = size_limits.find(file->path);
    std::string& content = files.at(file->path);
    std::size_t written = 0;
    for (; written < size; ++written) {
      const std::string stored = data[written] == '\n' && file->text ? "\r\n" : std::string(1, data[written]);
      if (limit != size_limits.end() && content.size() + stored.size() > limit->second) break;
      content += stored;
    }
    return written;
  }
  int FileFlush(FileHandle file) override { return Fails("FileFlush") || !Use(file) ? -1 : 0; }
  // A planned failure still gives the stream back, as fclose does.
  int FileClose(FileHandle file) override {
    const bool failing = Fails("FileClose");
    const bool open = Use(file);
    const int descriptor = open ? file->descriptor : -1;
    const bool closed = Release(file) && (descriptor == -1 || CloseFd(descriptor) == 0);
    return closed && !failing ? 0 : -1;
  }

  int DupEnv(char** value, std::size_t* length, const char* name) override {
    const bool failing = Fails("DupEnv");
    *value = failing || !env.count(name) ? nullptr : HandText(env.at(name));
    *length = *value == nullptr ? 0 : env.at(name).size() + 1;
    return failing ? static_cast<int>(last_error_) : 0;
  }
  void FreeEnv(char* value) override { Release(value); }
  const char* GetEnv(const char* name) override {
    return Fails("GetEnv") || !env.count(name) ? nullptr : env.at(name).c_str();
  }

  Dword GetTickCount() override { return Fails("GetTickCount") ? 0 : tick; }
  void Sleep(Dword milliseconds) override { tick += Fails("Sleep") ? 0 : milliseconds; }
  std::int64_t Time64() override { return Fails("Time64") ? -1 : now; }
  int LocalTime64(std::tm* local, std::int64_t seconds) override {
    const std::time_t shifted = static_cast<std::time_t>(seconds + local_offset_seconds);
    return Fails("LocalTime64") ? static_cast<int>(last_error_) : (*local = *std::gmtime(&shifted), 0);
  }
  void OutputDebugStringA(const char* text) override {
    if (!Fails("OutputDebugStringA")) debug_output.push_back(text);
  }

 protected:
  bool Fails(const std::string& operation) {
    if (before_call) before_call(operation);
    const int call = ++calls[operation];
    const auto planned = fail.find(operation);
    if (planned == fail.end() || (planned->second.call != 0 && planned->second.call != call)) return false;
    if (planned->second.error == kThrows) throw std::bad_alloc();
    return !Error(planned->second.error);
  }
  bool Error(Dword error) {
    last_error_ = error;
    return false;
  }
  template <typename T>
  T* Hand(T object) {
    auto owned = std::make_shared<T>(std::move(object));
    open_[owned.get()] = owned;
    return owned.get();
  }
  template <typename Text>
  typename Text::value_type* HandText(const Text& text) {
    auto owned = std::make_shared<Text>(text);
    open_[owned->data()] = owned;
    return owned->data();
  }
  bool Use(const void* handle) {
    EXPECT_EQ(open_.count(handle), 1u) << "a handle used after it was given back, or never handed out";
    return open_.count(handle) == 1 || Error(6);  // ERROR_INVALID_HANDLE
  }
  bool Release(const void* handle) { return Use(handle) && open_.erase(handle) == 1; }
  bool Allowed(ScHandle handle, Dword access) {
    return Use(handle) && ((handle->access & access) != 0 || Error(kErrorAccessDenied));
  }
  SimulatedService& Advance(SimulatedService& service) const {
    if (service.state == kServiceStartPending && tick - service.start_requested_at >= service.start_ms)
      service.state = service.after_start;
    return service;
  }
  Handle Run(KernelObject process, const char* kind = "process") {
    process.started_at = tick;
    process.kind = kind;
    return Hand(process);
  }
  Dword Remaining(Handle process) const {
    const Dword ran = tick - process->started_at;
    return ran < process->runs_ms ? process->runs_ms - ran : 0;
  }
  bool Exists(const std::string& path) const { return files.count(path) != 0 || folders.count(path) != 0; }
  // A drive ("C:") and the current drive's root ("\\wg") always exist.
  bool ParentExists(const std::string& path) const {
    const std::string folded = Fold(path);
    const std::string parent = folded.substr(0, folded.rfind('\\'));
    return parent.empty() || (parent.size() == 2 && parent[1] == ':') || folders.count(parent) != 0;
  }

  std::map<const void*, std::shared_ptr<void>> open_;
  Dword last_error_ = 0;
  KernelObject current_process_{0, 0};
  SidObject user_sid_;
  std::map<int, std::pair<Handle, int>> descriptors_;  // a descriptor's handle and flags
  PathMap<int> open_files_;
  int next_descriptor_ = 3;
};

constexpr const char* kWireGuardExe = "C:\\Apps\\Tarvex\\bin\\wireguard.exe";
constexpr const char* kNetshExe = "C:\\Windows\\system32\\netsh.exe";
constexpr const char* kTemp = "C:\\Users\\ana\\AppData\\Local\\Temp";

// What a successful wireguard.exe does: "/installtunnelservice" creates the service named after the
// file's base name, if the file exists; "/uninstalltunnelservice" deletes it.
inline void ActAsWireGuard(SimulatedWindows& windows, const std::string& line) {
  const std::size_t install = line.find("/installtunnelservice \""),
                    uninstall = line.find("/uninstalltunnelservice ");
  const auto service = [](const std::string& name) {
    return u"WireGuardTunnel$" + std::u16string(name.begin(), name.end());
  };
  if (install != std::string::npos) {
    const std::string conf = line.substr(install + 23, line.size() - install - 24);
    const std::u16string tunnel =
        service(conf.substr(conf.rfind('\\') + 1, conf.size() - conf.rfind('\\') - 6));
    if (windows.files.count(conf) != 0 && windows.FindService(tunnel) == nullptr)
      windows.AddService(tunnel, kServiceStopped);
  } else if (uninstall != std::string::npos) {
    const SimulatedService* gone = windows.FindService(service(line.substr(uninstall + 24)));
    windows.services.erase(std::remove_if(windows.services.begin(), windows.services.end(),
                                          [&](const SimulatedService& s) { return &s == gone; }),
                           windows.services.end());
  }
}

// A bundled wireguard.exe (0.8 s) that acts as the real one while its exit code is 0, netsh (50 ms), TEMP.
inline SimulatedWindows::SimulatedWindows() {
  files[kWireGuardExe] = "";
  programs[kWireGuardExe] = {0, 800};
  programs[kNetshExe] = {0, 50};
  folders.insert(kTemp);
  env["TEMP"] = kTemp;
  on_launch = [this](const std::string& program, const std::string& line) {
    if (program == kWireGuardExe && programs.at(kWireGuardExe).exit_code == 0) ActAsWireGuard(*this, line);
  };
}

}  // namespace tarvex
