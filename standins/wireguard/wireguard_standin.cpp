// Stand-in for WireGuard for Windows' wireguard.exe, for tests under Wine.
//
//   wireguard.exe /installtunnelservice <conf path>   creates the tunnel service
//   wireguard.exe /uninstalltunnelservice <tunnel>    stops and deletes it
//   wireguard.exe /standin-service <behaviour> <ms> <tunnel>
//                                                     the service itself, as the
//                                                     Service Control Manager runs it
//
// Faults are chosen by "#tarvex-standin <directive>" lines in the
// configuration text; the install turns the service's part of them into the
// service's own command line, so the service never reads the file. Every
// invocation appends one line to wireguard-standin.log beside the program.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <type_traits>

#include "standins/record/standin_record.h"

namespace {

constexpr std::string_view kInstallSwitch = "/installtunnelservice";
constexpr std::string_view kUninstallSwitch = "/uninstalltunnelservice";
constexpr std::string_view kServiceSwitch = "/standin-service";
constexpr std::string_view kDirectivePrefix = "#tarvex-standin ";
constexpr wchar_t kServicePrefix[] = L"WireGuardTunnel$";

// Exit codes beside the ones the plugin relies on (0 done, 1 failed).
constexpr DWORD kExitUsage = 2;

// A service that stops during start-up stays start-pending this long first
// (unless a start delay is given), so a poller sees it pending, then stopped.
constexpr DWORD kDefaultStopsDuringStartMs = 1000;
// A service that dies runs this long first: the start that waited for it has
// seen it running and replied by then.
constexpr DWORD kRunsBeforeDeathMs = 2000;
// The plugin waits 5 s for an uninstall: a stop that takes longer ends the
// service's process, and the whole uninstall stays within that wait.
constexpr DWORD kStopWaitMs = 2500;
constexpr DWORD kTerminateWaitMs = 1000;
constexpr DWORD kDeletionWaitMs = 800;
constexpr DWORD kPollMs = 50;
constexpr std::size_t kMaxConfigurationBytes = 1 << 20;

// --- Handles --------------------------------------------------------------

struct ServiceHandleCloser {
  void operator()(SC_HANDLE handle) const { CloseServiceHandle(handle); }
};
struct KernelHandleCloser {
  void operator()(HANDLE handle) const { CloseHandle(handle); }
};
using ServiceHandle = std::unique_ptr<std::remove_pointer_t<SC_HANDLE>, ServiceHandleCloser>;
using KernelHandle = std::unique_ptr<void, KernelHandleCloser>;

// --- Text -----------------------------------------------------------------

std::wstring Widen(std::string_view text) {
  if (text.empty()) {
    return std::wstring();
  }
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

std::string_view TrimBlanks(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string_view::npos) {
    return std::string_view();
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

// The command line after the program's own path, as Windows splits off
// argument 0: a quoted path ends at the next quote, a bare one at a blank.
std::string_view ArgumentsOf(std::string_view command_line) {
  std::size_t end = 0;
  if (!command_line.empty() && command_line[0] == '"') {
    end = command_line.find('"', 1);
    end = end == std::string_view::npos ? command_line.size() : end + 1;
  } else {
    end = command_line.find_first_of(" \t");
    end = end == std::string_view::npos ? command_line.size() : end;
  }
  return TrimBlanks(command_line.substr(end));
}

// One operand: the rest of the line, without the quotes around it if it is
// quoted, so a path may hold blanks whether or not the caller quoted it.
std::string_view Operand(std::string_view rest) {
  rest = TrimBlanks(rest);
  if (!rest.empty() && rest[0] == '"') {
    const std::size_t closing = rest.find('"', 1);
    return rest.substr(1, closing == std::string_view::npos ? std::string_view::npos : closing - 1);
  }
  return rest;
}

// The text after a switch that is followed by a blank or ends the line.
std::optional<std::string_view> AfterSwitch(std::string_view arguments, std::string_view name) {
  if (arguments.substr(0, name.size()) != name ||
      (arguments.size() > name.size() && arguments[name.size()] != ' ' && arguments[name.size()] != '\t')) {
    return std::nullopt;
  }
  return arguments.substr(name.size());
}

std::optional<DWORD> ParseDecimal(std::string_view text) {
  if (text.empty() || text.size() > 10) {
    return std::nullopt;
  }
  std::uint64_t value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') {
      return std::nullopt;
    }
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  if (value > 0xFFFFFFFFu) {
    return std::nullopt;
  }
  return static_cast<DWORD>(value);
}

// --- The record -----------------------------------------------------------

// When this process was created, on the same wall clock as NowUnixMilliseconds.
std::uint64_t ProcessStartUnixMilliseconds() {
  FILETIME created{}, exited{}, kernel{}, user{};
  if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
    return standin::NowUnixMilliseconds();
  }
  return standin::UnixMilliseconds(created);
}

void Record(std::uint64_t start, std::string_view action, std::string_view arguments,
            std::string_view outcome) {
  const std::string line = std::to_string(start) + " " + std::to_string(standin::NowUnixMilliseconds()) +
                           " " + std::to_string(GetCurrentProcessId()) + " " + std::string(action) + " " +
                           std::string(arguments) + " -> " + std::string(outcome) + "\r\n";
  if (!standin::AppendLine(standin::OwnFolder() + L"wireguard-standin.log", line)) {
    std::fprintf(stderr, "wireguard stand-in: cannot append to its record\n");
  }
}

// A crash leaves no exit code to record, so the line is written just before.
[[noreturn]] void RecordAndCrash(std::string_view action) {
  Record(ProcessStartUnixMilliseconds(), action, ArgumentsOf(GetCommandLineA()), "crashing");
  standin::CrashWithAccessViolation();
}

// --- Directives -----------------------------------------------------------

enum class StartBehaviour { kRuns, kStopsDuringStart, kStaysPending, kDiesWhenRunning };

constexpr std::string_view BehaviourWord(StartBehaviour behaviour) {
  switch (behaviour) {
    case StartBehaviour::kStopsDuringStart:
      return "stops-during-start";
    case StartBehaviour::kStaysPending:
      return "stays-pending";
    case StartBehaviour::kDiesWhenRunning:
      return "dies-when-running";
    case StartBehaviour::kRuns:
      break;
  }
  return "runs";
}

std::optional<StartBehaviour> BehaviourFromWord(std::string_view word) {
  for (const StartBehaviour behaviour : {StartBehaviour::kRuns, StartBehaviour::kStopsDuringStart,
                                         StartBehaviour::kStaysPending, StartBehaviour::kDiesWhenRunning}) {
    if (word == BehaviourWord(behaviour)) {
      return behaviour;
    }
  }
  return std::nullopt;
}

enum class InstallCrash { kNone, kBeforeService, kAfterService };

struct Directives {
  std::optional<DWORD> install_exit;
  DWORD install_delay_ms = 0;
  InstallCrash install_crash = InstallCrash::kNone;
  std::optional<DWORD> service_start_delay_ms;
  StartBehaviour behaviour = StartBehaviour::kRuns;
  bool probe_folder = false;
};

// Reads the directive lines of a configuration text; an unknown or malformed
// directive is a mistake in a test, reported rather than ignored.
std::optional<Directives> ParseDirectives(std::string_view text) {
  Directives directives;
  while (!text.empty()) {
    const std::size_t line_end = text.find('\n');
    std::string_view line = text.substr(0, line_end);
    text = line_end == std::string_view::npos ? std::string_view() : text.substr(line_end + 1);
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (line.substr(0, kDirectivePrefix.size()) != kDirectivePrefix) {
      continue;
    }
    const std::string_view directive = TrimBlanks(line.substr(kDirectivePrefix.size()));
    const std::size_t blank = directive.find(' ');
    const std::string_view name = directive.substr(0, blank);
    const std::string_view value =
        blank == std::string_view::npos ? std::string_view() : TrimBlanks(directive.substr(blank));
    const std::optional<DWORD> number = ParseDecimal(value);
    if (name == "install-exit" && number) {
      directives.install_exit = number;
    } else if (name == "install-delay" && number) {
      directives.install_delay_ms = *number;
    } else if (name == "service-start-delay" && number) {
      directives.service_start_delay_ms = number;
    } else if (name == "service-stops-during-start" && value.empty()) {
      directives.behaviour = StartBehaviour::kStopsDuringStart;
    } else if (name == "service-stays-pending" && value.empty()) {
      directives.behaviour = StartBehaviour::kStaysPending;
    } else if (name == "probe-folder" && value.empty()) {
      directives.probe_folder = true;
    } else if (name == "service-dies-when-running" && value.empty()) {
      directives.behaviour = StartBehaviour::kDiesWhenRunning;
    } else if (name == "install-crashes-before-service" && value.empty()) {
      directives.install_crash = InstallCrash::kBeforeService;
    } else if (name == "install-crashes-after-service" && value.empty()) {
      directives.install_crash = InstallCrash::kAfterService;
    } else {
      std::fprintf(stderr, "wireguard stand-in: unknown directive: %.*s\n", static_cast<int>(line.size()),
                   line.data());
      return std::nullopt;
    }
  }
  return directives;
}

// Reads the whole file and closes it before returning: the plugin may delete
// or rewrite it the moment the install has ended.
std::optional<std::string> ReadConfiguration(const std::string& path) {
  const KernelHandle file(CreateFileW(Widen(path).c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (file.get() == INVALID_HANDLE_VALUE) {
    return std::nullopt;
  }
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.get(), &size) || size.QuadPart > static_cast<LONGLONG>(kMaxConfigurationBytes)) {
    return std::nullopt;
  }
  std::string text(static_cast<std::size_t>(size.QuadPart), '\0');
  DWORD read = 0;
  if (!text.empty() && (!ReadFile(file.get(), text.data(), static_cast<DWORD>(text.size()), &read, nullptr) ||
                        read != text.size())) {
    return std::nullopt;
  }
  return text;
}

// "C:\dir\tarvex_office.conf" -> "tarvex_office".
std::string TunnelNameOf(std::string_view path) {
  const std::size_t separator = path.find_last_of("\\/");
  std::string_view name = separator == std::string_view::npos ? path : path.substr(separator + 1);
  constexpr std::string_view kSuffix = ".conf";
  if (name.size() >= kSuffix.size() &&
      CompareStringOrdinal(Widen(name.substr(name.size() - kSuffix.size())).c_str(), -1, L".conf", -1,
                           TRUE) == CSTR_EQUAL) {
    name.remove_suffix(kSuffix.size());
  }
  return std::string(name);
}

// --- Install --------------------------------------------------------------

// Does what somebody out to swap the configuration would try while the
// install runs: rename the folder it lies in, and remove that folder. Records
// the error of each (0: it worked; a renamed folder is put back at once).
void ProbeFolder(const std::string& path) {
  const std::uint64_t start = standin::NowUnixMilliseconds();
  const std::string folder = path.substr(0, path.find_last_of("\\/"));
  const std::wstring name = Widen(folder);
  const std::wstring moved = name + L".moved";
  DWORD rename_error = 0;
  if (MoveFileW(name.c_str(), moved.c_str())) {
    MoveFileW(moved.c_str(), name.c_str());
  } else {
    rename_error = GetLastError();
  }
  const DWORD remove_error = RemoveDirectoryW(name.c_str()) ? 0 : GetLastError();
  Record(start, "probe-folder", folder,
         "rename " + std::to_string(rename_error) + " remove " + std::to_string(remove_error));
}

DWORD Install(std::string_view rest) {
  const std::string path(Operand(rest));
  const std::optional<std::string> text = ReadConfiguration(path);
  if (!text) {
    std::fprintf(stderr, "wireguard stand-in: cannot read %s\n", path.c_str());
    return 1;
  }
  const std::optional<Directives> directives = ParseDirectives(*text);
  if (!directives) {
    return kExitUsage;
  }
  if (directives->probe_folder) {
    ProbeFolder(path);
  }
  Sleep(directives->install_delay_ms);
  if (directives->install_exit) {
    return *directives->install_exit;
  }
  if (directives->install_crash == InstallCrash::kBeforeService) {
    RecordAndCrash("install");
  }
  const std::string tunnel = TunnelNameOf(path);
  if (tunnel.empty()) {
    return 1;
  }

  const DWORD start_delay = directives->service_start_delay_ms.value_or(
      directives->behaviour == StartBehaviour::kStopsDuringStart ? kDefaultStopsDuringStartMs : 0);
  const std::wstring program = L"\"" + standin::OwnPath() + L"\" " + Widen(kServiceSwitch) + L" " +
                               Widen(BehaviourWord(directives->behaviour)) + L" " +
                               std::to_wstring(start_delay) + L" " + Widen(tunnel);
  const std::wstring service_name = kServicePrefix + Widen(tunnel);
  const std::wstring display_name = L"WireGuard stand-in tunnel: " + Widen(tunnel);

  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CREATE_SERVICE));
  if (!manager) {
    return 1;
  }
  const ServiceHandle service(CreateServiceW(manager.get(), service_name.c_str(), display_name.c_str(),
                                             SERVICE_QUERY_STATUS, SERVICE_WIN32_OWN_PROCESS,
                                             SERVICE_AUTO_START, SERVICE_ERROR_NORMAL, program.c_str(),
                                             nullptr, nullptr, nullptr, nullptr, nullptr));
  if (!service) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "wireguard stand-in: cannot create the service (error %lu)\n", error);
    return 1;
  }
  if (directives->install_crash == InstallCrash::kAfterService) {
    RecordAndCrash("install");
  }
  return 0;
}

