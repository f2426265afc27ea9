#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;

std::string Folder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path).substr(0, std::string(path).rfind('\\'));
}

const std::string kWireGuard = Folder() + "\\bin\\wireguard.exe";

// Runs a command line and waits for it; answers its exit code.
DWORD RunProgram(const std::string& command_line, const std::string& program = "",
                 DWORD* milliseconds = nullptr) {
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  std::string writable = command_line;
  const DWORD start = GetTickCount();
  if (!CreateProcessA(program.empty() ? nullptr : program.c_str(), writable.data(), nullptr, nullptr, FALSE,
                      CREATE_NO_WINDOW, nullptr, nullptr, &startup, &process)) {
    return 0xFFFFFFFF;
  }
  WaitForSingleObject(process.hProcess, 15000);
  DWORD exit_code = 0xFFFFFFFF;
  GetExitCodeProcess(process.hProcess, &exit_code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  if (milliseconds != nullptr) {
    *milliseconds = GetTickCount() - start;
  }
  return exit_code;
}

// The lines a record gains after the reader is made, without line ends.
class RecordReader {
 public:
  explicit RecordReader(std::string path) : path_(std::move(path)) {
    std::ifstream file(path_, std::ios::binary | std::ios::ate);
    start_ = file ? static_cast<std::streamoff>(file.tellg()) : 0;
  }
  std::vector<std::string> NewLines() const {
    std::ifstream file(path_, std::ios::binary);
    file.seekg(start_);
    std::vector<std::string> lines;
    for (std::string line; std::getline(file, line);) {
      lines.push_back(line.substr(0, line.find_last_not_of('\r') + 1));
    }
    return lines;
  }

 private:
  std::string path_;
  std::streamoff start_ = 0;
};

// gtest's own regular expressions are the simple kind on Windows.
MATCHER_P(MatchesRecord, pattern, "matches " + std::string(pattern)) {
  return std::regex_match(arg, std::regex(pattern));
}

// The service's state, or 0 when the Service Control Manager does not know it.
DWORD StateOf(const std::string& tunnel) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, ("WireGuardTunnel$" + tunnel).c_str(), SERVICE_QUERY_STATUS);
  SERVICE_STATUS status{};
  const bool known = service != nullptr && QueryServiceStatus(service, &status);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return known ? status.dwCurrentState : 0;
}

// Polls while the service is in `state`; answers the state it left for (or
// `state` after the limit) and how long that took.
std::pair<DWORD, DWORD> WaitWhile(const std::string& tunnel, DWORD state, DWORD limit_ms) {
  const DWORD start = GetTickCount();
  DWORD now = StateOf(tunnel);
  for (; now == state && GetTickCount() - start < limit_ms; now = StateOf(tunnel)) {
    Sleep(50);
  }
  return {now, GetTickCount() - start};
}

// Runs one operation on the service with the Service Control Manager alone.
bool WithService(const std::string& tunnel, DWORD access, bool (*operation)(SC_HANDLE)) {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceA(manager, ("WireGuardTunnel$" + tunnel).c_str(), access);
  const bool done = service != nullptr && operation(service);
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  return done;
}

bool Start(const std::string& tunnel) {
  return WithService(tunnel, SERVICE_START,
                     [](SC_HANDLE service) { return StartServiceA(service, 0, nullptr) != FALSE; });
}

class StandinsTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateDirectoryA(folder_.c_str(), nullptr); }

  // Leaves no tunnel service behind, passed or failed, whatever the
  // stand-in's uninstall does: the process ends, the service goes.
  void TearDown() override {
    for (const std::string& tunnel : tunnels_) {
      WithService(tunnel, SERVICE_ALL_ACCESS, [](SC_HANDLE service) {
        SERVICE_STATUS_PROCESS status{};
        DWORD needed = 0;
        if (QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                 sizeof status, &needed) &&
            status.dwProcessId != 0) {
          HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, status.dwProcessId);
          TerminateProcess(process, 1);
          CloseHandle(process);
        }
        return DeleteService(service) != FALSE;
      });
      const DWORD start = GetTickCount();
      while (StateOf(tunnel) != 0 && GetTickCount() - start < 2000) {
        Sleep(50);
      }
      EXPECT_EQ(StateOf(tunnel), 0u) << tunnel << " is still installed";
    }
  }

  // Writes "<folder with a blank>\<tunnel>.conf" with a configuration and the given directive.
  std::string Configuration(const std::string& tunnel, const std::string& directive = "") {
    tunnels_.push_back(tunnel);
    const std::string path = folder_ + "\\" + tunnel + ".conf";
    std::ofstream(path, std::ios::binary)
        << "[Interface]\r\nPrivateKey = c3RhbmQtaW4=\r\n"
        << (directive.empty() ? "" : "#tarvex-standin " + directive + "\r\n");
    return path;
  }
  DWORD Install(const std::string& path, DWORD* milliseconds = nullptr) {
    return RunProgram("\"" + kWireGuard + "\" /installtunnelservice \"" + path + "\"", "", milliseconds);
  }
  DWORD Uninstall(const std::string& tunnel, DWORD* milliseconds = nullptr) {
    return RunProgram("\"" + kWireGuard + "\" /uninstalltunnelservice " + tunnel, "", milliseconds);
  }

  const std::string folder_ = Folder() + "\\standin scratch";
  const RecordReader record_{Folder() + "\\bin\\wireguard-standin.log"};
  std::vector<std::string> tunnels_;
};

TEST_F(StandinsTest, InstallMakesAnAutoStartServiceThatRunsWithoutItsFileUntilUninstalled) {
  const std::string path = Configuration("tarvex_standin_plain");
  ASSERT_EQ(Install(path), 0u);
  EXPECT_TRUE(DeleteFileA(path.c_str())) << "the configuration is still open";
  EXPECT_TRUE(WithService("tarvex_standin_plain", SERVICE_QUERY_CONFIG, [](SC_HANDLE service) {
    std::vector<BYTE> buffer(8192);
    auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    DWORD needed = 0;
    return QueryServiceConfigA(service, config, 8192, &needed) &&
           config->dwServiceType == SERVICE_WIN32_OWN_PROCESS && config->dwStartType == SERVICE_AUTO_START;
  }));
  EXPECT_EQ(StateOf("tarvex_standin_plain"), static_cast<DWORD>(SERVICE_STOPPED));

  ASSERT_TRUE(Start("tarvex_standin_plain"));
  EXPECT_EQ(WaitWhile("tarvex_standin_plain", SERVICE_START_PENDING, 10000).first,
            static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Uninstall("tarvex_standin_plain"), 0u);
  EXPECT_EQ(StateOf("tarvex_standin_plain"), 0u);

  const std::string times = "\\d{13} \\d{13} \\d+ ";
  const std::string service = "/standin-service runs 0 tarvex_standin_plain";
  EXPECT_THAT(
      record_.NewLines(),
      ElementsAre(MatchesRecord(times + "install /installtunnelservice \".*\\\\standin scratch\\\\"
                                        "tarvex_standin_plain.conf\" -> 0"),
                  MatchesRecord(times + "service-start " + service + " -> running"),
                  MatchesRecord(times + "service-stop " + service + " -> stopped"),
                  MatchesRecord(times + "uninstall /uninstalltunnelservice tarvex_standin_plain -> 0")));
}

