#include "simulated_windows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <ctime>
#include <new>

namespace tarvex {

namespace {

std::u16string Fold(std::u16string_view name) {
  std::u16string folded(name);
  for (char16_t& unit : folded) {
    unit = unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 32) : unit;
  }
  return folded;
}

std::string Narrow(std::u16string_view name) { return std::string(name.begin(), name.end()); }

}  // namespace

SimulatedWindows::SimulatedWindows() {
  AddDirectory("C:\\Users\\ana\\AppData\\Roaming");
  SetEnv("APPDATA", "C:\\Users\\ana\\AppData\\Roaming");
  AddFile(module_path);
  system_messages[kErrorFileNotFound] = u"The system cannot find the file specified.\r\n";
  system_messages[kErrorCancelled] = u"The operation was canceled by the user.\r\n";
}

SimulatedWindows::~SimulatedWindows() = default;

SimulatedWindows::Service& SimulatedWindows::AddService(std::u16string name, Dword state, Dword type) {
  Service& added = services_.emplace_back();
  added.name = std::move(name);
  added.state = state;
  added.type = type;
  return added;
}

SimulatedWindows::Service& SimulatedWindows::service(std::u16string_view name) {
  Service* found = Find(name);
  EXPECT_NE(found, nullptr) << "no service " << Narrow(name);
  return *found;
}

void SimulatedWindows::AddProgram(const std::string& path, Program program) {
  programs_[Key(path)] = program;
  AddFile(path);
}

void SimulatedWindows::AddFile(const std::string& path, const std::string& contents) {
  AddDirectory(Parent(Key(path)));
  files_[Key(path)] = Entry{false, contents};
}

void SimulatedWindows::AddDirectory(const std::string& path) {
  for (std::string key = Key(path); key.find('\\') != std::string::npos; key = Parent(key)) {
    files_[key] = Entry{true, ""};
  }
}

std::optional<std::string> SimulatedWindows::FileContents(const std::string& path) const {
  const auto found = files_.find(Key(path));
  if (found == files_.end() || found->second.directory) {
    return std::nullopt;
  }
  return found->second.contents;
}

bool SimulatedWindows::DirectoryExists(const std::string& path) const {
  const auto found = files_.find(Key(path));
  return found != files_.end() && found->second.directory;
}

int SimulatedWindows::Calls(const std::string& operation) const {
  const auto found = calls_.find(operation);
  return found == calls_.end() ? 0 : found->second;
}

bool SimulatedWindows::ProcessRunning(std::size_t index) const {
  return tick - processes_.at(index).started_at < processes_.at(index).program.runs_ms;
}

