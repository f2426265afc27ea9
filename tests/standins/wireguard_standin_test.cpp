#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "tests/standins/standin_test_support.h"

namespace standin_test {
namespace {

using ::testing::ElementsAre;

// gtest's own regular expressions are the simple kind on Windows.
MATCHER_P(MatchesRecord, pattern, "matches " + std::string(pattern)) {
  return std::regex_match(arg, std::regex(pattern));
}

const std::string kWireGuard = ProgramFolder() + "\\bin\\wireguard.exe";

std::wstring ServiceName(const std::string& tunnel) {
  return L"WireGuardTunnel$" + std::wstring(tunnel.begin(), tunnel.end());
}

// Polls until the state satisfies `done`; answers the last state seen and
// how long it took.
template <typename Done>
std::pair<DWORD, DWORD> WaitFor(const std::string& tunnel, Done done, DWORD limit_ms) {
  const DWORD start = GetTickCount();
  DWORD now = StateOf(tunnel);
  while (!done(now) && GetTickCount() - start < limit_ms) {
    Sleep(50);
    now = StateOf(tunnel);
  }
  return {now, GetTickCount() - start};
}

std::pair<DWORD, DWORD> WaitWhile(const std::string& tunnel, DWORD state, DWORD limit_ms = 10000) {
  return WaitFor(
      tunnel, [state](DWORD now) { return now != state; }, limit_ms);
}

bool Start(const std::string& tunnel) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, ServiceName(tunnel).c_str(), SERVICE_START);
  const bool started = service != nullptr && StartServiceW(service, 0, nullptr);
  if (service != nullptr) {
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
  return started;
}

// Removes a service with the Service Control Manager alone, so a stand-in
// that fails to uninstall still leaves nothing behind.
void ForceRemove(const std::string& tunnel) {
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, ServiceName(tunnel).c_str(), SERVICE_ALL_ACCESS);
  if (service != nullptr) {
    SERVICE_STATUS_PROCESS status{};
    DWORD needed = 0;
    SERVICE_STATUS ignored{};
    ControlService(service, SERVICE_CONTROL_STOP, &ignored);
    const auto stopped = [](DWORD now) { return now == SERVICE_STOPPED || now == 0; };
    if (!stopped(WaitFor(tunnel, stopped, 3000).first) &&
        QueryServiceStatusEx(service, SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status), sizeof status,
                             &needed)) {
      HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, status.dwProcessId);
      TerminateProcess(process, 1);
      CloseHandle(process);
    }
    DeleteService(service);
    CloseServiceHandle(service);
  }
  CloseServiceHandle(manager);
}

class WireGuardStandinTest : public ::testing::Test {
 protected:
  void SetUp() override { CreateDirectoryA(folder_.c_str(), nullptr); }

  // Every test leaves no tunnel service behind, passed or failed.
  void TearDown() override {
    for (const std::string& tunnel : tunnels_) {
      ForceRemove(tunnel);
      EXPECT_EQ(WaitFor(
                    tunnel, [](DWORD now) { return now == 0; }, 2000)
                    .first,
                0u)
          << tunnel << " is still installed";
    }
  }

  // Writes <folder>\<tunnel>.conf holding a configuration and the given lines.
  std::string WriteConfiguration(const std::string& tunnel, const std::string& extra_lines = "") {
    tunnels_.push_back(tunnel);
    const std::string path = folder_ + "\\" + tunnel + ".conf";
    std::ofstream(path, std::ios::binary)
        << "[Interface]\r\nPrivateKey = c3RhbmQtaW4=\r\nAddress = 10.66.66.2/32\r\n"
        << extra_lines;
    return path;
  }

  RunOutcome Install(const std::string& path) {
    return RunProgram("\"" + kWireGuard + "\" /installtunnelservice \"" + path + "\"");
  }
  RunOutcome Uninstall(const std::string& tunnel) {
    return RunProgram("\"" + kWireGuard + "\" /uninstalltunnelservice " + tunnel);
  }

