#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "vpn_plugin/windows_vpn_plugin.h"
#include "win32_test_support.h"

namespace tarvex {
namespace {

struct SeenBox {
  std::wstring caption;
  std::wstring text;
};

BOOL CALLBACK CollectStaticText(HWND child, LPARAM seen) {
  wchar_t class_name[32] = {};
  GetClassNameW(child, class_name, 32);
  if (std::wstring(class_name) == L"Static") {
    wchar_t text[1024] = {};
    GetWindowTextW(child, text, 1024);
    reinterpret_cast<SeenBox*>(seen)->text += text;
  }
  return TRUE;
}

// Plays the user: reads every dialog box that comes up and presses OK.
class BoxDismisser {
 public:
  BoxDismisser()
      : thread_([this] {
          while (!done_) {
            HWND box = FindWindowW(L"#32770", nullptr);
            if (box != nullptr && IsWindowVisible(box)) {
              SeenBox seen;
              wchar_t caption[256] = {};
              GetWindowTextW(box, caption, 256);
              seen.caption = caption;
              EnumChildWindows(box, CollectStaticText, reinterpret_cast<LPARAM>(&seen));
              boxes_.push_back(seen);
              SendMessageW(box, WM_COMMAND, IDOK, 0);
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
          }
        }) {}
  std::vector<SeenBox> Stop() {
    done_ = true;
    thread_.join();
    return boxes_;
  }

 private:
  std::atomic<bool> done_{false};
  std::vector<SeenBox> boxes_;
  std::thread thread_;
};

TEST(MessageBoxTest, TheDriverNoticeReadsBackIntactBeforeTheElevatedProgramRuns) {
  const std::string log = UseScratchAppData("message_box_test");
  WindowsVpnPlugin plugin;
  BoxDismisser user;

  EXPECT_TRUE(plugin.RunElevatedCommand(HelperProgram(), "0 3"));

  const std::vector<SeenBox> boxes = user.Stop();
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].caption, L"Instala\u00e7\u00e3o do Driver WireGuard");
  EXPECT_EQ(boxes[0].text,
            L"Tarvex precisa instalar o driver de rede do WireGuard.\n\nIsso requer privil\u00e9gios de "
            L"administrador "
            L"apenas uma vez para:\n\u2022 Instalar o driver de rede necess\u00e1rio\n\u2022 Configurar o "
            L"servi\u00e7o "
            L"VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o inicial, o app funcionar\u00e1 normalmente sem "
            L"pedir admin "
            L"novamente.");
  EXPECT_NE(ReadBinary(log).find("] WindowsVpnPlugin::RunElevatedCommand - Elevated command completed\r\n"),
            std::string::npos);
}

}  // namespace
}  // namespace tarvex
