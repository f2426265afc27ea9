#include <functional>
#include <optional>

#include "allocation_failure.h"
#include "tunnel_fixture.h"

namespace tarvex {

using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;

std::unique_ptr<EncodableValue> Arguments(EncodableValue value) {
  return std::make_unique<EncodableValue>(std::move(value));
}

class TunnelMethodsTest : public TunnelTest {
 protected:
  std::string Start(const std::string& id, const std::string& config = kConfig) {
    return Call("startTunnel", Arguments(EncodableMap{{"networkId", id}, {"config", config}}));
  }
  std::string Stop(const std::string& id) {
    return Call("stopTunnel", Arguments(EncodableMap{{"networkId", id}}));
  }
};

struct ArgumentCase {
  const char* method;
  std::optional<EncodableValue> arguments;  // none: the call carries none
  std::string reply;
  std::vector<std::string> lines;  // after "HandleMethodCall called: " and the method's "called" line
};

TEST_F(TunnelMethodsTest, ArgumentsThatCannotBeReadGetTheirErrorReplies) {
  const std::string invalid_start = "INVALID_ARGUMENTS: Invalid arguments for startTunnel";
  const std::string bad_start = "START_TUNNEL_ERROR: Failed to start tunnel: bad variant access";
  const std::vector<std::string> invalid = {"WindowsVpnPlugin::StartTunnel - Invalid arguments"};
  const std::vector<std::string> bad = {"WindowsVpnPlugin::StartTunnel - Exception: bad variant access"};
  const ArgumentCase cases[] = {
      {"startTunnel", std::nullopt, invalid_start, invalid},
      {"startTunnel", EncodableValue(), invalid_start, invalid},
      {"startTunnel", EncodableList{EncodableValue("office")}, invalid_start, invalid},
      {"startTunnel", EncodableValue("office"), invalid_start, invalid},
      {"startTunnel",
       EncodableMap{{"networkId", "office"}},
       "INVALID_CONFIG: No config provided",
       {"WindowsVpnPlugin::StartTunnel - No config provided"}},
      {"startTunnel", EncodableMap{{"networkId", 7}}, bad_start, bad},
      {"startTunnel", EncodableMap{{"networkId", 7}, {"config", kConfig}}, bad_start, bad},
      {"startTunnel", EncodableMap{{"config", EncodableValue()}}, bad_start, bad},
      {"stopTunnel", EncodableList{}, "INVALID_ARGUMENTS: Invalid arguments for stopTunnel", {}},
      {"stopTunnel", std::nullopt, "INVALID_ARGUMENTS: Invalid arguments for stopTunnel", {}},
      {"stopTunnel",
       EncodableMap{{"networkId", true}},
       "STOP_TUNNEL_ERROR: Failed to stop tunnel: bad variant access",
       {"WindowsVpnPlugin::StopTunnel - Exception: bad variant access"}},
  };
  for (const ArgumentCase& c : cases) {
    const std::size_t before = LogLines().size();
    EXPECT_EQ(Call(c.method, c.arguments ? Arguments(*c.arguments) : nullptr), c.reply);
    const std::string method = c.method;
    EXPECT_EQ(LogLinesFrom(before),
              Join({{"WindowsVpnPlugin::HandleMethodCall called: " + method,
                     std::string(method == "startTunnel" ? "WindowsVpnPlugin::StartTunnel called"
                                                         : "WindowsVpnPlugin::StopTunnel called")},
                    c.lines}))
        << c.reply;
  }
  EXPECT_THAT(windows.launches, IsEmpty());
}

TEST_F(TunnelMethodsTest, StartTunnel_AMissingOrCaseDifferentIdMeansTheDefaultTunnel) {
  EXPECT_EQ(Call("startTunnel", Arguments(EncodableMap{{"config", kConfig}})), "true");
  EXPECT_EQ(
      Call("startTunnel", Arguments(EncodableMap{{"NetworkId", "office"}, {1, "x"}, {"config", kConfig}})),
      "true");

  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(lines[2], "WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: tarvex_default");
  EXPECT_THAT(lines, testing::Contains("WindowsVpnPlugin::CreateWindowsVPNTunnel - VPN already exists for "
                                       "networkId: tarvex_default"));
  EXPECT_TRUE(HasService("WireGuardTunnel$tarvex_tarvex_default"));
  EXPECT_EQ(windows.files.count(std::string(kTemp) + "\\wg\\tarvex_tarvex_default.conf"), 1u);
}

TEST_F(TunnelMethodsTest, StartTunnel_RegistersOnlyATunnelThatCameUpAndCreatesItOnce) {
  windows.programs[kWireGuardExe].exit_code = 1;
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::StartTunnel - Failed to create tunnel");
  EXPECT_EQ(LogLines()[LogLines().size() - 2],
            "WindowsVpnPlugin::CreateWindowsVPNTunnel - Failed to create WireGuard tunnel");

  windows.programs[kWireGuardExe].exit_code = 0;
  EXPECT_EQ(Start("office"), "true");  // tried again
  const std::size_t launched = windows.launches.size();
  EXPECT_EQ(Start("office", ""), "true");  // registered: the configuration is not looked at
  EXPECT_EQ(windows.launches.size(), launched);

  const std::vector<std::string> lines = LogLines();
  EXPECT_THAT(
      std::vector<std::string>(lines.end() - 6, lines.end()),
      ElementsAre("WindowsVpnPlugin::HandleMethodCall called: startTunnel",
                  "WindowsVpnPlugin::StartTunnel called",
                  "WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: office",
                  "WindowsVpnPlugin::CreateWindowsVPNTunnel - networkId: office",
                  "WindowsVpnPlugin::CreateWindowsVPNTunnel - VPN already exists for networkId: office",
                  "WindowsVpnPlugin::StartTunnel - Tunnel created successfully"));
  EXPECT_EQ(Call("isConnected", nullptr), "true");
  EXPECT_THAT(
      LogLines(),
      testing::Contains("WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: office"));
}

// Fails only the next call of `operation`, as access denied.
std::function<void(SimulatedWindows&)> FailNextCall(const std::string& operation) {
  return [operation](SimulatedWindows& w) {
    const int next = w.calls[operation] + 1;
    w.before_call = [&w, operation, next](const std::string& called) {
      if (called == operation && w.calls[called] + 1 == next) {
        w.fail[called] = kErrorAccessDenied;
      } else if (called == operation) {
        w.fail.erase(called);
      }
    };
  };
}

// A registered id is asked about without a line: while its service runs the
// start answers at once; a service that died, was removed from outside or
// cannot be asked about is forgotten and created again.
TEST_F(TunnelMethodsTest, StartTunnel_ARegisteredIdIsCreatedAgainUnlessItsServiceRuns) {
  const std::string wireguard = "\"" + std::string(kWireGuardExe) + "\" ";
  const struct {
    std::string id;
    std::function<void(SimulatedWindows&)> since_start;
    const char* connected;  // "isConnected" in between, or null for not asked (the failure is the start's)
    bool runs;
    bool service_left;  // the creation's removal finds a service to remove
  } cases[] = {
      {"runs",
       [](SimulatedWindows& w) {  // asked with no more rights than the connection check has
         w.manager_access = kScManagerEnumerateService;
         w.service_access = kServiceQueryStatus;
       },
       "true", true, true},
      {"died", [](SimulatedWindows& w) { w.services.back().state = kServiceStopped; }, "false", false, true},
      {"removed", [](SimulatedWindows& w) { ActAsWireGuard(w, "/uninstalltunnelservice tarvex_removed"); },
       "false", false, false},
      {"refused", FailNextCall("OpenServiceW"), nullptr, false, true},
      {"unqueried", FailNextCall("QueryServiceStatus"), nullptr, false, true},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Start(c.id), "true");
    c.since_start(windows);
    if (c.connected != nullptr) {
      EXPECT_EQ(Call("isConnected", nullptr), c.connected) << c.id;
    }
    windows.launches.clear();
    windows.applications.clear();
    const std::size_t before = LogLines().size();

    EXPECT_EQ(Start(c.id), "true") << c.id;

    const std::vector<std::string> lines = LogLinesFrom(before);
    ASSERT_GE(lines.size(), 6u) << c.id;
    const std::vector<std::string> answer =
        c.runs ? std::vector<std::string>{"WindowsVpnPlugin::CreateWindowsVPNTunnel - VPN already exists for "
                                          "networkId: " + c.id,
                                          "WindowsVpnPlugin::StartTunnel - Tunnel created successfully"}
               : std::vector<std::string>{"WindowsVpnPlugin::CreateWindowsVPNTunnel - Registered tunnel is not "
                                          "running, creating it again: " + c.id,
                                          "WindowsVpnPlugin::CreateWireGuardTunnel - Creating WireGuard tunnel "
                                          "for: " + c.id};
    EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 6),
              Join({{"WindowsVpnPlugin::HandleMethodCall called: startTunnel",
                     "WindowsVpnPlugin::StartTunnel called",
                     "WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: " + c.id,
                     "WindowsVpnPlugin::CreateWindowsVPNTunnel - networkId: " + c.id},
                    answer}))
        << c.id;
    EXPECT_EQ(lines.back(), "WindowsVpnPlugin::StartTunnel - Tunnel created successfully") << c.id;
    std::vector<std::string> launched;
    if (c.service_left && !c.runs) {
      launched.push_back(wireguard + "/uninstalltunnelservice tarvex_" + c.id);
    }
    if (!c.runs) {
      launched.push_back(wireguard + "/installtunnelservice \"" + kTemp + "\\wg\\tarvex_" + c.id + ".conf\"");
    }
    EXPECT_EQ(OtherLaunches(), launched) << c.id;

    windows.manager_access = windows.service_access = std::nullopt;
    windows.before_call = nullptr;
    EXPECT_EQ(Stop(c.id), "true") << c.id;
  }
}