  const std::string folder_ = ProgramFolder() + "\\standin scratch";
  const RecordReader record_{ProgramFolder() + "\\bin\\wireguard-standin.log"};
  std::vector<std::string> tunnels_;
};

TEST_F(WireGuardStandinTest, InstallMakesAnAutoStartServiceThatRunsWithoutItsFileUntilUninstalled) {
  const std::uint64_t before = NowUnixMilliseconds();
  const std::string path = WriteConfiguration("tarvex_standin_plain");

  EXPECT_EQ(Install(path).exit_code, 0u);
  EXPECT_TRUE(DeleteFileA(path.c_str())) << "the install keeps the configuration open";
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_CONNECT);
  SC_HANDLE service = OpenServiceW(manager, L"WireGuardTunnel$tarvex_standin_plain", SERVICE_QUERY_CONFIG);
  std::vector<BYTE> buffer(8192);
  DWORD needed = 0;
  ASSERT_TRUE(QueryServiceConfigW(service, reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data()),
                                  static_cast<DWORD>(buffer.size()), &needed));
  const auto* config = reinterpret_cast<QUERY_SERVICE_CONFIGW*>(buffer.data());
  EXPECT_EQ(config->dwServiceType, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS));
  EXPECT_EQ(config->dwStartType, static_cast<DWORD>(SERVICE_AUTO_START));
  CloseServiceHandle(service);
  CloseServiceHandle(manager);
  EXPECT_EQ(StateOf("tarvex_standin_plain"), static_cast<DWORD>(SERVICE_STOPPED));

  ASSERT_TRUE(Start("tarvex_standin_plain"));
  EXPECT_EQ(WaitWhile("tarvex_standin_plain", SERVICE_START_PENDING).first,
            static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_EQ(Uninstall("tarvex_standin_plain").exit_code, 0u);
  EXPECT_EQ(StateOf("tarvex_standin_plain"), 0u);

  const std::string stamps = "\\d+ \\d+ \\d+ ";
  const std::string service_mode = "/standin-service runs 0 tarvex_standin_plain";
  const std::vector<std::string> lines = record_.NewLines();
  EXPECT_THAT(
      lines,
      ElementsAre(MatchesRecord(stamps + "install /installtunnelservice \".*\\\\standin scratch\\\\"
                                         "tarvex_standin_plain.conf\" -> 0"),
                  MatchesRecord(stamps + "service-start " + service_mode + " -> running"),
                  MatchesRecord(stamps + "service-stop " + service_mode + " -> stopped"),
                  MatchesRecord(stamps + "uninstall /uninstalltunnelservice tarvex_standin_plain -> 0")));
  for (const std::string& line : lines) {
    std::smatch times;
    ASSERT_TRUE(std::regex_search(line, times, std::regex("^(\\d+) (\\d+)")));
    EXPECT_LE(before - 1000, std::stoull(times[1])) << line;
    EXPECT_LE(std::stoull(times[1]), std::stoull(times[2])) << line;
    EXPECT_LE(std::stoull(times[2]), NowUnixMilliseconds()) << line;
  }
}

TEST_F(WireGuardStandinTest, AnUnquotedPathWithBlanksNamesTheServiceByItsBaseName) {
  const std::string path = WriteConfiguration("tarvex_standin_bare");
  EXPECT_EQ(RunProgram("\"" + kWireGuard + "\" /installtunnelservice " + path).exit_code, 0u);
  EXPECT_EQ(StateOf("tarvex_standin_bare"), static_cast<DWORD>(SERVICE_STOPPED));
}

TEST_F(WireGuardStandinTest, RefusalsExitWithOneAndCreateNothing) {
  const std::string path = WriteConfiguration("tarvex_standin_twice");
  ASSERT_EQ(Install(path).exit_code, 0u);
  EXPECT_EQ(Install(path).exit_code, 1u);
  EXPECT_EQ(Uninstall("tarvex_standin_unknown").exit_code, 1u);
  tunnels_.push_back("tarvex_standin_missing");
  EXPECT_EQ(Install(folder_ + "\\tarvex_standin_missing.conf").exit_code, 1u);
  EXPECT_EQ(StateOf("tarvex_standin_missing"), 0u);
}

