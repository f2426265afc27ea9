#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>

namespace tarvex {

// The plugin reaches Windows only through WindowsApi. Each operation mirrors
// one Win32 or C runtime call with its meaning, its handle and its last-error
// conventions, so the plugin's algorithms are written once, above this line,
// and run unchanged against the real system (win32/win32_api.h) or against a
// simulated machine in the tests.
//
// Wide text is 16-bit code units (char16_t), as on Windows: wchar_t is 32 bits
// on Linux, so the conversion to the Win32 types happens only below the seam.

using Dword = std::uint32_t;

// Opaque handles: Win32 handles pass through unchanged, and nothing above the
// seam can look inside them.
struct ServiceObject;
using ScHandle = ServiceObject*;  // SC_HANDLE
struct KernelObject;
using Handle = KernelObject*;  // HANDLE (processes, threads, tokens, files, folders)
struct SidObject;
using Sid = SidObject*;  // PSID
struct WindowObject;
using WindowHandle = WindowObject*;  // HWND
struct ModuleObject;
using ModuleHandle = ModuleObject*;  // HMODULE
struct FileObject;
using FileHandle = FileObject*;  // FILE*
struct SecurityDescriptorObject;
using SecurityDescriptor = SecurityDescriptorObject*;  // PSECURITY_DESCRIPTOR

// Our spellings of the Win32 constants the plugin uses. They cannot carry the
// Win32 names: <windows.h> defines those as macros in the pass-through.
constexpr Dword kScManagerConnect = 0x0001;
constexpr Dword kScManagerEnumerateService = 0x0004;
constexpr Dword kServiceQueryStatus = 0x0004;
constexpr Dword kServiceStart = 0x0010;

constexpr Dword kScEnumProcessInfo = 0;
constexpr Dword kServiceKernelDriver = 0x01;
constexpr Dword kServiceWin32OwnProcess = 0x10;
constexpr Dword kServiceWin32ShareProcess = 0x20;
constexpr Dword kServiceWin32 = kServiceWin32OwnProcess | kServiceWin32ShareProcess;
constexpr Dword kServiceStateAll = 3;

constexpr Dword kServiceStopped = 1;
constexpr Dword kServiceStartPending = 2;
constexpr Dword kServiceRunning = 4;

constexpr Dword kErrorFileNotFound = 2;
constexpr Dword kErrorPathNotFound = 3;
constexpr Dword kErrorAccessDenied = 5;
constexpr Dword kErrorSharingViolation = 32;
constexpr Dword kErrorFileExists = 80;
constexpr Dword kErrorInsufficientBuffer = 122;
constexpr Dword kErrorAlreadyExists = 183;
constexpr Dword kErrorMoreData = 234;
constexpr Dword kErrorMrMidNotFound = 317;
constexpr Dword kErrorServiceAlreadyRunning = 1056;
constexpr Dword kErrorServiceDoesNotExist = 1060;
constexpr Dword kErrorCancelled = 1223;

constexpr Dword kWaitObject0 = 0;
constexpr Dword kWaitTimeout = 258;
constexpr Dword kStillActive = 259;

constexpr Dword kStartfUseShowWindow = 0x0001;
constexpr std::uint16_t kSwHide = 0;
constexpr Dword kCreateNoWindow = 0x08000000;
constexpr Dword kSeeMaskNoCloseProcess = 0x00000040;

constexpr unsigned kMbOk = 0x00;
constexpr unsigned kMbIconWarning = 0x30;
constexpr unsigned kMbIconInformation = 0x40;

constexpr Dword kFormatMessageAllocateBuffer = 0x0100;
constexpr Dword kFormatMessageIgnoreInserts = 0x0200;
constexpr Dword kFormatMessageFromSystem = 0x1000;
constexpr Dword kLangNeutralSublangDefault = 0x0400;

constexpr Dword kInvalidFileAttributes = 0xFFFFFFFF;
constexpr Dword kFileAttributeDirectory = 0x10;
constexpr Dword kFileAttributeNormal = 0x80;
constexpr Dword kFileAttributeReparsePoint = 0x400;

constexpr Dword kGenericWrite = 0x40000000;
constexpr Dword kReadControl = 0x00020000;
constexpr Dword kFileReadAttributes = 0x0080;
constexpr Dword kFileListDirectory = 0x0001;
constexpr Dword kFileShareRead = 0x01;
constexpr Dword kFileShareWrite = 0x02;
constexpr Dword kCreateNew = 1;
constexpr Dword kOpenExisting = 3;
constexpr Dword kFileFlagBackupSemantics = 0x02000000;  // lets CreateFileA open a folder
constexpr Dword kFileFlagOpenReparsePoint = 0x00200000;
// _O_TEXT: a C runtime descriptor that stores each line feed as CR LF.
constexpr int kOpenText = 0x4000;

constexpr Dword kTokenQuery = 0x0008;
constexpr Dword kTokenUserInformation = 1;  // TokenUser
constexpr Dword kSddlRevision1 = 1;
constexpr Dword kSeFileObject = 1;  // SE_FILE_OBJECT
constexpr Dword kOwnerSecurityInformation = 0x00000001;

constexpr Dword kSecurityBuiltinDomainRid = 32;
constexpr Dword kDomainAliasRidAdmins = 544;

constexpr Dword kMaxPath = 260;

// SERVICE_STATUS.
struct ServiceStatus {
  Dword service_type;
  Dword current_state;
  Dword controls_accepted;
  Dword win32_exit_code;
  Dword service_specific_exit_code;
  Dword check_point;
  Dword wait_hint;
};

// SERVICE_STATUS_PROCESS.
struct ServiceStatusProcess {
  Dword service_type;
  Dword current_state;
  Dword controls_accepted;
  Dword win32_exit_code;
  Dword service_specific_exit_code;
  Dword check_point;
  Dword wait_hint;
  Dword process_id;
  Dword service_flags;
};

// ENUM_SERVICE_STATUS_PROCESSW. Its layout equals the Win32 record on x64 (the
// pass-through checks that at compile time), so an enumeration buffer passes
// through untouched. The name pointers point into the same buffer.
struct EnumServiceStatusProcess {
  char16_t* service_name;
  char16_t* display_name;
  ServiceStatusProcess status;
};

// BY_HANDLE_FILE_INFORMATION; each time is a FILETIME's low and high half.
struct ByHandleFileInformation {
  Dword file_attributes;
  Dword creation_time[2];
  Dword last_access_time[2];
  Dword last_write_time[2];
  Dword volume_serial_number;
  Dword file_size_high;
  Dword file_size_low;
  Dword number_of_links;
  Dword file_index_high;
  Dword file_index_low;
};

// SID_IDENTIFIER_AUTHORITY.
struct SidIdentifierAuthority {
  std::uint8_t value[6];
};
constexpr SidIdentifierAuthority kSecurityNtAuthority = {{0, 0, 0, 0, 0, 5}};

// The fields of STARTUPINFOA that the plugin sets; the rest are zero and cb is
// filled below the seam.
struct StartupInfo {
  Dword flags;
  std::uint16_t show_window;
};

// TOKEN_USER: the user's SID, which points into the same buffer.
struct TokenUser {
  Sid sid;
  Dword attributes;
};

// PROCESS_INFORMATION.
struct ProcessInformation {
  Handle process;
  Handle thread;
  Dword process_id;
  Dword thread_id;
};

// The fields of SHELLEXECUTEINFOA that the plugin sets or reads; the rest are
// zero and cbSize is filled below the seam. `process` is written back.
struct ShellExecuteInfo {
  Dword mask;
  WindowHandle window;
  const char* verb;
  const char* file;
  const char* parameters;
  const char* directory;
  int show;
  Handle process;
};

// How a file is opened: always text mode (line feeds stored as CR LF) and
// shared for reading and writing with other openers, as _fsopen with
// _SH_DENYNO. Append: "a"; truncate: "w".
enum class FileOpenMode { kAppendText, kTruncateText };

class WindowsApi {
 public:
  WindowsApi() = default;
  virtual ~WindowsApi() = default;