// --- Uninstall ------------------------------------------------------------

std::optional<SERVICE_STATUS_PROCESS> QueryStatus(SC_HANDLE service) {
  SERVICE_STATUS_PROCESS status{};
  DWORD needed = 0;
  if (!QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                            &needed)) {
    return std::nullopt;
  }
  return status;
}

bool WaitUntilStopped(SC_HANDLE service, DWORD limit_ms) {
  const DWORD start = GetTickCount();
  for (;;) {
    const std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service);
    if (!status || status->dwCurrentState == SERVICE_STOPPED) {
      return true;
    }
    if (GetTickCount() - start >= limit_ms) {
      return false;
    }
    Sleep(kPollMs);
  }
}

// Windows refuses the stop control while a service is start-pending (Wine
// delivers it), and a service may ignore it: either way the service's process
// is ended, so the whole uninstall stays within the caller's wait.
void StopService(SC_HANDLE service) {
  SERVICE_STATUS ignored{};
  if ((ControlService(service, SERVICE_CONTROL_STOP, &ignored) ||
       GetLastError() == ERROR_SERVICE_NOT_ACTIVE) &&
      WaitUntilStopped(service, kStopWaitMs)) {
    return;
  }
  const std::optional<SERVICE_STATUS_PROCESS> status = QueryStatus(service);
  if (status && status->dwProcessId != 0) {
    const KernelHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, status->dwProcessId));
    if (process) {
      TerminateProcess(process.get(), 1);
    }
  }
  WaitUntilStopped(service, kTerminateWaitMs);
}