TEST_F(WireGuardStandinTest, InstallDirectivesChooseTheExitCodeAndTheDelay) {
  struct Case {
    std::string tunnel;
    std::string directives;
    DWORD exit_code;
    DWORD state_after;
    DWORD at_least_ms;
  };
  const Case cases[] = {
      {"tarvex_standin_exit7", "#tarvex-standin install-exit 7\r\n", 7, 0, 0},
      {"tarvex_standin_exit0", "#tarvex-standin install-exit 0\n", 0, 0, 0},
      {"tarvex_standin_delay", "#tarvex-standin install-delay 1500\r\n", 0, SERVICE_STOPPED, 1500},
      {"tarvex_standin_typo", "#tarvex-standin install-exit seven\r\n", 2, 0, 0},
  };
  for (const Case& c : cases) {
    const RunOutcome outcome = Install(WriteConfiguration(c.tunnel, c.directives));
    EXPECT_EQ(outcome.exit_code, c.exit_code) << c.tunnel;
    EXPECT_EQ(StateOf(c.tunnel), c.state_after) << c.tunnel;
    EXPECT_GE(outcome.milliseconds, c.at_least_ms) << c.tunnel;
  }
  EXPECT_THAT(record_.NewLines().front(), MatchesRecord(".* install /installtunnelservice \".*\" -> 7"));
}

TEST_F(WireGuardStandinTest, AStartDelayKeepsTheServicePendingThatLongBeforeItRuns) {
  ASSERT_EQ(Install(WriteConfiguration("tarvex_standin_slow", "#tarvex-standin service-start-delay 1500\r\n"))
                .exit_code,
            0u);
  ASSERT_TRUE(Start("tarvex_standin_slow"));
  EXPECT_EQ(StateOf("tarvex_standin_slow"), static_cast<DWORD>(SERVICE_START_PENDING));
  const auto [state, waited] = WaitWhile("tarvex_standin_slow", SERVICE_START_PENDING);
  EXPECT_EQ(state, static_cast<DWORD>(SERVICE_RUNNING));
  EXPECT_GE(waited, 1200u);
}

TEST_F(WireGuardStandinTest, AServiceThatStopsDuringStartIsPendingThenStoppedAndNeverRuns) {
  ASSERT_EQ(
      Install(WriteConfiguration("tarvex_standin_fails", "#tarvex-standin service-stops-during-start\r\n"))
          .exit_code,
      0u);
  ASSERT_TRUE(Start("tarvex_standin_fails"));
  EXPECT_EQ(StateOf("tarvex_standin_fails"), static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_EQ(WaitWhile("tarvex_standin_fails", SERVICE_START_PENDING).first,
            static_cast<DWORD>(SERVICE_STOPPED));
  EXPECT_THAT(
      record_.NewLines().back(),
      MatchesRecord(
          ".* service-start /standin-service stops-during-start 1000 tarvex_standin_fails -> stopped"));
}

TEST_F(WireGuardStandinTest, AServiceThatStaysPendingIsStillRemovedByUninstallWithinFiveSeconds) {
  ASSERT_EQ(Install(WriteConfiguration("tarvex_standin_stuck", "#tarvex-standin service-stays-pending\r\n"))
                .exit_code,
            0u);
  ASSERT_TRUE(Start("tarvex_standin_stuck"));
  const auto [state, waited] = WaitWhile("tarvex_standin_stuck", SERVICE_START_PENDING, 2000);
  EXPECT_EQ(state, static_cast<DWORD>(SERVICE_START_PENDING));
  EXPECT_GE(waited, 2000u);
  const RunOutcome uninstall = Uninstall("tarvex_standin_stuck");
  EXPECT_EQ(uninstall.exit_code, 0u);
  EXPECT_LT(uninstall.milliseconds, 5000u);
  EXPECT_EQ(StateOf("tarvex_standin_stuck"), 0u);
}

}  // namespace
}  // namespace standin_test
