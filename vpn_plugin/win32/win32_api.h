#pragma once

#include "vpn_plugin/windows_api.h"

namespace tarvex {

// WindowsApi on the real system: each operation is the Win32 or C runtime
// call of the same name, arguments and results passed through unchanged.
class Win32Api final : public WindowsApi {
 public:
  Win32Api() = default;
  ~Win32Api() override = default;

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
  Handle GetCurrentProcess() override;
  bool OpenProcessToken(Handle process, Dword desired_access, Handle* token) override;
  bool GetTokenInformation(Handle token, Dword information_class, void* buffer, Dword buffer_size,
                           Dword* return_length) override;
  bool ConvertSidToStringSidA(Sid sid, char** text) override;
  bool ConvertStringSecurityDescriptorToSecurityDescriptorA(const char* text, Dword revision,
                                                            SecurityDescriptor* descriptor,
                                                            Dword* size) override;
  Dword GetSecurityInfo(Handle handle, Dword object_type, Dword security_information, Sid* owner,
                        SecurityDescriptor* descriptor) override;

  Dword FormatMessageW(Dword flags, const void* source, Dword message_id, Dword language_id,
                       char16_t** buffer, Dword minimum_size) override;
  void LocalFree(void* memory) override;
  Dword GetLastError() override;

  Dword GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) override;
  Dword GetFileAttributesA(const char* path) override;
  bool CreateDirectoryA(const char* path, SecurityDescriptor descriptor) override;
  bool DeleteFileA(const char* path) override;
  Dword GetSystemDirectoryA(char* buffer, Dword size) override;
  Handle CreateFileA(const char* path, Dword desired_access, Dword share_mode, SecurityDescriptor descriptor,
                     Dword creation_disposition, Dword flags_and_attributes) override;
  bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) override;
  int OpenOsfHandle(Handle file, int flags) override;
  FileHandle FdOpen(int descriptor, const char* mode) override;
  int CloseFd(int descriptor) override;
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
};

}  // namespace tarvex