  WindowsApi(const WindowsApi&) = delete;
  WindowsApi& operator=(const WindowsApi&) = delete;

  // Service Control Manager. Null machine and database names mean the local
  // machine and its active database.
  virtual ScHandle OpenSCManagerW(const char16_t* machine_name, const char16_t* database_name,
                                  Dword desired_access) = 0;
  virtual ScHandle OpenServiceW(ScHandle manager, const char16_t* service_name, Dword desired_access) = 0;
  virtual bool QueryServiceStatus(ScHandle service, ServiceStatus* status) = 0;
  virtual bool StartServiceW(ScHandle service, Dword argument_count, const char16_t** arguments) = 0;
  // `buffer` receives EnumServiceStatusProcess records followed by their
  // strings. When it is too small: false, last error kErrorMoreData, the
  // entries that fit, `bytes_needed` for the rest and `resume_handle` moved
  // past the entries returned.
  virtual bool EnumServicesStatusExW(ScHandle manager, Dword info_level, Dword service_type,
                                     Dword service_state, std::uint8_t* buffer, Dword buffer_size,
                                     Dword* bytes_needed, Dword* services_returned, Dword* resume_handle,
                                     const char16_t* group_name) = 0;
  virtual bool CloseServiceHandle(ScHandle handle) = 0;