bool ServiceExists(SC_HANDLE manager, const std::wstring& name) {
  const ServiceHandle service(OpenServiceW(manager, name.c_str(), SERVICE_QUERY_STATUS));
  return service || GetLastError() != ERROR_SERVICE_DOES_NOT_EXIST;
}

DWORD Uninstall(std::string_view rest) {
  const std::wstring service_name = kServicePrefix + Widen(Operand(rest));
  const ServiceHandle manager(OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT));
  if (!manager) {
    return 1;
  }
  ServiceHandle service(
      OpenServiceW(manager.get(), service_name.c_str(), SERVICE_STOP | SERVICE_QUERY_STATUS | DELETE));
  if (!service) {
    return 1;
  }
  StopService(service.get());
  const bool deleted = DeleteService(service.get()) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
  service.reset();
  // The manager forgets a deleted service once its last handle is closed;
  // waiting for that here means a caller never sees it linger.
  const DWORD start = GetTickCount();
  while (deleted && ServiceExists(manager.get(), service_name) && GetTickCount() - start < kDeletionWaitMs) {
    Sleep(kPollMs);
  }
  return deleted ? 0 : 1;
}

// --- Service mode ---------------------------------------------------------

struct ServiceSettings {
  StartBehaviour behaviour = StartBehaviour::kRuns;
  DWORD start_delay_ms = 0;
  std::string tunnel;
};

