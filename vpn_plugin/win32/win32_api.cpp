#include "vpn_plugin/win32/win32_api.h"

#include <windows.h>
// After windows.h, which they need.
#include <aclapi.h>
#include <fcntl.h>
#include <io.h>
#include <sddl.h>
#include <share.h>
#include <shellapi.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace tarvex {

namespace {

// The plugin's enumeration records go to the system as they are.
static_assert(sizeof(EnumServiceStatusProcess) == sizeof(ENUM_SERVICE_STATUS_PROCESSW));
static_assert(offsetof(EnumServiceStatusProcess, service_name) ==
              offsetof(ENUM_SERVICE_STATUS_PROCESSW, lpServiceName));
static_assert(offsetof(EnumServiceStatusProcess, display_name) ==
              offsetof(ENUM_SERVICE_STATUS_PROCESSW, lpDisplayName));
static_assert(offsetof(EnumServiceStatusProcess, status) ==
              offsetof(ENUM_SERVICE_STATUS_PROCESSW, ServiceStatusProcess));
static_assert(sizeof(ServiceStatusProcess) == sizeof(SERVICE_STATUS_PROCESS));
static_assert(offsetof(ServiceStatusProcess, current_state) ==
              offsetof(SERVICE_STATUS_PROCESS, dwCurrentState));
static_assert(sizeof(char16_t) == sizeof(WCHAR));
static_assert(sizeof(SidIdentifierAuthority) == sizeof(SID_IDENTIFIER_AUTHORITY));
// A TokenUser buffer is read as it comes from the system.
static_assert(sizeof(TokenUser) == sizeof(TOKEN_USER));
static_assert(offsetof(TokenUser, sid) == offsetof(TOKEN_USER, User.Sid));
static_assert(kOpenText == _O_TEXT);
// A file information record is copied as it comes from the system.
static_assert(sizeof(ByHandleFileInformation) == sizeof(BY_HANDLE_FILE_INFORMATION));
static_assert(offsetof(ByHandleFileInformation, file_attributes) ==
              offsetof(BY_HANDLE_FILE_INFORMATION, dwFileAttributes));
static_assert(offsetof(ByHandleFileInformation, file_index_low) ==
              offsetof(BY_HANDLE_FILE_INFORMATION, nFileIndexLow));
static_assert(kSeFileObject == SE_FILE_OBJECT);

// wchar_t and char16_t are both UTF-16 code units on Windows.
LPCWSTR Wide(const char16_t* text) { return reinterpret_cast<LPCWSTR>(text); }

SC_HANDLE Native(ScHandle handle) { return reinterpret_cast<SC_HANDLE>(handle); }
ScHandle Ours(SC_HANDLE handle) { return reinterpret_cast<ScHandle>(handle); }
HANDLE Native(Handle handle) { return reinterpret_cast<HANDLE>(handle); }
Handle Ours(HANDLE handle) { return reinterpret_cast<Handle>(handle); }
FILE* Native(FileHandle file) { return reinterpret_cast<FILE*>(file); }

}  // namespace

ScHandle Win32Api::OpenSCManagerW(const char16_t* machine_name, const char16_t* database_name,
                                  Dword desired_access) {
  return Ours(::OpenSCManagerW(Wide(machine_name), Wide(database_name), desired_access));
}

ScHandle Win32Api::OpenServiceW(ScHandle manager, const char16_t* service_name, Dword desired_access) {
  return Ours(::OpenServiceW(Native(manager), Wide(service_name), desired_access));
}

bool Win32Api::QueryServiceStatus(ScHandle service, ServiceStatus* status) {
  SERVICE_STATUS native{};
  const BOOL ok = ::QueryServiceStatus(Native(service), &native);
  status->service_type = native.dwServiceType;
  status->current_state = native.dwCurrentState;
  status->controls_accepted = native.dwControlsAccepted;
  status->win32_exit_code = native.dwWin32ExitCode;
  status->service_specific_exit_code = native.dwServiceSpecificExitCode;
  status->check_point = native.dwCheckPoint;
  status->wait_hint = native.dwWaitHint;
  return ok != FALSE;
}

