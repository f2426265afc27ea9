#include "plugin_fixture.h"
#include "vpn_plugin/tunnel_naming.h"

namespace tarvex {

const std::string kStart = "StartTunnel - ", kStop = "StopTunnel - ", kRegistry = "CreateWindowsVPNTunnel - ",
                  kRemove = "RemoveWindowsVPNTunnel - ", kCreated = kStart + "Tunnel created successfully",
                  kStopped = kStop + "Tunnel removed successfully";
Lines Creating(const std::string& id) {
  return {kStart + "Creating tunnel with networkId: " + id, kRegistry + "networkId: " + id};
}
Lines Opening(const std::string& id) {
  return Join({{"HandleMethodCall called: startTunnel", "StartTunnel called"}, Creating(id)});
}
Lines StopOpening(const std::string& id) {
  return {"HandleMethodCall called: stopTunnel", "StopTunnel called",
          kStop + "Removing tunnel with networkId: " + id, kRemove + "networkId: " + id};
}
// A start the creation refuses, from the creation's first line on.
Lines Refused(const std::string& id, const std::string& reason) {
  return {"CreateWireGuardTunnel - Creating WireGuard tunnel for: " + id, "CreateWireGuardTunnel - " + reason,
          kRegistry + "Failed to create WireGuard tunnel", kStart + "Failed to create tunnel"};
}

TEST_F(PluginTest, StartAndStopTunnel_ArgumentsThatCannotBeReadGetTheirErrorReplies) {
  const std::string invalid = "INVALID_ARGUMENTS: Invalid arguments for ";
  // clang-format off
  const struct { const char* method; std::optional<EncodableValue> arguments; std::string reply; Lines lines; }
  cases[] = {
      {"startTunnel", std::nullopt, invalid + "startTunnel", {kStart + "Invalid arguments"}},
      {"startTunnel", EncodableMap{{"config", EncodableValue()}},
       "START_TUNNEL_ERROR: Failed to start tunnel: bad variant access", {kStart + "Exception: bad variant access"}},
      {"startTunnel", EncodableMap{{"networkId", ""}, {"config", kConfig}}, "false",
       Join({Creating(""), Refused("", "Network ID is empty")})},
      {"startTunnel", EncodableMap{{"networkId", "office"}, {"config", ""}}, "false",
       Join({Creating("office"), Refused("office", "Config is empty")})},
      {"stopTunnel", std::nullopt, invalid + "stopTunnel", {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    const std::size_t before = Log().size();
    EXPECT_EQ(Call(c.method, c.arguments), c.reply);
    const std::string method = c.method == std::string("startTunnel") ? "StartTunnel" : "StopTunnel";
    EXPECT_EQ(Log(before),
              Join({{"HandleMethodCall called: " + std::string(c.method), method + " called"}, c.lines}));
  }
  EXPECT_THAT(windows.launches, IsEmpty());
}

// An id that makes no tunnel name, or the name of another registered id's tunnel (names compare without
// case), is refused without touching the machine, logged escaped; the registered tunnel stays up.
TEST_F(PluginTest, StartAndStopTunnel_AnIdThatNamesNoTunnelOfItsOwnIsRefusedWithoutTouchingTheMachine) {
  // clang-format off
  const struct { std::string registered, id; } cases[] = {
      {"", "x\r\n[2026-12-06 03:05:17] WindowsVpnPlugin::forged"}, {"", std::string("office\0other", 12)},
      {"office", "Office"}, {"Office", "office"}, {"OFFICE", "office"}};
  // clang-format on
  for (const auto& c : cases) {
    ASSERT_TRUE(c.registered.empty() || Start(c.registered) == "true");
    const auto touched = [&] {  // programs, files and services
      return windows.launches.size() + windows.calls["CreateFileA"] + windows.calls["DeleteFileA"] +
             windows.calls["OpenServiceW"];
    };
    const std::size_t untouched = touched(), before = Log().size();

    EXPECT_EQ(Start(c.id), "false");
    EXPECT_EQ(Stop(c.id), "false");

    const std::string logged = EscapedForLog(c.id);
    const std::string refused = c.registered.empty()
                                    ? "Network ID refused, not a valid tunnel name: " + logged
                                    : "Network ID refused, same tunnel name as: " + c.registered;
    EXPECT_EQ(Log(before),
              Join({Opening(logged),
                    c.registered.empty() ? Refused(logged, refused)
                                         : Lines{kRegistry + refused, kStart + "Failed to create tunnel"},
                    StopOpening(logged),
                    {kRemove + refused, kStop + "Failed to remove tunnel"}}));
    EXPECT_EQ(touched(), untouched) << logged;
    if (c.registered.empty()) continue;
    EXPECT_EQ(Call("isConnected"), "true");
    EXPECT_EQ(Back(2), "CheckWindowsVPNConnection - WireGuard VPN connected: " + c.registered);
    EXPECT_EQ(Stop(c.registered), "true");
  }
  EXPECT_EQ(windows.files.size(), 2u);  // wireguard.exe and the log
}

TEST(NetworkIdTest, AnIdMustMakeAWireGuardTunnelNameAndIsLoggedEscaped) {
  using Ids = std::initializer_list<std::string>;
  for (const std::string& id : Ids{"office", "A-Z_0.9=+x", std::string(25, 'x'), "1.5"})
    EXPECT_TRUE(IsAcceptedNetworkId(id)) << id;
  for (const std::string& id : Ids{"", std::string(26, 'x'), "office.", "a b", "a\"b", "a/b", "a\\b", "..",
                                   "a:b", "a*b", "caf\xC3\xA9", "a\nb", std::string("a\0b", 3)})
    EXPECT_FALSE(IsAcceptedNetworkId(id)) << id;
  EXPECT_EQ(EscapedForLog(std::string("office-1.=+_a\0b\r\n\\\x7F\xC3\xA9 \"/", 24)),
            "office-1.=+_a\\x00b\\x0D\\x0A\\x5C\\x7F\\xC3\\xA9 \"/");
}

TEST_F(PluginTest, StartTunnel_AMissingOrCaseDifferentIdKeyMeansTheDefaultTunnel) {
  EXPECT_EQ(Call("startTunnel", EncodableMap{{"config", kConfig}}), "true");
  const std::size_t before = Log().size();
  EXPECT_EQ(Call("startTunnel", EncodableMap{{"NetworkId", "office"}, {1, "x"}, {"config", kConfig}}),
            "true");
  EXPECT_EQ(Log(before), Join({Opening("tarvex_default"),
                               {kRegistry + "VPN already exists for networkId: tarvex_default", kCreated}}));
  EXPECT_EQ(windows.files.count(kWg + "\\tarvex_tarvex_default.conf"), 1u);
}

// A registered id's service is asked about without a line, with the connection check's rights: while it
// runs the start answers at once, whatever the configuration; otherwise the id is created again.
TEST_F(PluginTest, StartTunnel_ARegisteredIdIsCreatedAgainUnlessItsServiceRuns) {
  // clang-format off
  const struct { std::string id; Given since_start; bool runs = false; } cases[] = {
      {"runs", Nothing, true},
      {"died", [](SimulatedWindows& w) { w.services.back().state = kServiceStopped; }},
      {"stopping", [](SimulatedWindows& w) { w.services.back().state = 3; }},  // STOP_PENDING
      {"removed", [](SimulatedWindows& w) { w.services.pop_back(); }},
      {"unmanaged", Failing("OpenSCManagerW", kErrorAccessDenied, 1)},
      {"refused", Failing("OpenServiceW", kErrorAccessDenied, 1)},
      {"unqueried", Failing("QueryServiceStatus", kErrorAccessDenied, 1)}};
  // clang-format on
  for (const auto& c : cases) {
    windows.manager_access = windows.service_access = std::nullopt;
    EXPECT_EQ(Start(c.id), "true");
    c.since_start(windows);
    if (c.runs) {
      windows.manager_access = kScManagerEnumerateService;
      windows.service_access = kServiceQueryStatus;
    }
    windows.launches.clear();
    const std::size_t before = Log().size();

    EXPECT_EQ(Start(c.id, c.runs ? "" : kConfig), "true") << c.id;

    const Lines lines = Log(before);
    EXPECT_EQ(Lines(lines.begin(), lines.begin() + 6),
              Join({Opening(c.id),
                    c.runs ? Lines{kRegistry + "VPN already exists for networkId: " + c.id, kCreated}
                           : Lines{kRegistry + "Registered tunnel is not running, creating it again: " + c.id,
                                   "CreateWireGuardTunnel - Creating WireGuard tunnel for: " + c.id}}));
    EXPECT_EQ(lines.back(), kCreated) << c.id;
    const std::string wireguard = "\"" + std::string(kWireGuardExe) + "\" ";
    const Lines install = {wireguard + "/installtunnelservice \"" + kWg + "\\tarvex_" + c.id + ".conf\"",
                           "netsh 18"};
    const Lines uninstall = {wireguard + "/uninstalltunnelservice tarvex_" + c.id, "netsh 9"};
    EXPECT_EQ(Programs(), c.runs ? Lines{} : c.id != "removed" ? Join({uninstall, install}) : install);
  }
}

TEST_F(PluginTest, StartTunnel_AnExceptionOutOfTheCreationIsCaughtByTheRegistry) {
  // Each log line ends with a flush: the fourth is the registry's line, the eleventh the creation's first.
  bool thrown = false;
  windows.before_call = [&](const std::string& operation) {
    if (operation == "FileFlush" && windows.calls["FileFlush"] == 3) FailNextAllocation();
    if (operation == "FileFlush" && windows.calls["FileFlush"] == 10 && !thrown) throw thrown = true;
  };
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(Log(), Join({Opening("office"),
                         {kRegistry + "error: std::bad_alloc", kStart + "Failed to create tunnel"},
                         Opening("office"),
                         {"CreateWireGuardTunnel - Creating WireGuard tunnel for: office",
                          kRegistry + "Unknown exception", kStart + "Failed to create tunnel"}}));
  std::size_t before = Log().size();
  EXPECT_EQ(Start("office"), "true");
  EXPECT_EQ(Log(before)[4],
            "CreateWireGuardTunnel - Creating WireGuard tunnel for: office");  // not registered

  // Inside the check of a registered id, too: the id stays registered.
  Failing("OpenServiceW", kThrows, 1)(windows);
  before = Log().size();
  EXPECT_EQ(Start("office"), "false");
  EXPECT_EQ(Log(before), Join({Opening("office"),
                               {kRegistry + "error: std::bad_alloc", kStart + "Failed to create tunnel"}}));
  EXPECT_EQ(Start("office"), "true");
  EXPECT_EQ(Back(2), kRegistry + "VPN already exists for networkId: office");
}

// The elevation's message boxes let calls arrive during a start: they wait for its reply, in arrival order,
// so a stop that answered true is not undone by the start. A call whose end throws, running or held, lets
// the others through and leaves the plugin taking calls.
TEST_F(PluginTest, CallsArrivingDuringACallAreHandledAfterItsReplyInArrivalOrder) {
  for (const std::string& throw_after : {std::string(), kCreated, kStopped}) {
    windows.is_admin = false;
    windows.programs[kWireGuardExe].exit_code = 1;  // only the elevated install works
    Lines replies;
    const auto call = [&](const std::string& method, std::unique_ptr<EncodableValue> arguments) {
      plugin.HandleMethodCall({method, std::move(arguments)},
                              std::make_unique<RecordedResult>(&replies, method + " "));
    };
    windows.before_call = [&](const std::string& operation) {
      if (operation == "MessageBoxW" && windows.calls["MessageBoxW"] == 0) {
        windows.programs[kWireGuardExe].exit_code = 0;
        call("stopTunnel", std::make_unique<EncodableValue>(EncodableMap{{"networkId", "office"}}));
        call("isConnected", nullptr);
      } else if (operation == "FileFlush" && LogLinesOf(windows).back() == throw_after) {
        throw 7;  // out of the log line, past every guard
      }
    };
    try {
      call("startTunnel",
           std::make_unique<EncodableValue>(EncodableMap{{"networkId", "office"}, {"config", kConfig}}));
      EXPECT_EQ(throw_after, "");
    } catch (int) {
      EXPECT_NE(throw_after, "");
    }

    EXPECT_THAT(replies, ElementsAre(throw_after == kCreated ? "startTunnel unanswered" : "startTunnel true",
                                     throw_after == kStopped ? "stopTunnel unanswered" : "stopTunnel true",
                                     "isConnected false"));
    EXPECT_EQ(windows.FindService(u"WireGuardTunnel$tarvex_office"), nullptr);
    EXPECT_EQ(windows.files.count(kOfficeConf), 0u);
    windows.before_call = nullptr;
    EXPECT_EQ(Call("isConnected"), "false");  // nothing is left waiting
    windows.files.erase(kLogPath);
    windows.calls.clear();
  }
}

// A step that fails does not stop the next: the id is forgotten and the file deleted even when the
// service could not be removed.
TEST_F(PluginTest, StopTunnel_RemovesServiceRulesRegistrationAndFileBestEffort) {
  EXPECT_EQ(Start("office"), "true");
  windows.files.erase(kWireGuardExe);
  windows.launches.clear();
  std::size_t before = Log().size();
  EXPECT_EQ(Stop("office"), "true");
  const Lines uninstall_failed = Join({StopOpening("office"),
                                       {"UninstallWireGuardTunnel - Removing tunnel: tarvex_office",
                                        kNotFound, "UninstallWireGuardTunnel - wireguard.exe not found",
                                        kRemove + "Failed to uninstall WireGuard tunnel"}});
  EXPECT_EQ(Log(before), Join({uninstall_failed,
                               {kRemove + "Config file cleaned up: " + std::string(kOfficeConf),
                                kRemove + "WireGuard tunnel removed successfully for: office", kStopped}}));
  EXPECT_EQ(windows.files.count(kOfficeConf), 0u);
  EXPECT_EQ(Call("isConnected"), "true");  // its service still runs: only the search of all services finds it
  EXPECT_EQ(Back(3),
            "CheckWireGuardServices - Found running WireGuard service: WireGuardTunnel$tarvex_office");

  Failing("GetEnv", kThrows, 1)(windows);
  before = Log().size();
  EXPECT_EQ(Stop("office"), "false");
  EXPECT_EQ(Log(before), Join({uninstall_failed,
                               {kRemove + "Exception: std::bad_alloc", kStop + "Failed to remove tunnel"}}));
  EXPECT_THAT(windows.launches, IsEmpty());
}

}  // namespace tarvex