// "<behaviour> <start delay ms> <tunnel name>", as the install wrote it.
std::optional<ServiceSettings> ParseServiceSettings(std::string_view rest) {
  rest = TrimBlanks(rest);
  const std::size_t first_blank = rest.find(' ');
  const std::size_t second_blank =
      rest.find(' ', first_blank == std::string_view::npos ? 0 : first_blank + 1);
  if (first_blank == std::string_view::npos || second_blank == std::string_view::npos) {
    return std::nullopt;
  }
  const std::optional<StartBehaviour> behaviour = BehaviourFromWord(rest.substr(0, first_blank));
  const std::optional<DWORD> delay =
      ParseDecimal(rest.substr(first_blank + 1, second_blank - first_blank - 1));
  if (!behaviour || !delay) {
    return std::nullopt;
  }
  return ServiceSettings{*behaviour, *delay, std::string(TrimBlanks(rest.substr(second_blank + 1)))};
}

// What the control handler shares with the service's main thread.
struct RunningService {
  SERVICE_STATUS_HANDLE status_handle = nullptr;
  KernelHandle stop_requested;
  std::atomic<std::uint64_t> stop_requested_at{0};
  DWORD check_point = 0;

  void Report(DWORD state) {
    SERVICE_STATUS status{};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_STOPPED ? 0 : SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN;
    status.dwWin32ExitCode = NO_ERROR;
    const bool changing = state == SERVICE_START_PENDING || state == SERVICE_STOP_PENDING;
    status.dwCheckPoint = changing ? ++check_point : 0;
    status.dwWaitHint = changing ? 2000 : 0;
    SetServiceStatus(status_handle, &status);
  }