bool Win32Api::StartServiceW(ScHandle service, Dword argument_count, const char16_t** arguments) {
  return ::StartServiceW(Native(service), argument_count, reinterpret_cast<LPCWSTR*>(arguments)) != FALSE;
}

bool Win32Api::EnumServicesStatusExW(ScHandle manager, Dword info_level, Dword service_type,
                                     Dword service_state, std::uint8_t* buffer, Dword buffer_size,
                                     Dword* bytes_needed, Dword* services_returned, Dword* resume_handle,
                                     const char16_t* group_name) {
  // DWORD is unsigned long here, Dword unsigned int: same size, other type.
  DWORD needed = 0;
  DWORD returned = 0;
  DWORD resume = *resume_handle;
  const BOOL ok = ::EnumServicesStatusExW(Native(manager), static_cast<SC_ENUM_TYPE>(info_level),
                                          service_type, service_state, buffer, buffer_size, &needed,
                                          &returned, &resume, Wide(group_name));
  *bytes_needed = needed;
  *services_returned = returned;
  *resume_handle = resume;
  return ok != FALSE;
}

bool Win32Api::CloseServiceHandle(ScHandle handle) { return ::CloseServiceHandle(Native(handle)) != FALSE; }

bool Win32Api::CreateProcessA(const char* application_name, char* command_line, bool inherit_handles,
                              Dword creation_flags, const StartupInfo& startup,
                              ProcessInformation* process_information) {
  STARTUPINFOA native_startup{};
  native_startup.cb = sizeof native_startup;
  native_startup.dwFlags = startup.flags;
  native_startup.wShowWindow = startup.show_window;
  PROCESS_INFORMATION native{};
  const BOOL ok =
      ::CreateProcessA(application_name, command_line, nullptr, nullptr, inherit_handles ? TRUE : FALSE,
                       creation_flags, nullptr, nullptr, &native_startup, &native);
  process_information->process = Ours(native.hProcess);
  process_information->thread = Ours(native.hThread);
  process_information->process_id = native.dwProcessId;
  process_information->thread_id = native.dwThreadId;
  return ok != FALSE;
}

Dword Win32Api::WaitForSingleObject(Handle handle, Dword milliseconds) {
  return ::WaitForSingleObject(Native(handle), milliseconds);
}

bool Win32Api::GetExitCodeProcess(Handle process, Dword* exit_code) {
  DWORD code = 0;
  const BOOL ok = ::GetExitCodeProcess(Native(process), &code);
  if (ok != FALSE) {
    *exit_code = code;
  }
  return ok != FALSE;
}

bool Win32Api::CloseHandle(Handle handle) { return ::CloseHandle(Native(handle)) != FALSE; }

bool Win32Api::ShellExecuteExA(ShellExecuteInfo* info) {
  SHELLEXECUTEINFOA native{};
  native.cbSize = sizeof native;
  native.fMask = info->mask;
  native.hwnd = reinterpret_cast<HWND>(info->window);
  native.lpVerb = info->verb;
  native.lpFile = info->file;
  native.lpParameters = info->parameters;
  native.lpDirectory = info->directory;
  native.nShow = info->show;
  const BOOL ok = ::ShellExecuteExA(&native);
  info->process = Ours(native.hProcess);
  return ok != FALSE;
}

int Win32Api::MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption, unsigned type) {
  return ::MessageBoxW(reinterpret_cast<HWND>(owner), Wide(text), Wide(caption), type);
}

bool Win32Api::AllocateAndInitializeSid(const SidIdentifierAuthority& authority, std::uint8_t count,
                                        Dword sub_authority0, Dword sub_authority1, Dword sub_authority2,
                                        Dword sub_authority3, Dword sub_authority4, Dword sub_authority5,
                                        Dword sub_authority6, Dword sub_authority7, Sid* sid) {
  SID_IDENTIFIER_AUTHORITY native_authority;
  std::memcpy(native_authority.Value, authority.value, sizeof native_authority.Value);
  PSID native_sid = nullptr;
  const BOOL ok = ::AllocateAndInitializeSid(&native_authority, count, sub_authority0, sub_authority1,
                                             sub_authority2, sub_authority3, sub_authority4, sub_authority5,
                                             sub_authority6, sub_authority7, &native_sid);
  *sid = reinterpret_cast<Sid>(native_sid);
  return ok != FALSE;
}