std::string SimulatedWindows::Key(std::string_view path) {
  std::string key(path);
  for (char& c : key) {
    c = c == '/' ? '\\' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return key;
}

std::string SimulatedWindows::Parent(const std::string& key) {
  const std::string::size_type last = key.rfind('\\');
  return last == std::string::npos ? std::string() : key.substr(0, last);
}

// A drive ("c:") always exists.
bool SimulatedWindows::ParentIsDirectory(const std::string& key) const {
  const std::string parent = Parent(key);
  return (parent.size() == 2 && parent[1] == ':') || DirectoryExists(parent);
}

void SimulatedWindows::Enter(const std::string& operation) {
  const auto planned = throw_on_.find(operation);
  if (++calls_[operation] == (planned == throw_on_.end() ? 0 : planned->second)) {
    throw std::bad_alloc();
  }
}

bool SimulatedWindows::Release(const void* object, const char* what) {
  if (open_.erase(object) == 0) {
    ADD_FAILURE() << what << " given back twice or never handed out";
    return Fail(kErrorAccessDenied);
  }
  return true;
}

bool SimulatedWindows::IsOpen(const void* object) const {
  EXPECT_EQ(open_.count(object), 1u) << "a handle used after it was given back";
  return open_.count(object) == 1;
}

SimulatedWindows::Service* SimulatedWindows::Find(std::u16string_view name) {
  for (Service& candidate : services_) {
    if (Fold(candidate.name) == Fold(name)) {
      return &candidate;
    }
  }
  return nullptr;
}

// A start request leaves the service start-pending until its time is up.
void SimulatedWindows::Advance(Service& service) const {
  if (service.state == kServiceStartPending && tick - service.start_requested_at >= service.start_takes_ms) {
    service.state = service.state_after_start;
  }
}

ScHandle SimulatedWindows::OpenSCManagerW(const char16_t* machine_name, const char16_t* database_name,
                                          Dword desired_access) {
  Enter("OpenSCManagerW");
  EXPECT_TRUE(machine_name == nullptr && database_name == nullptr);
  if (manager_refused) {
    Fail(kErrorAccessDenied);
    return nullptr;
  }
  return Hand(std::make_shared<ServiceObject>(ServiceObject{u"", desired_access}));
}

ScHandle SimulatedWindows::OpenServiceW(ScHandle manager, const char16_t* service_name,
                                        Dword desired_access) {
  Enter("OpenServiceW");
  Service* found = IsOpen(manager) ? Find(service_name) : nullptr;
  if (found == nullptr || found->open_denied) {
    Fail(found == nullptr ? kErrorServiceDoesNotExist : kErrorAccessDenied);
    return nullptr;
  }
  return Hand(std::make_shared<ServiceObject>(ServiceObject{found->name, desired_access}));
}

bool SimulatedWindows::QueryServiceStatus(ScHandle handle, ServiceStatus* status) {
  Enter("QueryServiceStatus");
  if (!IsOpen(handle) || (handle->access & kServiceQueryStatus) == 0 ||
      service(handle->service).query_fails) {
    return Fail(kErrorAccessDenied);
  }
  Service& queried = service(handle->service);
  Advance(queried);
  *status = ServiceStatus{queried.type, queried.state, 0, 0, 0, 0, 0};
  return true;
}

bool SimulatedWindows::StartServiceW(ScHandle handle, Dword argument_count, const char16_t** arguments) {
  Enter("StartServiceW");
  EXPECT_TRUE(argument_count == 0 && arguments == nullptr);
  if (!IsOpen(handle) || (handle->access & kServiceStart) == 0) {
    return Fail(kErrorAccessDenied);
  }
  Service& started = service(handle->service);
  Advance(started);
  if (started.start_error != 0 || started.state != kServiceStopped) {
    return Fail(started.start_error != 0 ? started.start_error : kErrorServiceAlreadyRunning);
  }
  started.state = kServiceStartPending;
  started.start_requested_at = tick;
  return true;
}

// As Windows does it: records from the front of the buffer, their strings from
// the back; what does not fit is left for the resume position.
bool SimulatedWindows::EnumServicesStatusExW(ScHandle manager, Dword info_level, Dword service_type,
                                             Dword service_state, std::uint8_t* buffer, Dword buffer_size,
                                             Dword* bytes_needed, Dword* services_returned,
                                             Dword* resume_handle, const char16_t* group_name) {
  Enter("EnumServicesStatusExW");
  EXPECT_TRUE(info_level == kScEnumProcessInfo && service_state == kServiceStateAll && group_name == nullptr);
  *bytes_needed = 0;
  *services_returned = 0;
  if (enumeration_fails || !IsOpen(manager) || (manager->access & kScManagerEnumerateService) == 0) {
    return Fail(kErrorAccessDenied);
  }
  std::vector<Service*> listed;
  for (Service& candidate : services_) {
    Advance(candidate);
    if ((candidate.type & service_type) != 0) {
      listed.push_back(&candidate);
    }
  }
  const auto size_of = [](const Service* entry) {
    return sizeof(EnumServiceStatusProcess) + 2 * (entry->name.size() + 1) * sizeof(char16_t);
  };
  std::size_t front = 0;
  std::size_t back = buffer_size;
  std::size_t index = *resume_handle;
  for (; index < listed.size() && front + size_of(listed[index]) <= back; ++index) {
    EnumServiceStatusProcess record{};
    const std::size_t name_bytes = (listed[index]->name.size() + 1) * sizeof(char16_t);
    for (char16_t** name : {&record.service_name, &record.display_name}) {
      back -= name_bytes;
      std::memcpy(buffer + back, listed[index]->name.c_str(), name_bytes);
      *name = reinterpret_cast<char16_t*>(buffer + back);
    }
    record.status.service_type = listed[index]->type;
    record.status.current_state = listed[index]->state;
    std::memcpy(buffer + front, &record, sizeof record);
    front += sizeof record;
    ++*services_returned;
  }
  for (std::size_t rest = index; rest < listed.size(); ++rest) {
    *bytes_needed += static_cast<Dword>(size_of(listed[rest]));
  }
  const bool complete = index == listed.size();
  *resume_handle = complete ? 0 : static_cast<Dword>(index);
  if (after_enumeration) {
    after_enumeration();
  }
  return complete || Fail(kErrorMoreData);
}

bool SimulatedWindows::CloseServiceHandle(ScHandle handle) {
  if (open_.count(handle) != 0) {
    closed_services.push_back(handle->service.empty() ? "manager" : Narrow(handle->service));
  }
  return Release(handle, "a service handle");
}

KernelObject* SimulatedWindows::NewProcess(Program program) {
  processes_.push_back(Process{program, tick});
  return Hand(std::make_shared<KernelObject>(KernelObject{processes_.size() - 1}));
}

bool SimulatedWindows::CreateProcessA(const char* application_name, char* command_line, bool inherit_handles,
                                      Dword creation_flags, const StartupInfo& startup,
                                      ProcessInformation* process_information) {
  Enter("CreateProcessA");
  EXPECT_EQ(application_name, nullptr);
  launches.push_back(
      Launch{command_line, creation_flags, startup.flags, startup.show_window, inherit_handles});
  // The program is the quoted text that opens the line, or its first word.
  const std::string line(command_line);
  const std::string program =
      line.rfind('"', 0) == 0 ? line.substr(1, line.find('"', 1) - 1) : line.substr(0, line.find(' '));
  const auto found = programs_.find(Key(program));
  if (found == programs_.end()) {
    return Fail(kErrorFileNotFound);
  }
  process_information->process = NewProcess(found->second);
  process_information->thread = Hand(std::make_shared<KernelObject>(KernelObject{processes_.size() - 1}));
  return true;
}

Dword SimulatedWindows::WaitForSingleObject(Handle handle, Dword milliseconds) {
  Enter("WaitForSingleObject");
  const Process& process = processes_.at(handle->process);
  const Dword remaining =
      ProcessRunning(handle->process) ? process.program.runs_ms - (tick - process.started_at) : 0;
  tick += std::min(remaining, milliseconds);
  return remaining > milliseconds ? kWaitTimeout : kWaitObject0;
}

bool SimulatedWindows::GetExitCodeProcess(Handle handle, Dword* exit_code) {
  Enter("GetExitCodeProcess");
  if (exit_code_unreadable) {
    return Fail(kErrorAccessDenied);
  }
  *exit_code =
      ProcessRunning(handle->process) ? kStillActive : processes_.at(handle->process).program.exit_code;
  return true;
}

bool SimulatedWindows::CloseHandle(Handle handle) { return Release(handle, "a handle"); }

bool SimulatedWindows::ShellExecuteExA(ShellExecuteInfo* info) {
  Enter("ShellExecuteExA");
  shell_requests.push_back(ShellRequest{info->mask, info->verb, info->file, info->parameters, info->show});
  info->process = nullptr;
  const auto found = programs_.find(Key(info->file));
  if (elevation_refused || found == programs_.end()) {
    return Fail(elevation_refused ? kErrorCancelled : kErrorFileNotFound);
  }
  KernelObject* process = NewProcess(found->second);
  if ((info->mask & kSeeMaskNoCloseProcess) == 0) {
    return CloseHandle(process);
  }
  info->process = process;
  return true;
}

int SimulatedWindows::MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                                  unsigned type) {
  Enter("MessageBoxW");
  EXPECT_EQ(owner, nullptr);
  message_boxes.push_back(Box{text, caption, type});
  return 1;  // IDOK, the only button
}

