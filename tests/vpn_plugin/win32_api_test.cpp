#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "vpn_plugin/child_process.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/win32/win32_api.h"
#include "vpn_plugin/windows_vpn_plugin.h"
#include "win32_test_support.h"

namespace tarvex {
namespace {

using ::testing::ElementsAreArray;
using ::testing::HasSubstr;

std::vector<std::string> Names(const std::vector<std::uint8_t>& buffer, Dword count) {
  std::vector<std::string> names;
  for (Dword i = 0; i < count; ++i) {
    EnumServiceStatusProcess entry;
    std::memcpy(&entry, buffer.data() + i * sizeof entry, sizeof entry);
    names.push_back(NarrowName(entry.service_name));
  }
  return names;
}

TEST(Win32ApiTest, EnumeratesTheServicesInOneFetchOrInBatchesFromTheResumePosition) {
  Win32Api windows;
  ScHandle manager = windows.OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService);
  ASSERT_NE(manager, nullptr);
  Dword needed = 0;
  Dword returned = 0;
  Dword resume = 0;
  EXPECT_FALSE(windows.EnumServicesStatusExW(manager, kScEnumProcessInfo, kServiceWin32, kServiceStateAll,
                                             nullptr, 0, &needed, &returned, &resume, nullptr));
  EXPECT_EQ(windows.GetLastError(), kErrorMoreData);
  ASSERT_GT(needed, 0u);
  std::vector<std::uint8_t> everything(needed);
  ASSERT_TRUE(windows.EnumServicesStatusExW(manager, kScEnumProcessInfo, kServiceWin32, kServiceStateAll,
                                            everything.data(), needed, &needed, &returned, &resume, nullptr));
  const std::vector<std::string> all = Names(everything, returned);
  ASSERT_GE(all.size(), 2u);

  std::vector<std::string> batched;
  std::vector<std::uint8_t> batch(everything.size() / 2);
  resume = 0;
  bool complete = false;
  int fetches = 0;
  for (; fetches < 8 && !complete; ++fetches) {
    complete = windows.EnumServicesStatusExW(manager, kScEnumProcessInfo, kServiceWin32, kServiceStateAll,
                                             batch.data(), static_cast<Dword>(batch.size()), &needed,
                                             &returned, &resume, nullptr);
    EXPECT_TRUE(complete || windows.GetLastError() == kErrorMoreData) << windows.GetLastError();
    const std::vector<std::string> names = Names(batch, returned);
    batched.insert(batched.end(), names.begin(), names.end());
    batch.assign(needed, 0);
  }
  EXPECT_TRUE(complete);
  EXPECT_GE(fetches, 2);
  EXPECT_THAT(batched, ElementsAreArray(all));

  EXPECT_EQ(windows.OpenServiceW(manager, u"WireGuardTunnel$tarvex_absent", kServiceQueryStatus), nullptr);
  EXPECT_EQ(windows.GetLastError(), kErrorServiceDoesNotExist);
  EXPECT_TRUE(windows.CloseServiceHandle(manager));
}

TEST(Win32ApiTest, TheConnectionCheckAndTheServiceStartSpeakToTheRealServiceManager) {
  const std::string log = UseScratchAppData("win32_api_test_scm");
  SC_HANDLE manager = OpenSCManagerW(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  ASSERT_NE(manager, nullptr);
  SC_HANDLE created =
      CreateServiceW(manager, L"WireGuardTunnel$tarvex_winetest", L"Tarvex test tunnel", SERVICE_ALL_ACCESS,
                     SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                     L"C:\\nowhere\\missing.exe", nullptr, nullptr, nullptr, nullptr, nullptr);
  if (created == nullptr && GetLastError() == ERROR_SERVICE_EXISTS) {  // left by an interrupted run
    created = OpenServiceW(manager, L"WireGuardTunnel$tarvex_winetest", SERVICE_ALL_ACCESS);
  }
  ASSERT_NE(created, nullptr) << GetLastError();

  WindowsVpnPlugin plugin;
  EXPECT_FALSE(plugin.IsVPNConnected("winetest"));
  EXPECT_FALSE(plugin.IsVPNConnected("absent"));
  EXPECT_FALSE(plugin.CheckWireGuardServices());
  EXPECT_FALSE(plugin.StartWireGuardService("WireGuardTunnel$tarvex_winetest"));

  DeleteService(created);
  CloseServiceHandle(created);
  CloseServiceHandle(manager);
  const std::string contents = ReadBinary(log);
  EXPECT_THAT(contents,
              HasSubstr("] WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_winetest "
                        "status: NOT RUNNING\r\n"));
  EXPECT_THAT(contents,
              HasSubstr("] WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_absent "
                        "not found\r\n"));
  EXPECT_THAT(contents, HasSubstr("] WindowsVpnPlugin::StartWireGuardService - Failed to start service: "));
}

TEST(Win32ApiTest, ChildProcessesAreWaitedForAtMostTheLimitAndLeftRunning) {
  Win32Api windows;

  const ChildProcessOutcome missing = RunHiddenCommand(windows, "C:\\nowhere\\missing.exe /x", 1000);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.error, kErrorFileNotFound);

  const ChildProcessOutcome quick = RunHiddenCommand(windows, "\"" + HelperProgram() + "\" 0 7", 10000);
  EXPECT_TRUE(quick.started);
  EXPECT_EQ(quick.exit_code, 7u);

  const DWORD start = GetTickCount();
  const ChildProcessOutcome slow = RunHiddenCommand(windows, "\"" + HelperProgram() + "\" 3000 0", 300);
  EXPECT_LT(GetTickCount() - start, 2500u);
  EXPECT_TRUE(slow.started);
  EXPECT_EQ(slow.exit_code, kStillActive);
}

TEST(Win32ApiTest, ErrorTextsLogLinesAndAdministratorsComeFromTheSystem) {
  const std::string log = UseScratchAppData("win32_api_test_log");
  WindowsVpnPlugin plugin;

  EXPECT_FALSE(plugin.GetErrorMessage(kErrorFileNotFound).empty());
  EXPECT_EQ(plugin.GetErrorMessage(0x2000FFFF), "");
  EXPECT_TRUE(plugin.IsRunningAsAdmin());  // Wine's user is an administrator.

  plugin.Log("one");
  plugin.Log("two\nlines");
  EXPECT_TRUE(std::regex_match(
      ReadBinary(log), std::regex("\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] one\r\n"
                                  "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] two\r\nlines\r\n")))
      << ReadBinary(log);
}

}  // namespace
}  // namespace tarvex