bool Win32Api::CheckTokenMembership(Handle token, Sid sid, int* is_member) {
  BOOL member = FALSE;
  const BOOL ok = ::CheckTokenMembership(Native(token), reinterpret_cast<PSID>(sid), &member);
  *is_member = member;
  return ok != FALSE;
}

void Win32Api::FreeSid(Sid sid) { ::FreeSid(reinterpret_cast<PSID>(sid)); }

Handle Win32Api::GetCurrentProcess() { return Ours(::GetCurrentProcess()); }

bool Win32Api::OpenProcessToken(Handle process, Dword desired_access, Handle* token) {
  HANDLE native = nullptr;
  const BOOL ok = ::OpenProcessToken(Native(process), desired_access, &native);
  *token = ok != FALSE ? Ours(native) : nullptr;
  return ok != FALSE;
}

bool Win32Api::GetTokenInformation(Handle token, Dword information_class, void* buffer, Dword buffer_size,
                                   Dword* return_length) {
  DWORD length = 0;
  const BOOL ok = ::GetTokenInformation(
      Native(token), static_cast<TOKEN_INFORMATION_CLASS>(information_class), buffer, buffer_size, &length);
  *return_length = length;
  return ok != FALSE;
}

bool Win32Api::ConvertSidToStringSidA(Sid sid, char** text) {
  LPSTR native = nullptr;
  const BOOL ok = ::ConvertSidToStringSidA(reinterpret_cast<PSID>(sid), &native);
  *text = ok != FALSE ? native : nullptr;
  return ok != FALSE;
}

bool Win32Api::ConvertStringSecurityDescriptorToSecurityDescriptorA(const char* text, Dword revision,
                                                                    SecurityDescriptor* descriptor,
                                                                    Dword* size) {
  PSECURITY_DESCRIPTOR native = nullptr;
  ULONG native_size = 0;
  const BOOL ok =
      ::ConvertStringSecurityDescriptorToSecurityDescriptorA(text, revision, &native, &native_size);
  *descriptor = ok != FALSE ? reinterpret_cast<SecurityDescriptor>(native) : nullptr;
  if (size != nullptr) {
    *size = native_size;
  }
  return ok != FALSE;
}

Dword Win32Api::GetSecurityInfo(Handle handle, Dword object_type, Dword security_information, Sid* owner,
                                SecurityDescriptor* descriptor) {
  PSID native_owner = nullptr;
  PSECURITY_DESCRIPTOR native = nullptr;
  const DWORD error =
      ::GetSecurityInfo(Native(handle), static_cast<SE_OBJECT_TYPE>(object_type), security_information,
                        &native_owner, nullptr, nullptr, nullptr, &native);
  *owner = error == ERROR_SUCCESS ? reinterpret_cast<Sid>(native_owner) : nullptr;
  *descriptor = error == ERROR_SUCCESS ? reinterpret_cast<SecurityDescriptor>(native) : nullptr;
  return error;
}

Dword Win32Api::FormatMessageW(Dword flags, const void* source, Dword message_id, Dword language_id,
                               char16_t** buffer, Dword minimum_size) {
  // With FORMAT_MESSAGE_ALLOCATE_BUFFER the buffer argument receives the
  // address of the text the system allocated.
  LPWSTR text = nullptr;
  const DWORD length = ::FormatMessageW(flags, source, message_id, language_id,
                                        reinterpret_cast<LPWSTR>(&text), minimum_size, nullptr);
  *buffer = reinterpret_cast<char16_t*>(text);
  return length;
}

void Win32Api::LocalFree(void* memory) { ::LocalFree(memory); }