  // Processes. Security attributes, environment and current directory are
  // always the defaults (null). A null application name makes Windows take
  // the program from the command line and search for it.
  virtual bool CreateProcessA(const char* application_name, char* command_line, bool inherit_handles,
                              Dword creation_flags, const StartupInfo& startup,
                              ProcessInformation* process_information) = 0;
  virtual Dword WaitForSingleObject(Handle handle, Dword milliseconds) = 0;
  virtual bool GetExitCodeProcess(Handle process, Dword* exit_code) = 0;
  virtual bool CloseHandle(Handle handle) = 0;

  // Shell and user interface.
  virtual bool ShellExecuteExA(ShellExecuteInfo* info) = 0;
  virtual int MessageBoxW(WindowHandle owner, const char16_t* text, const char16_t* caption,
                          unsigned type) = 0;

  // Security.
  virtual bool AllocateAndInitializeSid(const SidIdentifierAuthority& authority, std::uint8_t count,
                                        Dword sub_authority0, Dword sub_authority1, Dword sub_authority2,
                                        Dword sub_authority3, Dword sub_authority4, Dword sub_authority5,
                                        Dword sub_authority6, Dword sub_authority7, Sid* sid) = 0;
  // `is_member` receives a BOOL: TRUE (1) or FALSE (0).
  virtual bool CheckTokenMembership(Handle token, Sid sid, int* is_member) = 0;
  virtual void FreeSid(Sid sid) = 0;
  // GetCurrentProcess: a pseudo handle that needs no closing.
  virtual Handle GetCurrentProcess() = 0;
  // `token` receives a handle for CloseHandle.
  virtual bool OpenProcessToken(Handle process, Dword desired_access, Handle* token) = 0;
  // When `buffer_size` is too small: false, last error
  // kErrorInsufficientBuffer and the size needed in `return_length`.
  virtual bool GetTokenInformation(Handle token, Dword information_class, void* buffer, Dword buffer_size,
                                   Dword* return_length) = 0;
  // `text` receives a LocalAlloc'ed "S-1-..." text for LocalFree.
  virtual bool ConvertSidToStringSidA(Sid sid, char** text) = 0;
  // `descriptor` receives a LocalAlloc'ed self-relative descriptor for
  // LocalFree; `size` may be null.
  virtual bool ConvertStringSecurityDescriptorToSecurityDescriptorA(const char* text, Dword revision,
                                                                    SecurityDescriptor* descriptor,
                                                                    Dword* size) = 0;
  // GetSecurityInfo for the owner alone (no group, DACL or SACL). Answers
  // ERROR_SUCCESS (0) or the error code itself, not through the last error.
  // `descriptor` receives a LocalAlloc'ed descriptor for LocalFree, and
  // `owner` points into it.
  virtual Dword GetSecurityInfo(Handle handle, Dword object_type, Dword security_information, Sid* owner,
                                SecurityDescriptor* descriptor) = 0;