TEST_F(TunnelMethodsTest, StartTunnel_EmptyIdOrConfigIsRefusedByTheCreation) {
  EXPECT_EQ(Start(""), "false");
  EXPECT_EQ(Start("office", ""), "false");
  EXPECT_THAT(LogLines(), testing::Contains("WindowsVpnPlugin::CreateWireGuardTunnel - Network ID is empty"));
  EXPECT_THAT(LogLines(), testing::Contains("WindowsVpnPlugin::CreateWireGuardTunnel - Config is empty"));
  EXPECT_THAT(windows.launches, IsEmpty());
}

// What escapes the creation is caught by the registry: the reply is false,
// nothing is registered, and the next start tries again.
TEST_F(TunnelMethodsTest, StartTunnel_AnExceptionOutOfTheCreationIsCaughtByTheRegistry) {
  // Each log line ends with a flush. The creation's opening line is formed
  // outside its own guard, right after the registry's line (the fourth
  // flush); something other than a standard exception can come out of the
  // writing of that opening line itself (the eleventh).
  bool thrown = false;
  windows.before_call = [&](const std::string& operation) {
    if (operation == "FileFlush" && windows.calls["FileFlush"] == 3) {
      FailNextAllocation();
    } else if (operation == "FileFlush" && windows.calls["FileFlush"] == 10 && !thrown) {
      thrown = true;
      throw 7;
    }
  };

  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(Start("office"), "true");

  const std::vector<std::string> opening = {
      "WindowsVpnPlugin::HandleMethodCall called: startTunnel", "WindowsVpnPlugin::StartTunnel called",
      "WindowsVpnPlugin::StartTunnel - Creating tunnel with networkId: office",
      "WindowsVpnPlugin::CreateWindowsVPNTunnel - networkId: office"};
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(std::vector<std::string>(lines.begin(), lines.begin() + 13),
            Join({opening,
                  {"WindowsVpnPlugin::CreateWindowsVPNTunnel - error: std::bad_alloc",
                   "WindowsVpnPlugin::StartTunnel - Failed to create tunnel"},
                  opening,
                  {"WindowsVpnPlugin::CreateWireGuardTunnel - Creating WireGuard tunnel for: office",
                   "WindowsVpnPlugin::CreateWindowsVPNTunnel - Unknown exception",
                   "WindowsVpnPlugin::StartTunnel - Failed to create tunnel"}}));
}