Dword Win32Api::GetLastError() { return ::GetLastError(); }

Dword Win32Api::GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) {
  return ::GetModuleFileNameA(reinterpret_cast<HMODULE>(module), buffer, size);
}

Dword Win32Api::GetFileAttributesA(const char* path) { return ::GetFileAttributesA(path); }

bool Win32Api::CreateDirectoryA(const char* path, SecurityDescriptor descriptor) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  return ::CreateDirectoryA(path, &attributes) != FALSE;
}

bool Win32Api::DeleteFileA(const char* path) { return ::DeleteFileA(path) != FALSE; }

Dword Win32Api::GetSystemDirectoryA(char* buffer, Dword size) { return ::GetSystemDirectoryA(buffer, size); }

Handle Win32Api::CreateFileA(const char* path, Dword desired_access, Dword share_mode,
                             SecurityDescriptor descriptor, Dword creation_disposition,
                             Dword flags_and_attributes) {
  SECURITY_ATTRIBUTES attributes{};
  attributes.nLength = sizeof attributes;
  attributes.lpSecurityDescriptor = descriptor;
  attributes.bInheritHandle = FALSE;
  const HANDLE file = ::CreateFileA(path, desired_access, share_mode, &attributes, creation_disposition,
                                    flags_and_attributes, nullptr);
  return file == INVALID_HANDLE_VALUE ? nullptr : Ours(file);
}

bool Win32Api::GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) {
  BY_HANDLE_FILE_INFORMATION native{};
  const BOOL ok = ::GetFileInformationByHandle(Native(file), &native);
  std::memcpy(information, &native, sizeof native);
  return ok != FALSE;
}

int Win32Api::OpenOsfHandle(Handle file, int flags) {
  return ::_open_osfhandle(reinterpret_cast<intptr_t>(Native(file)), flags);
}

FileHandle Win32Api::FdOpen(int descriptor, const char* mode) {
  return reinterpret_cast<FileHandle>(::_fdopen(descriptor, mode));
}

int Win32Api::CloseFd(int descriptor) { return ::_close(descriptor); }

FileHandle Win32Api::FileOpen(const char* path, FileOpenMode mode) {
  const char* mode_text = mode == FileOpenMode::kAppendText ? "a" : "w";
  return reinterpret_cast<FileHandle>(::_fsopen(path, mode_text, _SH_DENYNO));
}

std::size_t Win32Api::FileWrite(FileHandle file, const char* data, std::size_t size) {
  return std::fwrite(data, 1, size, Native(file));
}

int Win32Api::FileFlush(FileHandle file) { return std::fflush(Native(file)); }

int Win32Api::FileClose(FileHandle file) { return std::fclose(Native(file)); }

// _dupenv_s is not in every C runtime that MinGW links against; getenv reads
// the same runtime environment, and the copy makes it the caller's.
int Win32Api::DupEnv(char** value, std::size_t* length, const char* name) {
  *value = nullptr;
  *length = 0;
  const char* found = std::getenv(name);
  if (found == nullptr) {
    return 0;
  }
  const std::size_t size = std::strlen(found) + 1;
  char* copy = static_cast<char*>(std::malloc(size));
  if (copy == nullptr) {
    return ENOMEM;
  }
  std::memcpy(copy, found, size);
  *value = copy;
  *length = size;
  return 0;
}

void Win32Api::FreeEnv(char* value) { std::free(value); }

const char* Win32Api::GetEnv(const char* name) { return std::getenv(name); }

Dword Win32Api::GetTickCount() { return ::GetTickCount(); }

void Win32Api::Sleep(Dword milliseconds) { ::Sleep(milliseconds); }

std::int64_t Win32Api::Time64() { return ::_time64(nullptr); }

int Win32Api::LocalTime64(std::tm* local, std::int64_t seconds) {
  const __time64_t time = seconds;
  return ::_localtime64_s(local, &time);
}

void Win32Api::OutputDebugStringA(const char* text) { ::OutputDebugStringA(text); }

}  // namespace tarvex