  // Error texts. Only the FORMAT_MESSAGE_ALLOCATE_BUFFER form: `buffer`
  // receives a LocalAlloc'ed text for LocalFree. No insert arguments.
  virtual Dword FormatMessageW(Dword flags, const void* source, Dword message_id, Dword language_id,
                               char16_t** buffer, Dword minimum_size) = 0;
  virtual void LocalFree(void* memory) = 0;
  virtual Dword GetLastError() = 0;

  // Files and folders. Paths are narrow, in the ANSI code page.
  virtual Dword GetModuleFileNameA(ModuleHandle module, char* buffer, Dword size) = 0;
  virtual Dword GetFileAttributesA(const char* path) = 0;
  // With a SECURITY_ATTRIBUTES that carries `descriptor` (null: the
  // inherited default) and no handle inheritance.
  virtual bool CreateDirectoryA(const char* path, SecurityDescriptor descriptor) = 0;
  virtual bool DeleteFileA(const char* path) = 0;
  // The length of the system folder's path without its terminator; 0 on
  // failure; the size needed (terminator included) when `size` is too small.
  virtual Dword GetSystemDirectoryA(char* buffer, Dword size) = 0;
  // CreateFileA with a SECURITY_ATTRIBUTES that carries `descriptor` (null:
  // the inherited default) and no handle inheritance, no template file.
  // Null, not INVALID_HANDLE_VALUE, when the file cannot be created or opened.
  virtual Handle CreateFileA(const char* path, Dword desired_access, Dword share_mode,
                             SecurityDescriptor descriptor, Dword creation_disposition,
                             Dword flags_and_attributes) = 0;
  virtual bool GetFileInformationByHandle(Handle file, ByHandleFileInformation* information) = 0;
  // _open_osfhandle: -1 on failure, when the handle stays the caller's;
  // otherwise the descriptor owns the handle.
  virtual int OpenOsfHandle(Handle file, int flags) = 0;
  // _fdopen: null on failure, when the descriptor stays the caller's;
  // otherwise the stream owns the descriptor, and FileClose closes all three.
  virtual FileHandle FdOpen(int descriptor, const char* mode) = 0;
  // _close.
  virtual int CloseFd(int descriptor) = 0;
  // _fsopen; null when the file cannot be opened.
  virtual FileHandle FileOpen(const char* path, FileOpenMode mode) = 0;
  // fwrite, fflush, fclose.
  virtual std::size_t FileWrite(FileHandle file, const char* data, std::size_t size) = 0;
  virtual int FileFlush(FileHandle file) = 0;
  virtual int FileClose(FileHandle file) = 0;

  // Environment. DupEnv behaves as _dupenv_s: a non-zero result is an error;
  // otherwise `value` is null when the variable is not set, or a copy to give
  // back with FreeEnv. GetEnv behaves as getenv.
  virtual int DupEnv(char** value, std::size_t* length, const char* name) = 0;
  virtual void FreeEnv(char* value) = 0;
  virtual const char* GetEnv(const char* name) = 0;

  // Time. Time64 is _time64 (whole seconds since the epoch); LocalTime64 is
  // _localtime64_s and answers 0 on success.
  virtual Dword GetTickCount() = 0;
  virtual void Sleep(Dword milliseconds) = 0;
  virtual std::int64_t Time64() = 0;
  virtual int LocalTime64(std::tm* local, std::int64_t seconds) = 0;

  virtual void OutputDebugStringA(const char* text) = 0;
};

}  // namespace tarvex
