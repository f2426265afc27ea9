#include "plugin_fixture.h"

namespace tarvex {

// Reaches the tunnel registry, which only the tunnel methods fill.
class WindowsVpnPluginTestPeer {
 public:
  static void Register(WindowsVpnPlugin& plugin, const std::string& id) { plugin.tunnels_[id] = true; }
};

const std::string kCheck = "CheckWindowsVPNConnection - ",
                  kAsk = "IsVPNConnected - Service WireGuardTunnel$tarvex_";
const std::string kFoundRunning = "CheckWireGuardServices - Found running WireGuard service: ";

// Names routed exactly, logged escaped; a reply that throws is an error.
TEST_F(PluginTest, HandleMethodCall_RoutesExactNamesOnly) {
  EXPECT_EQ(Call("isConnected\r\n[2026-01-01 00:00:00] forged\\"), "not implemented");
  EXPECT_EQ(Back(), "HandleMethodCall called: isConnected\\x0D\\x0A[2026-01-01 00:00:00] forged\\x5C");
  Lines replies;
  const std::size_t before = Log().size();
  plugin.HandleMethodCall({"isConnected", nullptr}, std::make_unique<RecordedResult>(&replies, "", true));
  EXPECT_THAT(replies, ElementsAre("CHECK_CONNECTION_ERROR: Failed to check connection: reply failed"));
  EXPECT_THAT(Log(before),
              ElementsAre("HandleMethodCall called: isConnected", "IsConnected called",
                          "CheckWindowsVPNConnection called", kCheck + "No WireGuard connections found",
                          "IsConnected - Connection status: false", "IsConnected - Exception: reply failed"));
}

// An exception ends only the query it happens in; one outside the queries ends the check with false.
TEST_F(PluginTest, CheckWindowsVPNConnection_AsksRegisteredIdsInByteOrderUntilOneRuns) {
  for (const char* id : {"b", "a", "ab", "c"}) WindowsVpnPluginTestPeer::Register(plugin, id);
  windows.AddService(u"WireGuardTunnel$tarvex_ab", kServiceStopped);
  windows.AddService(u"WireGuardTunnel$tarvex_b", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_c", kServiceRunning);
  windows.fail["OpenServiceW"] = {kThrows, 1};
  EXPECT_TRUE(plugin.CheckWindowsVPNConnection());
  // Each log line ends with a flush; the ninth is that of the query for "b".
  windows.before_call = [this](const std::string& operation) {
    if (operation == "FileFlush" && windows.calls["FileFlush"] == 8) FailNextAllocation();
  };
  EXPECT_FALSE(plugin.CheckWindowsVPNConnection());

  EXPECT_THAT(Log(),
              ElementsAre("CheckWindowsVPNConnection called", "IsVPNConnected - Exception: std::bad_alloc",
                          kAsk + "ab status: NOT RUNNING", kAsk + "b status: RUNNING",
                          kCheck + "WireGuard VPN connected: b", "CheckWindowsVPNConnection called",
                          kAsk + "a not found", kAsk + "ab status: NOT RUNNING", kAsk + "b status: RUNNING",
                          kCheck + "Exception: std::bad_alloc"));
  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 0);
}

// With no more rights than a query needs; the id widens byte by byte; only a running service counts.
TEST_F(PluginTest, IsVPNConnected_AsksTheServiceOfTheId) {
  windows.manager_access = kScManagerEnumerateService;
  windows.service_access = kServiceQueryStatus;
  SimulatedService& tunnel = windows.AddService(u"WireGuardTunnel$tarvex_\xFF80", kServiceRunning);
  tunnel.start_ms = 0xFFFFFFFF;  // start-pending stays so
  const std::string asked = kAsk + "\x80 ";
  // clang-format off
  const struct { Dword state; Given given; bool connected; std::string line; } cases[] = {
      {kServiceRunning, Nothing, true, asked + "status: RUNNING"}, {2, Nothing, false, asked + "status: NOT RUNNING"},
      {3, Nothing, false, asked + "status: NOT RUNNING"}, {5, Nothing, false, asked + "status: NOT RUNNING"},
      {6, Nothing, false, asked + "status: NOT RUNNING"}, {7, Nothing, false, asked + "status: NOT RUNNING"},
      {kServiceRunning, Failing("OpenServiceW", kErrorAccessDenied), false, asked + "not found"},
      {kServiceRunning, Failing("QueryServiceStatus", kErrorAccessDenied), false,
       "IsVPNConnected - Failed to query service status"},
      {kServiceRunning, Failing("OpenSCManagerW", kErrorAccessDenied), false,
       "IsVPNConnected - Failed to open service manager"}};
  // clang-format on
  for (const auto& c : cases) {
    windows.fail.clear();
    tunnel.state = c.state;
    c.given(windows);
    EXPECT_EQ(plugin.IsVPNConnected("\x80"), c.connected) << c.line;
    EXPECT_EQ(Back(), c.line);
  }
  EXPECT_EQ(Log().size(), std::size(cases));
}

// Only running Win32 services with a tunnel prefix count, another client's too. Services installed
// meanwhile make a fetch short: the rest comes from the resume position, eight fetches at most.
TEST_F(PluginTest, CheckWireGuardServices_SearchesAllServicesForARunningTunnel) {
  windows.manager_access = kScManagerEnumerateService;
  const auto add = [](const std::u16string& name, Dword state = kServiceRunning,
                      Dword type = kServiceWin32OwnProcess) {
    return [=](SimulatedWindows& w) { w.AddService(name, state, type).start_ms = 0xFFFFFFFF; };
  };
  // `count` services `name` appear before each fetch that follows the `from`-th to the `until`-th.
  const auto grow = [](int from, int until, int count, std::u16string name = u"Stopped",
                       Dword state = kServiceStopped) {
    return [=](SimulatedWindows& w) {
      w.before_call = [=, &w](const std::string& operation) {
        const int made = operation == "EnumServicesStatusExW" ? w.calls[operation] : 0;
        for (int i = 0; made >= from && made <= until && i < count; ++i) w.AddService(name, state);
      };
    };
  };
  const Given three = Both(Both(add(u"A", 1), add(u"B", 1)), add(u"C", 1));
  // clang-format off
  const struct { Given given; bool found; int calls; Lines lines; } cases[] = {
      {Nothing, false, 1, {}},
      {Both(Both(add(u"tarvex_2", 2), add(u"tarvex_3", 3)), Both(add(u"tarvex_5", 5), add(u"tarvex_7", 7))),
       false, 2, {}},  // start-, stop-, continue-pending, paused
      {Both(Both(add(u"wireguardtunnel$tarvex_case"), add(u"WireGuardTunnel$tarvex_x", kServiceStopped)),
            Both(add(u"MyWireGuardTunnel$x"), add(u"tarvex_driver", kServiceRunning, kServiceKernelDriver))),
       false, 2, {}},
      {add(u"tarvex_caf\xFFE9", kServiceRunning, kServiceWin32ShareProcess), true, 2,
       {kFoundRunning + "tarvex_caf\xE9"}},
      {Both(three, grow(1, 1, 1, u"WireGuardTunnel$tarvex_new", kServiceRunning)), true, 3,
       {kFoundRunning + "WireGuardTunnel$tarvex_new"}},
      {Both(Both(add(u"tarvex_early"), three), grow(1, 99, 1)), true, 2, {kFoundRunning + "tarvex_early"}},
      {Both(three, grow(1, 1, 2)), false, 3, {}},
      {Both(three, grow(1, 99, 1)), false, 9, {}},
      {Both(add(u"tarvex_a"), Failing("EnumServicesStatusExW", kThrows, 2)), false, 2,
       {"CheckWireGuardServices - Exception: std::bad_alloc"}},
      {Both(add(u"tarvex_a"), Failing("EnumServicesStatusExW", kErrorAccessDenied, 2)), false, 2, {}},
      {Failing("OpenSCManagerW", kErrorAccessDenied), false, 0,
       {"CheckWireGuardServices - Failed to open service manager"}}};
  // clang-format on
  for (const auto& c : cases) {
    windows.services.clear();
    windows.calls.clear();
    windows.fail.clear();
    windows.before_call = nullptr;
    c.given(windows);
    const std::size_t before = Log().size();
    EXPECT_EQ(plugin.CheckWireGuardServices(), c.found);
    EXPECT_EQ(windows.calls["EnumServicesStatusExW"], c.calls);
    EXPECT_EQ(Log(before), c.lines);
  }
}

}  // namespace tarvex