bool SimulatedWindows::AllocateAndInitializeSid(const SidIdentifierAuthority& authority, std::uint8_t count,
                                                Dword sub_authority0, Dword sub_authority1,
                                                Dword sub_authority2, Dword sub_authority3,
                                                Dword sub_authority4, Dword sub_authority5,
                                                Dword sub_authority6, Dword sub_authority7, Sid* sid) {
  Enter("AllocateAndInitializeSid");
  if (sid_allocation_fails) {
    return Fail(kErrorAccessDenied);
  }
  // Only S-1-5-32-544 names the Administrators group.
  const std::uint8_t nt_authority[6] = {0, 0, 0, 0, 0, 5};
  const bool administrators = std::memcmp(authority.value, nt_authority, 6) == 0 && count == 2 &&
                              sub_authority0 == 32 && sub_authority1 == 544 &&
                              (sub_authority2 | sub_authority3 | sub_authority4 | sub_authority5 |
                               sub_authority6 | sub_authority7) == 0;
  *sid = Hand(std::make_shared<SidObject>(SidObject{administrators}));
  return true;
}

bool SimulatedWindows::CheckTokenMembership(Handle token, Sid sid, int* is_member) {
  Enter("CheckTokenMembership");
  EXPECT_EQ(token, nullptr);
  *is_member = membership_check_fails || (is_admin && sid->administrators) ? 1 : 0;
  // A failed check leaves a flag behind that must not count.
  return !membership_check_fails || Fail(kErrorAccessDenied);
}

void SimulatedWindows::FreeSid(Sid sid) { Release(sid, "a SID"); }

Dword SimulatedWindows::FormatMessageW(Dword flags, const void* source, Dword message_id, Dword language_id,
                                       char16_t** buffer, Dword minimum_size) {
  Enter("FormatMessageW");
  EXPECT_TRUE(flags == 0x1300 && source == nullptr && language_id == 0x0400 && minimum_size == 0);
  const auto found = system_messages.find(message_id);
  if (found == system_messages.end()) {
    *buffer = nullptr;
    Fail(kErrorMrMidNotFound);
    return 0;
  }
  *buffer = HandText(std::make_shared<std::u16string>(found->second));
  return static_cast<Dword>(found->second.size());
}