  // True when a stop arrived within the time (INFINITE waits for one).
  bool StopArrives(DWORD milliseconds) const {
    return WaitForSingleObject(stop_requested.get(), milliseconds) == WAIT_OBJECT_0;
  }
};

DWORD WINAPI HandleControl(DWORD control, DWORD /*event_type*/, void* /*event_data*/, void* context) {
  auto* service = static_cast<RunningService*>(context);
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      service->stop_requested_at = standin::NowUnixMilliseconds();
      SetEvent(service->stop_requested.get());
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// The record is written before each final report: whoever sees the state
// change can already read the line.
void WINAPI ServiceMain(DWORD /*argc*/, wchar_t** /*argv*/) {
  const std::string arguments(ArgumentsOf(GetCommandLineA()));
  const std::uint64_t started = ProcessStartUnixMilliseconds();
  const std::optional<std::string_view> rest = AfterSwitch(arguments, kServiceSwitch);
  const std::optional<ServiceSettings> settings = rest ? ParseServiceSettings(*rest) : std::nullopt;

  RunningService service;
  service.stop_requested.reset(CreateEventW(nullptr, TRUE, FALSE, nullptr));
  const std::wstring service_name = kServicePrefix + Widen(settings ? settings->tunnel : std::string());
  service.status_handle = RegisterServiceCtrlHandlerExW(service_name.c_str(), HandleControl, &service);
  if (service.status_handle == nullptr) {
    Record(started, "service-start", arguments, "no-control-handler");
    return;
  }
  if (!settings || !service.stop_requested) {
    Record(started, "service-start", arguments, "stopped");
    service.Report(SERVICE_STOPPED);
    return;
  }

  service.Report(SERVICE_START_PENDING);
  if (settings->behaviour == StartBehaviour::kStaysPending) {
    Record(started, "service-start", arguments, "start-pending");
    service.StopArrives(INFINITE);
  } else if (service.StopArrives(settings->start_delay_ms) ||
             settings->behaviour == StartBehaviour::kStopsDuringStart) {
    Record(started, "service-start", arguments, "stopped");
    service.Report(SERVICE_STOPPED);
    return;
  } else {
    Record(started, "service-start", arguments, "running");
    service.Report(SERVICE_RUNNING);
    // Dies as a crashing service does: without reporting that it stopped.
    if (settings->behaviour == StartBehaviour::kDiesWhenRunning && !service.StopArrives(kRunsBeforeDeathMs)) {
      RecordAndCrash("service-crash");
    }
    service.StopArrives(INFINITE);
  }
  service.Report(SERVICE_STOP_PENDING);
  Record(service.stop_requested_at, "service-stop", arguments, "stopped");
  service.Report(SERVICE_STOPPED);
}

int RunAsService(std::string_view arguments) {
  // An own-process service: the name in the table is not used to route.
  wchar_t no_name[] = L"";
  const SERVICE_TABLE_ENTRYW table[] = {{no_name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherW(table)) {
    const DWORD error = GetLastError();
    std::fprintf(stderr, "wireguard stand-in: not started by the Service Control Manager (error %lu)\n",
                 error);
    Record(ProcessStartUnixMilliseconds(), "service-start", arguments, "no-service-manager");
    return 1;
  }
  return 0;
}

}  // namespace

int main() {
  const std::uint64_t started = ProcessStartUnixMilliseconds();
  const std::string arguments(ArgumentsOf(GetCommandLineA()));

  if (AfterSwitch(arguments, kServiceSwitch)) {
    // The service records its own start and stop.
    return RunAsService(arguments);
  }
  std::string_view action = "usage";
  DWORD exit_code = kExitUsage;
  if (const std::optional<std::string_view> conf = AfterSwitch(arguments, kInstallSwitch)) {
    action = "install";
    exit_code = Install(*conf);
  } else if (const std::optional<std::string_view> tunnel = AfterSwitch(arguments, kUninstallSwitch)) {
    action = "uninstall";
    exit_code = Uninstall(*tunnel);
  } else {
    std::fprintf(
        stderr,
        "usage: wireguard.exe /installtunnelservice <conf path> | /uninstalltunnelservice <tunnel>\n");
  }
  Record(started, action, arguments, std::to_string(exit_code));
  return static_cast<int>(exit_code);
}
