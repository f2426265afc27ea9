#include <functional>
#include <optional>

#include "tunnel_fixture.h"

namespace tarvex {

// What an operation may ask of the Service Control Manager: an unelevated
// caller is refused anything more, so the simulated machine refuses every
// other mask, and the operation must still reach its answer.
struct AccessCase {
  const char* operation;
  Dword manager;
  std::optional<Dword> service;  // none: the operation opens no service
  std::function<void(SimulatedWindows&)> prepare;
  std::function<bool(WindowsVpnPlugin&, SimulatedWindows&)> reached_answer;
};

void PrintTo(const AccessCase& c, std::ostream* os) { *os << c.operation; }

class AccessRightsTest : public TunnelTest, public ::testing::WithParamInterface<AccessCase> {};

TEST_P(AccessRightsTest, AsksForExactlyTheRightsItNeeds) {
  GetParam().prepare(windows);
  windows.manager_access = GetParam().manager;
  windows.service_access = GetParam().service.value_or(0);

  EXPECT_TRUE(GetParam().reached_answer(plugin, windows));
}

INSTANTIATE_TEST_SUITE_P(
    Operations, AccessRightsTest,
    ::testing::Values(
        AccessCase{
            "IsVPNConnected", kScManagerEnumerateService, kServiceQueryStatus,
            [](SimulatedWindows& w) { w.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning); },
            [](WindowsVpnPlugin& p, SimulatedWindows&) { return p.IsVPNConnected("office"); }},
        AccessCase{
            "CheckWireGuardServices", kScManagerEnumerateService, std::nullopt,
            [](SimulatedWindows& w) { w.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning); },
            [](WindowsVpnPlugin& p, SimulatedWindows&) { return p.CheckWireGuardServices(); }},
        AccessCase{
            "StartWireGuardService", kScManagerConnect, kServiceQueryStatus | kServiceStart,
            [](SimulatedWindows& w) { w.AddService(u"WireGuardTunnel$tarvex_office", kServiceStopped); },
            [](WindowsVpnPlugin& p, SimulatedWindows&) {
              return p.StartWireGuardService("WireGuardTunnel$tarvex_office");
            }},
        AccessCase{
            "IsWireGuardDriverInstalled", kScManagerEnumerateService, kServiceQueryStatus,
            [](SimulatedWindows& w) { w.AddService(u"WireGuard", kServiceStopped, kServiceKernelDriver); },
            [](WindowsVpnPlugin& p, SimulatedWindows&) { return p.IsWireGuardDriverInstalled(); }},
        // A refused manager would run the removal without the existence test.
        AccessCase{"UninstallOfAnAbsentService", kScManagerConnect, kServiceQueryStatus,
                   [](SimulatedWindows&) {},
                   [](WindowsVpnPlugin& p, SimulatedWindows& w) {
                     return p.UninstallWireGuardTunnel("tarvex_office") && w.launches.empty();
                   }},
        // A refused service would count as absent and be skipped.
        AccessCase{
            "UninstallOfAnInstalledService", kScManagerConnect, kServiceQueryStatus,
            [](SimulatedWindows& w) { w.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning); },
            [](WindowsVpnPlugin& p, SimulatedWindows& w) {
              return p.UninstallWireGuardTunnel("tarvex_office") && w.launches.size() == 10;
            }}));

}  // namespace tarvex