TEST_F(StandinsTest, AnUnquotedPathWithBlanksWorksAndRefusalsExitWithOneCreatingNothing) {
  const std::string path = Configuration("tarvex_standin_twice");
  EXPECT_EQ(RunProgram("\"" + kWireGuard + "\" /installtunnelservice " + path), 0u);
  EXPECT_EQ(StateOf("tarvex_standin_twice"), static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_EQ(Install(path), 1u);
  EXPECT_EQ(Uninstall("tarvex_standin_unknown"), 1u);
  EXPECT_EQ(Install(Configuration("tarvex_standin_missing") + ".absent"), 1u);
}

TEST_F(StandinsTest, InstallDirectivesChooseTheExitCodeAndTheDelay) {
  struct Case {
    std::string tunnel, directive;
    DWORD exit_code, state, at_least_ms;
  } const cases[] = {
      {"tarvex_standin_exit7", "install-exit 7", 7, 0, 0},
      {"tarvex_standin_exit0", "install-exit 0", 0, 0, 0},
      {"tarvex_standin_delay", "install-delay 1500", 0, SERVICE_STOPPED, 1500},
      {"tarvex_standin_typo", "install-exit seven", 2, 0, 0},
  };
  for (const Case& c : cases) {
    DWORD milliseconds = 0;
    EXPECT_EQ(Install(Configuration(c.tunnel, c.directive), &milliseconds), c.exit_code) << c.tunnel;
    EXPECT_EQ(StateOf(c.tunnel), c.state) << c.tunnel;
    EXPECT_GE(milliseconds, c.at_least_ms) << c.tunnel;
  }
}

// Each service starts pending and leaves that state as its directive says;
// the uninstall removes it within the plugin's 5 s wait whatever its state.
TEST_F(StandinsTest, ServiceDirectivesShapeTheStartAndUninstallStillRemovesTheService) {
  struct Case {
    std::string tunnel, directive;
    DWORD settles_in, pending_at_least_ms, limit_ms;
  } const cases[] = {
      {"tarvex_standin_slow", "service-start-delay 1500", SERVICE_RUNNING, 1200, 10000},
      {"tarvex_standin_fails", "service-stops-during-start", SERVICE_STOPPED, 700, 10000},
      {"tarvex_standin_stuck", "service-stays-pending", SERVICE_START_PENDING, 2500, 2500},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(Install(Configuration(c.tunnel, c.directive)), 0u) << c.tunnel;
    ASSERT_TRUE(Start(c.tunnel)) << c.tunnel;
    const auto [state, pending_ms] = WaitWhile(c.tunnel, SERVICE_START_PENDING, c.limit_ms);
    EXPECT_EQ(state, c.settles_in) << c.tunnel;
    EXPECT_GE(pending_ms, c.pending_at_least_ms) << c.tunnel;
    DWORD milliseconds = 0;
    EXPECT_EQ(Uninstall(c.tunnel, &milliseconds), 0u) << c.tunnel;
    EXPECT_LT(milliseconds, 5000u) << c.tunnel;
    EXPECT_EQ(StateOf(c.tunnel), 0u) << c.tunnel;
  }
}

TEST(NetshStandinTest, RecordsEachCommandLineByteForByteAndExitsZero) {
  char system_folder[MAX_PATH] = {};
  GetSystemDirectoryA(system_folder, MAX_PATH);
  const std::string netsh = std::string(system_folder) + "\\netsh.exe";
  const RecordReader record(std::string(system_folder) + "\\netsh-standin.log");
  const std::string add =
      "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office In\" dir=in action=allow "
      "protocol=any "
      "program=\"C:\\Program Files\\Tarvex App\\bin\\wireguard.exe\" enable=yes profile=any";
  const std::string remove =
      "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office UDP\"  \t";

  EXPECT_EQ(RunProgram(add, netsh), 0u);
  EXPECT_EQ(RunProgram(remove, netsh), 0u);
  std::vector<std::string> command_lines;
  for (const std::string& line : record.NewLines()) {
    std::smatch times;
    EXPECT_TRUE(std::regex_search(line, times, std::regex("^\\d{13} \\d{13} "))) << line;
    command_lines.push_back(times.suffix());
  }
  EXPECT_THAT(command_lines, ElementsAre(add, remove));
}

}  // namespace