// The registry does not outlive the process: a tunnel left running is
// replaced by the next process's start.
TEST_F(TunnelMethodsTest, AfterARestartTheSurvivingTunnelIsCreatedAgain) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);

  EXPECT_EQ(Start("office"), "true");

  EXPECT_THAT(OtherLaunches(),
              ElementsAre("\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /uninstalltunnelservice tarvex_office",
                          "\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice \"" +
                              std::string(kOfficeConf) + "\""));
}

TEST_F(TunnelMethodsTest, StopTunnel_RemovesServiceRulesRegistrationAndFile) {
  EXPECT_EQ(Start("office"), "true");
  EXPECT_EQ(Start("home"), "true");
  windows.launches.clear();
  windows.applications.clear();
  const std::size_t before = LogLines().size();

  EXPECT_EQ(Stop("office"), "true");

  EXPECT_FALSE(HasService(kOfficeService));
  EXPECT_TRUE(HasService("WireGuardTunnel$tarvex_home"));
  EXPECT_EQ(windows.files.count(kOfficeConf), 0u);
  EXPECT_EQ(NetshLines().size(), 9u);
  const std::vector<std::string> lines = LogLines();
  EXPECT_EQ(
      std::vector<std::string>(lines.begin() + static_cast<std::ptrdiff_t>(before), lines.end()),
      Join({{"WindowsVpnPlugin::HandleMethodCall called: stopTunnel", "WindowsVpnPlugin::StopTunnel called",
             "WindowsVpnPlugin::StopTunnel - Removing tunnel with networkId: office",
             "WindowsVpnPlugin::RemoveWindowsVPNTunnel - networkId: office",
             "WindowsVpnPlugin::UninstallWireGuardTunnel - Removing tunnel: tarvex_office",
             "WindowsVpnPlugin::FindWireGuardExecutable - Found bundled at: "
             "C:\\Apps\\Tarvex\\bin\\wireguard.exe"},
            RemoveRulesLines("tarvex_office"),
            {"WindowsVpnPlugin::UninstallWireGuardTunnel - Tunnel service removed",
             "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Config file cleaned up: " + std::string(kOfficeConf),
             "WindowsVpnPlugin::RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully for: office",
             "WindowsVpnPlugin::StopTunnel - Tunnel removed successfully"}}));

  // Only "home" is still registered and queried.
  EXPECT_EQ(Call("isConnected", nullptr), "true");
  EXPECT_THAT(LogLines(), testing::Contains(
                              "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: home"));
  EXPECT_THAT(LogLines(),
              testing::Not(testing::Contains(
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_office not found")));
}

TEST_F(TunnelMethodsTest, StopTunnel_IsBestEffortForUnknownIdsAndFailedUninstalls) {
  windows.env.erase("TEMP");
  windows.files["C:\\Temp\\wg\\tarvex_gone.conf"] = "left";
  EXPECT_EQ(Stop("gone"), "true");
  EXPECT_EQ(windows.files.count("C:\\Temp\\wg\\tarvex_gone.conf"), 0u);

  windows.env["TEMP"] = kTemp;
  EXPECT_EQ(Start("stuck"), "true");
  windows.files.erase(kWireGuardExe);
  EXPECT_EQ(Stop("stuck"), "true");
  EXPECT_EQ(LastLogLines(5),
            (std::vector<std::string>{
                "WindowsVpnPlugin::UninstallWireGuardTunnel - wireguard.exe not found",
                "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Failed to uninstall WireGuard tunnel",
                "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Config file cleaned up: " + std::string(kTemp) +
                    "\\wg\\tarvex_stuck.conf",
                "WindowsVpnPlugin::RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully "
                "for: stuck",
                "WindowsVpnPlugin::StopTunnel - Tunnel removed successfully"}));
  // Forgotten, though its service still runs: only the search of all services finds it.
  EXPECT_EQ(Call("isConnected", nullptr), "true");
  EXPECT_EQ(LastLogLines(3)[0],
            "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
            "WireGuardTunnel$tarvex_stuck");

  windows.throw_on["GetEnv"] = windows.calls["GetEnv"] + 1;
  EXPECT_EQ(Stop("stuck"), "false");
  EXPECT_EQ(LogLines()[LogLines().size() - 2],
            "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Exception: std::bad_alloc");
}

}  // namespace tarvex
