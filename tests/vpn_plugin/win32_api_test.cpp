#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "vpn_plugin/win32/win32_api.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path).substr(0, std::string(path).rfind('\\'));
}

// A fetch that does not fit says how much it needs and where to resume; the next goes on from there.
TEST(Win32ApiTest, TheServiceManagerEnumeratesFromTheResumePositionAndAnswersQueries) {
  Win32Api windows;
  ScHandle manager = windows.OpenSCManagerW(nullptr, nullptr, kScManagerEnumerateService);
  Dword needed = 0, returned = 0, resume = 0;
  std::vector<std::uint8_t> buffer;
  const auto fetch = [&](Dword size) {
    buffer.assign(size + 1, 0);
    return windows.EnumServicesStatusExW(manager, kScEnumProcessInfo, kServiceWin32, kServiceStateAll,
                                         buffer.data(), size, &needed, &returned, &resume, nullptr);
  };
  EXPECT_FALSE(fetch(0));
  EXPECT_EQ(windows.GetLastError(), kErrorMoreData);
  const Dword all = needed;
  EXPECT_FALSE(fetch(all / 2));  // the entries that fit, if any, and where to resume
  const Dword first = returned;
  EXPECT_TRUE(fetch(needed));
  const Dword second = returned;
  EXPECT_TRUE(fetch(all));  // from the resume position 0: all at once
  EXPECT_EQ(first + second, returned);
  EXPECT_EQ(windows.OpenServiceW(manager, u"WireGuardTunnel$tarvex_absent", kServiceQueryStatus), nullptr);
  EXPECT_EQ(windows.GetLastError(), kErrorServiceDoesNotExist);
  EXPECT_TRUE(windows.CloseServiceHandle(manager));
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

// The log goes to an APPDATA of its own, apart from the end-to-end runs' log.
TEST(Win32ApiTest, ThePortugueseNoticeReadsBackIntactAndErrorTextsComeFromTheSystem) {
  _putenv(("APPDATA=" + ProgramFolder() + "\\elevation").c_str());
  std::wstring seen;
  std::thread user([&seen] { seen = ReadAndDismissBox(); });
  WindowsVpnPlugin plugin;

  EXPECT_TRUE(plugin.RunElevatedCommand("C:\\windows\\system32\\cmd.exe", "/c exit 3"));
  user.join();
  EXPECT_FALSE(plugin.GetErrorMessage(kErrorFileNotFound).empty());
  EXPECT_EQ(plugin.GetErrorMessage(0x2000FFFF), "");
  EXPECT_TRUE(plugin.IsRunningAsAdmin());  // Wine's user is an administrator.

  EXPECT_EQ(seen.substr(0, 31), L"Instala\u00e7\u00e3o do Driver WireGuard|") << seen;  // the rest natively
  EXPECT_NE(seen.find(L"\u2022 Configurar o servi\u00e7o VPN\n\nAp\u00f3s"), std::wstring::npos) << seen;
}

}  // namespace tarvex
