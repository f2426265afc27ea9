#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "vpn_plugin/child_process.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/win32/win32_api.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path).substr(0, std::string(path).rfind('\\'));
}

std::string Helper() { return ProgramFolder() + "\\vpn_plugin_child_helper.exe"; }

TEST(Win32ApiTest, TheServiceManagerEnumeratesFromTheResumePositionAndAnswersQueries) {
  Win32Api windows;
  ScHandle manager = windows.OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService);
  ASSERT_NE(manager, nullptr);
  Dword needed = 0, returned = 0, resume = 0;
  std::vector<std::uint8_t> buffer;
  // Stopped services stay stopped while the test looks at them; which ones
  // run depends on what Wine happened to start.
  std::vector<std::string> stopped;
  const auto fetch = [&](std::size_t size) {
    buffer.assign(size, 0);
    const bool complete = windows.EnumServicesStatusExW(
        manager, kScEnumProcessInfo, kServiceWin32, kServiceStateAll, buffer.data(), static_cast<Dword>(size),
        &needed, &returned, &resume, nullptr);
    EXPECT_TRUE(complete || windows.GetLastError() == kErrorMoreData) << windows.GetLastError();
    for (Dword i = 0; i < returned; ++i) {
      EnumServiceStatusProcess entry;
      std::memcpy(&entry, buffer.data() + i * sizeof entry, sizeof entry);
      if (entry.status.current_state == kServiceStopped) {
        stopped.push_back(NarrowName(entry.service_name));
      }
    }
    return complete;
  };
  EXPECT_FALSE(fetch(0));
  const Dword all = needed;
  EXPECT_FALSE(fetch(all / 2));  // the entries that fit, if any, and where to resume
  const Dword first = returned;
  EXPECT_TRUE(fetch(needed));
  const Dword second = returned;
  EXPECT_TRUE(fetch(all));  // from the resume position 0: all at once
  EXPECT_EQ(first + second, returned);
  EXPECT_EQ(windows.OpenServiceW(manager, u"WireGuardTunnel$tarvex_absent", kServiceQueryStatus), nullptr);
  EXPECT_EQ(windows.GetLastError(), kErrorServiceDoesNotExist);
  ASSERT_FALSE(stopped.empty());
  ScHandle service = windows.OpenServiceW(manager, WidenName(stopped[0]).c_str(), kServiceQueryStatus);
  ServiceStatus status{};
  EXPECT_TRUE(windows.QueryServiceStatus(service, &status));
  EXPECT_EQ(status.current_state, kServiceStopped);
  EXPECT_TRUE(windows.CloseServiceHandle(service));
  EXPECT_TRUE(windows.CloseServiceHandle(manager));
}

TEST(Win32ApiTest, ChildProcessesAreWaitedForAtMostTheLimitAndLeftRunning) {
  Win32Api windows;
  const ChildProcessOutcome missing = RunHiddenCommand(windows, "C:\\nowhere\\missing.exe /x", 1000);
  EXPECT_FALSE(missing.started);
  EXPECT_EQ(missing.error, kErrorFileNotFound);
  EXPECT_EQ(RunHiddenCommand(windows, "\"" + Helper() + "\" 0 7", 10000).exit_code, 7u);

  const DWORD start = GetTickCount();
  const ChildProcessOutcome slow = RunHiddenCommand(windows, "\"" + Helper() + "\" 3000 0", 300);
  EXPECT_LT(GetTickCount() - start, 2500u);
  EXPECT_TRUE(slow.started);
  EXPECT_EQ(slow.exit_code, kStillActive);
}

// The user reads the box's caption and text, then presses OK.
std::wstring ReadAndDismissBox() {
  for (int tries = 0; tries < 200; ++tries, std::this_thread::sleep_for(std::chrono::milliseconds(50))) {
    HWND box = FindWindowW(L"#32770", nullptr);
    wchar_t caption[256] = {}, text[1024] = {};
    if (box != nullptr && IsWindowVisible(box) && GetWindowTextW(box, caption, 256) > 0 &&
        GetDlgItemTextW(box, 0xFFFF, text, 1024) > 0) {  // 0xFFFF: the box's text
      SendMessageW(box, WM_COMMAND, IDOK, 0);
      return std::wstring(caption) + L"|" + text;
    }
  }
  return L"no box";
}

// The log goes to a fresh APPDATA and is appended to, line by line.
TEST(Win32ApiTest, ThePortugueseNoticeReadsBackIntactAndTheLogAndErrorTextsComeFromTheSystem) {
  const std::string folder = ProgramFolder() + "\\elevation",
                    log = folder + "\\Tarvex\\windows_vpn_debug.log";
  CreateDirectoryA(folder.c_str(), nullptr);
  DeleteFileA(log.c_str());
  _putenv(("APPDATA=" + folder).c_str());
  std::wstring seen;
  std::thread user([&seen] { seen = ReadAndDismissBox(); });
  WindowsVpnPlugin plugin;

  EXPECT_TRUE(plugin.RunElevatedCommand(Helper(), "0 3"));
  user.join();
  EXPECT_FALSE(plugin.GetErrorMessage(kErrorFileNotFound).empty());
  EXPECT_EQ(plugin.GetErrorMessage(0x2000FFFF), "");
  EXPECT_TRUE(plugin.IsRunningAsAdmin());  // Wine's user is an administrator.

  EXPECT_EQ(
      seen,
      L"Instala\u00e7\u00e3o do Driver WireGuard|Tarvex precisa instalar o driver de rede do WireGuard.\n\n"
      L"Isso requer privil\u00e9gios de administrador apenas uma vez para:\n\u2022 Instalar o driver de rede "
      L"necess\u00e1rio\n\u2022 Configurar o servi\u00e7o VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o "
      L"inicial, o app funcionar\u00e1 normalmente sem pedir admin novamente.");
  const std::string stamp =
      "\\[\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\] WindowsVpnPlugin::RunElevatedCommand - ";
  std::ostringstream written;
  written << std::ifstream(log, std::ios::binary).rdbuf();
  EXPECT_TRUE(std::regex_match(
      written.str(), std::regex(stamp + "Command: .*\r\n" + stamp + "Elevated command completed\r\n")))
      << written.str();
}

}  // namespace tarvex
