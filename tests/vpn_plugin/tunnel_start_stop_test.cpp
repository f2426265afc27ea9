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
  EXPECT_EQ(LastLogLines(4),
            (std::vector<std::string>{
                "WindowsVpnPlugin::InstallWireGuardTunnel - Already running as admin but installation failed",
                "WindowsVpnPlugin::CreateWireGuardTunnel - Failed to install WireGuard tunnel",
                "WindowsVpnPlugin::CreateWindowsVPNTunnel - Failed to create WireGuard tunnel",
                "WindowsVpnPlugin::StartTunnel - Failed to create tunnel"}));
  EXPECT_THAT(OtherLaunches(),
              ElementsAre("\"C:\\Apps\\Tarvex\\bin\\wireguard.exe\" /installtunnelservice \"" +
                          std::string(kOfficeConf) + "\""));
  EXPECT_THAT(NetshLines(), IsEmpty());

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

constexpr Dword kStopPending = 3;  // neither running nor stopped

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
      {"stopping", [](SimulatedWindows& w) { w.services.back().state = kStopPending; }, "false", false, true},
      {"removed", [](SimulatedWindows& w) { ActAsWireGuard(w, "/uninstalltunnelservice tarvex_removed"); },
       "false", false, false},
      {"unmanaged", FailNextCall("OpenSCManagerW"), nullptr, false, true},
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

  // Inside the check of a registered id, too: the id stays registered.
  windows.throw_on["OpenServiceW"] = windows.calls["OpenServiceW"] + 1;
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(LogLines().end()[-2], "WindowsVpnPlugin::CreateWindowsVPNTunnel - error: std::bad_alloc");
  EXPECT_EQ(Start("office"), "true");
  EXPECT_EQ(LogLines().end()[-2],
            "WindowsVpnPlugin::CreateWindowsVPNTunnel - VPN already exists for networkId: office");
}

struct SameTunnelCase {
  const char* registered;
  bool start;  // else a stop
  const char* id;
};

// Windows compares service and file names without regard to case, so an id
// that differs from a registered one only in letter case would take over its
// service and file. It is refused, and the registered tunnel stays as it is.
TEST_F(TunnelMethodsTest, AnIdNamingTheTunnelOfAnotherRegisteredIdIsRefused) {
  const SameTunnelCase cases[] = {{"office", true, "Office"},
                                  {"Office", true, "office"},
                                  {"office", false, "OFFICE"},
                                  {"OFFICE", false, "office"}};
  for (const SameTunnelCase& c : cases) {
    const std::string registered = c.registered, id = c.id;
    ASSERT_EQ(Start(registered), "true");
    const std::string conf = std::string(kTemp) + "\\wg\\tarvex_" + registered + ".conf";
    const std::string content = windows.files.at(conf);
    const std::size_t launched = windows.launches.size(), before = LogLines().size();
    const int touched =
        windows.calls["CreateFileA"] + windows.calls["DeleteFileA"] + windows.calls["OpenServiceW"];

    EXPECT_EQ(c.start ? Start(id) : Stop(id), "false") << id;

    const std::string method = c.start ? "WindowsVpnPlugin::StartTunnel" : "WindowsVpnPlugin::StopTunnel";
    const std::string registry =
        c.start ? "WindowsVpnPlugin::CreateWindowsVPNTunnel" : "WindowsVpnPlugin::RemoveWindowsVPNTunnel";
    EXPECT_THAT(
        LogLinesFrom(before),
        ElementsAre(std::string("WindowsVpnPlugin::HandleMethodCall called: ") +
                        (c.start ? "startTunnel" : "stopTunnel"),
                    method + " called",
                    method + (c.start ? " - Creating" : " - Removing") + " tunnel with networkId: " + id,
                    registry + " - networkId: " + id,
                    registry + " - Network ID refused, same tunnel name as: " + registered,
                    method + (c.start ? " - Failed to create tunnel" : " - Failed to remove tunnel")));
    EXPECT_EQ(windows.launches.size(), launched) << id;
    EXPECT_EQ(windows.calls["CreateFileA"] + windows.calls["DeleteFileA"] + windows.calls["OpenServiceW"],
              touched);
    EXPECT_EQ(windows.files.at(conf), content);

    EXPECT_EQ(Call("isConnected", nullptr), "true");  // still registered, and up
    EXPECT_EQ(LastLogLines(2)[0],
              "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: " + registered);
    EXPECT_EQ(Stop(registered), "true");
    EXPECT_FALSE(HasService("WireGuardTunnel$tarvex_" + registered));
  }
}