void SimulatedWindows::LocalFree(void* memory) { Release(memory, "a system text"); }

Dword SimulatedWindows::GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) {
  Enter("GetModuleFileNameA");
  EXPECT_EQ(module, nullptr);
  const std::size_t copied = std::min<std::size_t>(module_path.size(), size - 1);
  std::memcpy(buffer, module_path.data(), copied);
  buffer[copied] = '\0';
  return copied < module_path.size() ? size : static_cast<Dword>(copied);
}

Dword SimulatedWindows::GetFileAttributesA(const char* path) {
  Enter("GetFileAttributesA");
  const auto found = files_.find(Key(path));
  if (found == files_.end()) {
    Fail(kErrorFileNotFound);
    return kInvalidFileAttributes;
  }
  return found->second.directory ? kFileAttributeDirectory : kFileAttributeNormal;
}

bool SimulatedWindows::CreateDirectoryA(const char* path) {
  Enter("CreateDirectoryA");
  const std::string key = Key(path);
  if (files_.count(key) != 0 || !ParentIsDirectory(key)) {
    return Fail(files_.count(key) != 0 ? kErrorAlreadyExists : kErrorPathNotFound);
  }
  files_[key] = Entry{true, ""};
  return true;
}

bool SimulatedWindows::DeleteFileA(const char* path) {
  Enter("DeleteFileA");
  const auto found = files_.find(Key(path));
  if (found == files_.end() || found->second.directory) {
    return Fail(found == files_.end() ? kErrorFileNotFound : kErrorAccessDenied);
  }
  files_.erase(found);
  return true;
}

FileHandle SimulatedWindows::FileOpen(const char* path, FileOpenMode mode) {
  Enter("FileOpen");
  const std::string key = Key(path);
  const std::string name = key.substr(key.rfind('\\') + 1);
  if (name.find_first_of("*?\"<>|:") != std::string::npos || !ParentIsDirectory(key) ||
      DirectoryExists(key)) {
    return nullptr;
  }
  if (files_.count(key) == 0 || mode == FileOpenMode::kTruncateText) {
    files_[key] = Entry{false, ""};
  }
  return Hand(std::make_shared<FileObject>(FileObject{key}));
}

// Text mode: every line feed is stored as CR LF.
std::size_t SimulatedWindows::FileWrite(FileHandle file, const char* data, std::size_t size) {
  Enter("FileWrite");
  for (std::size_t i = 0; i < size; ++i) {
    files_.at(file->key).contents += data[i] == '\n' ? "\r\n" : std::string(1, data[i]);
  }
  return size;
}

int SimulatedWindows::FileFlush(FileHandle /*file*/) {
  Enter("FileFlush");
  return 0;
}

int SimulatedWindows::FileClose(FileHandle file) { return Release(file, "a file") ? 0 : -1; }

int SimulatedWindows::DupEnv(char** value, std::size_t* length, const char* name) {
  Enter("DupEnv");
  *value = nullptr;
  *length = 0;
  const auto found = env_.find(Key(name));
  if (env_read_fails || found == env_.end()) {
    return env_read_fails ? 22 : 0;  // EINVAL
  }
  *value = HandText(std::make_shared<std::string>(found->second));
  *length = found->second.size() + 1;
  return 0;
}

void SimulatedWindows::FreeEnv(char* value) { Release(value, "an environment copy"); }

const char* SimulatedWindows::GetEnv(const char* name) {
  Enter("GetEnv");
  const auto found = env_.find(Key(name));
  return found == env_.end() ? nullptr : found->second.c_str();
}

Dword SimulatedWindows::GetTickCount() {
  Enter("GetTickCount");
  return tick;
}

void SimulatedWindows::Sleep(Dword milliseconds) {
  Enter("Sleep");
  tick += milliseconds;
}

std::int64_t SimulatedWindows::Time64() {
  Enter("Time64");
  return now;
}

int SimulatedWindows::LocalTime64(std::tm* local, std::int64_t seconds) {
  Enter("LocalTime64");
  const std::time_t shifted = static_cast<std::time_t>(seconds + local_offset_seconds);
  if (local_time_fails) {
    return 22;  // EINVAL
  }
  *local = *std::gmtime(&shifted);
  return 0;
}

void SimulatedWindows::OutputDebugStringA(const char* text) {
  Enter("OutputDebugStringA");
  debug_output.push_back(text);
}

}  // namespace tarvex