// Each reply as "<method> <reply>", in the order they went out; a result
// destroyed without a reply adds "<method> unanswered".
class ReplyLog : public flutter::MethodResult<EncodableValue> {
 public:
  ReplyLog(std::vector<std::string>* replies, std::string method)
      : replies_(replies), method_(std::move(method)) {}
  ~ReplyLog() override {
    if (!answered_) {
      replies_->push_back(method_ + " unanswered");
    }
  }

 protected:
  void SuccessInternal(const EncodableValue* value) override {
    Add(*value->TryGet<bool>() ? "true" : "false");
  }
  void ErrorInternal(const std::string& code, const std::string&, const EncodableValue*) override {
    Add(code);
  }
  void NotImplementedInternal() override { Add("not implemented"); }

 private:
  void Add(const std::string& reply) {
    answered_ = true;
    replies_->push_back(method_ + " " + reply);
  }
  std::vector<std::string>* replies_;
  std::string method_;
  bool answered_ = false;
};

// The message boxes of the elevation keep window messages flowing, so the
// Flutter side's next calls can arrive while one is open. They wait until the
// running call has replied: a stop that answered true is not undone by the
// start it interrupted. A call whose end throws, running or held, lets the
// others through and leaves the plugin taking calls.
TEST_F(TunnelMethodsTest, CallsArrivingDuringACallAreHandledAfterItsReplyInArrivalOrder) {
  const std::string start_line = "WindowsVpnPlugin::StartTunnel - Tunnel created successfully";
  const std::string stop_line = "WindowsVpnPlugin::StopTunnel - Tunnel removed successfully";
  for (const std::string& throw_after : {std::string(), start_line, stop_line}) {
    windows.is_admin = false;
    windows.programs[kWireGuardExe].exit_code = 1;  // only the elevated install works
    std::vector<std::string> replies;
    windows.before_call = [&](const std::string& operation) {
      if (operation == "MessageBoxW" && windows.calls["MessageBoxW"] == 0) {
        windows.programs[kWireGuardExe].exit_code = 0;
        plugin.HandleMethodCall({"stopTunnel", Arguments(EncodableMap{{"networkId", "office"}})},
                                std::make_unique<ReplyLog>(&replies, "stopTunnel"));
        plugin.HandleMethodCall({"isConnected", nullptr},
                                std::make_unique<ReplyLog>(&replies, "isConnected"));
      } else if (operation == "FileFlush" && !throw_after.empty() && LogLines().back() == throw_after) {
        throw 7;  // out of the log line, past every guard
      }
    };
    const auto start = [&] {
      plugin.HandleMethodCall(
          {"startTunnel", Arguments(EncodableMap{{"networkId", "office"}, {"config", kConfig}})},
          std::make_unique<ReplyLog>(&replies, "startTunnel"));
    };
    if (!throw_after.empty()) {
      EXPECT_THROW(start(), int);
    } else {
      start();
    }

    EXPECT_THAT(replies,
                ElementsAre(throw_after == start_line ? "startTunnel unanswered" : "startTunnel true",
                            throw_after == stop_line ? "stopTunnel unanswered" : "stopTunnel true",
                            "isConnected false"));
    EXPECT_FALSE(HasService(kOfficeService));
    EXPECT_EQ(windows.files.count(kOfficeConf), 0u);
    std::vector<std::string> dispatched;
    for (const std::string& line : LogLines()) {
      if (line.rfind("WindowsVpnPlugin::HandleMethodCall called: ", 0) == 0 ||
          line == "WindowsVpnPlugin::StartTunnel - Tunnel created successfully") {
        dispatched.push_back(line);
      }
    }
    EXPECT_THAT(dispatched, ElementsAre("WindowsVpnPlugin::HandleMethodCall called: startTunnel",
                                        "WindowsVpnPlugin::StartTunnel - Tunnel created successfully",
                                        "WindowsVpnPlugin::HandleMethodCall called: stopTunnel",
                                        "WindowsVpnPlugin::HandleMethodCall called: isConnected"));
    windows.before_call = nullptr;
    EXPECT_EQ(Call("isConnected", nullptr), "false");  // nothing is left waiting
    windows.files.erase(kLogPath);
    windows.calls.clear();
  }
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
  windows.folders.insert("C:\\Temp\\wg");
  windows.files["C:\\Temp\\wg\\tarvex_gone.conf"] = "left";
  EXPECT_EQ(Stop("gone"), "true");
  EXPECT_EQ(windows.files.count("C:\\Temp\\wg\\tarvex_gone.conf"), 0u);

  windows.env["TEMP"] = kTemp;
  EXPECT_EQ(Start("stuck"), "true");
  windows.files.erase(kWireGuardExe);
  const std::size_t launched = windows.launches.size(), before = LogLines().size();
  EXPECT_EQ(Stop("stuck"), "true");
  const std::vector<std::string> uninstall_failed = {
      "WindowsVpnPlugin::HandleMethodCall called: stopTunnel",
      "WindowsVpnPlugin::StopTunnel called",
      "WindowsVpnPlugin::StopTunnel - Removing tunnel with networkId: stuck",
      "WindowsVpnPlugin::RemoveWindowsVPNTunnel - networkId: stuck",
      "WindowsVpnPlugin::UninstallWireGuardTunnel - Removing tunnel: tarvex_stuck",
      "WindowsVpnPlugin::FindWireGuardExecutable - WireGuard executable not found in bundle or system",
      "WindowsVpnPlugin::UninstallWireGuardTunnel - wireguard.exe not found",
      "WindowsVpnPlugin::RemoveWindowsVPNTunnel - Failed to uninstall WireGuard tunnel"};
  EXPECT_EQ(
      LogLinesFrom(before),
      Join({uninstall_failed,
            {"WindowsVpnPlugin::RemoveWindowsVPNTunnel - Config file cleaned up: " + std::string(kTemp) +
                 "\\wg\\tarvex_stuck.conf",
             "WindowsVpnPlugin::RemoveWindowsVPNTunnel - WireGuard tunnel removed successfully for: stuck",
             "WindowsVpnPlugin::StopTunnel - Tunnel removed successfully"}}));
  EXPECT_EQ(windows.launches.size(), launched);
  // Forgotten, though its service still runs: only the search of all services finds it.
  EXPECT_EQ(Call("isConnected", nullptr), "true");
  EXPECT_EQ(LastLogLines(3)[0],
            "WindowsVpnPlugin::CheckWireGuardServices - Found running WireGuard service: "
            "WireGuardTunnel$tarvex_stuck");

  windows.throw_on["GetEnv"] = windows.calls["GetEnv"] + 1;
  const std::size_t thrown = LogLines().size();
  EXPECT_EQ(Stop("stuck"), "false");
  EXPECT_EQ(LogLinesFrom(thrown),
            Join({uninstall_failed,
                  {"WindowsVpnPlugin::RemoveWindowsVPNTunnel - Exception: std::bad_alloc",
                   "WindowsVpnPlugin::StopTunnel - Failed to remove tunnel"}}));
  EXPECT_EQ(windows.launches.size(), launched);
}

}  // namespace tarvex
