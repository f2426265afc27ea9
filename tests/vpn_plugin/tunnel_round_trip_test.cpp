// "startTunnel", "isConnected" and "stopTunnel" end to end under Wine: the
// plugin registered as the host registers it, reached through a real method
// channel over the engine-library stand-in's scripted Flutter side, running
// the wireguard.exe and netsh stand-ins against the real Service Control
// Manager.

#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <system_error>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/flutter_view_controller.h"
#include "embedding/method_call.h"
#include "embedding/plugin_registrar_windows.h"
#include "embedding/project_bundle.h"
#include "embedding/standard_method_codec.h"
#include "tests/support/hex_bytes.h"
#include "vpn_plugin/child_process.h"
#include "vpn_plugin/owned.h"
#include "vpn_plugin/text_conversion.h"
#include "vpn_plugin/win32/win32_api.h"
#include "vpn_plugin/windows_vpn_plugin.h"

namespace tarvex {
namespace {

using flutter::EncodableMap;
using flutter::EncodableValue;
using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

const std::string kConfig =
    "[Interface]\nPrivateKey = cGxhY2Vob2xkZXItcHJpdmF0ZS1rZXktMDAwMDAwMDA=\nAddress = 10.66.66.2/32, "
    "fd42::2/128\n\n"
    "[Peer]\nPublicKey = cGxhY2Vob2xkZXItcHVibGljLWtleS0wMDAwMDAwMDA=\nEndpoint = 203.0.113.5:51820\n"
    "AllowedIPs = 0.0.0.0/0\n";
const std::string kTrue = "reply tarvex/windows_vpn 0001";
const std::string kFalse = "reply tarvex/windows_vpn 0002";

std::string ProgramFolder() {
  char path[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path).substr(0, std::string(path).rfind('\\'));
}

std::string Read(const std::string& path) {
  std::ostringstream contents;
  contents << std::ifstream(path, std::ios::binary).rdbuf();
  return contents.str();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string SystemFolder() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return folder;
}

// The state of the tunnel's service, or 0 when the Service Control Manager does not know it.
Dword StateOf(const std::string& tunnel) {
  Win32Api windows;
  OwnedServiceHandle manager(windows, windows.OpenSCManagerW(nullptr, nullptr, kScManagerConnect));
  OwnedServiceHandle service(
      windows, windows.OpenServiceW(manager.get(), WidenName("WireGuardTunnel$" + tunnel).c_str(),
                                    kServiceQueryStatus));
  ServiceStatus status{};
  return service && windows.QueryServiceStatus(service.get(), &status) ? status.current_state : 0;
}

// A stand-in's record: the lines it gains after the reader is made.
class RecordReader {
 public:
  explicit RecordReader(std::string path) : path_(std::move(path)), known_(Lines().size()) {}
  std::vector<std::string> NewLines() const {
    std::vector<std::string> lines = Lines();
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(std::min(known_, lines.size())));
    return lines;
  }

 private:
  std::vector<std::string> Lines() const {
    std::vector<std::string> lines;
    std::istringstream text(Read(path_));
    for (std::string line; std::getline(text, line, '\n');) {
      lines.push_back(!line.empty() && line.back() == '\r' ? line.substr(0, line.size() - 1) : line);
    }
    return lines;
  }
  std::string path_;
  std::size_t known_;
};

// "send" line of a method call, encoded as the Flutter side encodes it.
std::string Send(const std::string& method, std::unique_ptr<EncodableValue> arguments) {
  const auto bytes = flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<EncodableValue>(method, std::move(arguments)));
  return "send tarvex/windows_vpn " + flutter::Hex(*bytes);
}
std::string StartLine(const std::string& id, const std::string& config = kConfig) {
  return Send("startTunnel",
              std::make_unique<EncodableValue>(EncodableMap{{"networkId", id}, {"config", config}}));
}
std::string StopLine(const std::string& id) {
  return Send("stopTunnel", std::make_unique<EncodableValue>(EncodableMap{{"networkId", id}}));
}
const std::string kIsConnected = Send("isConnected", nullptr);

// The command lines netsh was given: the record without its two times.
std::vector<std::string> CommandLines(const std::vector<std::string>& record) {
  std::vector<std::string> lines;
  for (const std::string& line : record) {
    lines.push_back(line.substr(line.find(' ', line.find(' ') + 1) + 1));
  }
  return lines;
}

class TunnelRoundTripTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    std::error_code ignored;
    std::filesystem::remove_all(scratch_, ignored);
    std::filesystem::create_directories(scratch_ + "\\temp");
    std::filesystem::create_directories(scratch_ + "\\appdata");
    std::filesystem::create_directories(scratch_ + "\\cwd");
    _putenv(("TEMP=" + scratch_ + "\\temp").c_str());
    _putenv(("APPDATA=" + scratch_ + "\\appdata").c_str());
    RemoveTunnelServices();
  }

  // No test leaves a tunnel service behind, whatever happened to it.
  void TearDown() override { RemoveTunnelServices(); }

  static void RemoveTunnelServices() {
    for (const char* tunnel : {"tarvex_office", "tarvex_home", "tarvex_broken", "tarvex_default"}) {
      if (StateOf(tunnel) != 0) {
        Win32Api windows;
        RunHiddenCommand(windows,
                         "\"" + ProgramFolder() + "\\bin\\wireguard.exe\" /uninstalltunnelservice " + tunnel,
                         15000);
      }
    }
  }

  // Runs the script in a fresh host window with the plugin registered on the
  // engine's registrar; answers the transcript's lines.
  static std::vector<std::string> RunScript(const std::vector<std::string>& lines) {
    std::ofstream script(scratch_ + "\\script.txt", std::ios::binary | std::ios::trunc);
    for (const std::string& line : lines) {
      script << line << "\r\n";
    }
    script << "close\r\n";
    script.close();
    DeleteFileA((scratch_ + "\\transcript.txt").c_str());
    SetEnvironmentVariableA("TARVEX_ENGINE_SCRIPT", (scratch_ + "\\script.txt").c_str());
    SetEnvironmentVariableA("TARVEX_ENGINE_TRANSCRIPT", (scratch_ + "\\transcript.txt").c_str());
    std::filesystem::create_directories(scratch_ + "\\bundle\\flutter_assets");

    HWND host = CreateWindowExW(0, L"STATIC", L"host", WS_OVERLAPPEDWINDOW, 10, 10, 640, 480, nullptr,
                                nullptr, nullptr, nullptr);
    auto controller = std::make_unique<flutter::FlutterViewController>(
        640, 480, flutter::ProjectBundle(std::filesystem::path(scratch_ + "\\bundle").wstring()));
    SetParent(controller->view()->GetNativeWindow(), host);
    auto registrar = std::make_unique<flutter::PluginRegistrarWindows>(
        controller->engine()->GetPluginRegistrar("tarvex/windows_vpn"));
    WindowsVpnPlugin::RegisterWithRegistrar(registrar.get());

    SetTimer(nullptr, 0, 100, nullptr);  // wakes the loop, so the deadline is seen
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(4);
    MSG message;
    while (IsWindow(host) && std::chrono::steady_clock::now() < deadline &&
           GetMessageW(&message, nullptr, 0, 0) > 0) {
      DispatchMessageW(&message);
    }
    EXPECT_FALSE(IsWindow(host)) << "the script did not end in time";
    // The plugin and its channel go before the engine that delivers their calls.
    registrar.reset();
    controller.reset();

    std::vector<std::string> transcript;
    std::istringstream text(Read(scratch_ + "\\transcript.txt"));
    for (std::string line; std::getline(text, line);) {
      // What the engine started with and the frames it drew are not this
      // suite's business; replies, misuse and the end are.
      if (line.rfind("engine ", 0) != 0 && line.rfind("frame ", 0) != 0) {
        transcript.push_back(line);
      }
    }
    return transcript;
  }

  static std::string ConfigPath(const std::string& tunnel) {
    return scratch_ + "\\temp\\wg\\" + tunnel + ".conf";
  }

  static inline const std::string scratch_ = ProgramFolder() + "\\round_trip";
  const std::string log_path_ = scratch_ + "\\appdata\\Tarvex\\windows_vpn_debug.log";
  RecordReader netsh_{SystemFolder() + "\\netsh-standin.log"};
  RecordReader wireguard_{ProgramFolder() + "\\bin\\wireguard-standin.log"};
};

// The netsh command lines of one rule set: the nine deletes, and then the
// adds for kConfig's port and address when `adds`.
std::vector<std::string> RuleLines(const std::string& tunnel, bool adds) {
  const std::string name = "name=\"Tarvex VPN - " + tunnel;
  std::vector<std::string> lines;
  for (const char* suffix :
       {" In", " Out", " App In", " App Out", " UDP", " UDP In", " VPN In", " VPN Out", " ICMP"}) {
    lines.push_back("netsh advfirewall firewall delete rule " + name + suffix + "\"");
  }
  if (adds) {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    const std::string wireguard = ProgramFolder() + "\\bin\\wireguard.exe";
    const std::string add = "netsh advfirewall firewall add rule " + name;
    lines.insert(
        lines.end(),
        {add + " In\" dir=in action=allow protocol=any program=\"" + wireguard + "\" enable=yes profile=any",
         add + " Out\" dir=out action=allow protocol=any program=\"" + wireguard +
             "\" enable=yes profile=any",
         add + " App In\" dir=in action=allow protocol=any program=\"" + program +
             "\" enable=yes profile=any",
         add + " App Out\" dir=out action=allow protocol=any program=\"" + program +
             "\" enable=yes profile=any",
         add + " UDP\" dir=out action=allow protocol=udp remoteport=51820 enable=yes profile=any",
         add + " UDP In\" dir=in action=allow protocol=udp localport=51820 enable=yes profile=any",
         add + " VPN In\" dir=in action=allow protocol=any localip=10.66.66.2 enable=yes profile=any",
         add + " VPN Out\" dir=out action=allow protocol=any localip=10.66.66.2 enable=yes profile=any",
         add + " ICMP\" dir=in action=allow protocol=icmpv4 localip=10.66.66.2 enable=yes profile=any"});
  }
  return lines;
}

TEST_F(TunnelRoundTripTest, StartRunsTheTunnelAndStopRemovesServiceRulesAndFile) {
  EXPECT_THAT(RunScript({StartLine("office"), kIsConnected}), ElementsAre(kTrue, kTrue, "end"));

  EXPECT_EQ(StateOf("tarvex_office"), kServiceRunning);
  EXPECT_EQ(CommandLines(netsh_.NewLines()), RuleLines("tarvex_office", true));
  std::string stored;
  for (const char c : kConfig) {
    stored += c == '\n' ? std::string("\r\n") : std::string(1, c);
  }
  EXPECT_EQ(Read(ConfigPath("tarvex_office")), stored);
  std::filesystem::copy_file(log_path_, scratch_ + "\\fresh_start.log",
                             std::filesystem::copy_options::overwrite_existing);

  const RecordReader netsh_at_stop(SystemFolder() + "\\netsh-standin.log");
  EXPECT_THAT(RunScript({StopLine("office"), kIsConnected}), ElementsAre(kTrue, kFalse, "end"));

  EXPECT_EQ(StateOf("tarvex_office"), 0u);
  EXPECT_EQ(CommandLines(netsh_at_stop.NewLines()), RuleLines("tarvex_office", false));
  EXPECT_FALSE(Exists(ConfigPath("tarvex_office")));
}

TEST_F(TunnelRoundTripTest, TwoTunnelsRunTogetherAndStopOneAtATime) {
  EXPECT_THAT(RunScript({StartLine("office"), StartLine("home"), kIsConnected}),
              ElementsAre(kTrue, kTrue, kTrue, "end"));
  EXPECT_EQ(StateOf("tarvex_office"), kServiceRunning);
  EXPECT_EQ(StateOf("tarvex_home"), kServiceRunning);

  EXPECT_THAT(RunScript({StopLine("office"), kIsConnected}), ElementsAre(kTrue, kTrue, "end"));
  EXPECT_EQ(StateOf("tarvex_office"), 0u);
  EXPECT_EQ(StateOf("tarvex_home"), kServiceRunning);
  EXPECT_TRUE(Exists(ConfigPath("tarvex_home")));

  EXPECT_THAT(RunScript({StopLine("home"), kIsConnected}), ElementsAre(kTrue, kFalse, "end"));
  EXPECT_EQ(StateOf("tarvex_home"), 0u);
}

TEST_F(TunnelRoundTripTest, AnInstallThatFailsAsAdministratorIsNotRetriedElevated) {
  EXPECT_THAT(RunScript({StartLine("broken", kConfig + "#tarvex-standin install-exit 1\n"), kIsConnected}),
              ElementsAre(kFalse, kFalse, "end"));

  EXPECT_EQ(StateOf("tarvex_broken"), 0u);
  const std::string log = Read(log_path_);
  for (const char* line :
       {"WindowsVpnPlugin::TryInstallTunnel - wireguard.exe failed with exit code: 1\r\n",
        "WindowsVpnPlugin::InstallWireGuardTunnel - Installation failed, trying with elevation\r\n",
        "WindowsVpnPlugin::InstallWireGuardTunnel - Already running as admin but installation "
        "failed\r\n"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line;
  }
  EXPECT_THAT(CommandLines(netsh_.NewLines()), IsEmpty());  // no rules for a tunnel that is not there
  EXPECT_TRUE(Exists(ConfigPath("tarvex_broken")));         // left for the removal
  EXPECT_THAT(RunScript({StopLine("broken")}), ElementsAre(kTrue, "end"));
  EXPECT_FALSE(Exists(ConfigPath("tarvex_broken")));
}

// Nothing is written, deleted or run for an id that makes no tunnel name,
// and the log shows each such id on its own line, escaped. The path ids
// aim, through the configuration file's path, at a file of their own in the
// wg directory, at one planted beside it and at one further up.
TEST_F(TunnelRoundTripTest, HostileIdsTouchNothingAndForgeNoLogLine) {
  const std::string planted = scratch_ + "\\temp\\victim.conf";
  std::ofstream(planted, std::ios::binary) << "planted";
  const std::vector<std::string> ids = {"..\\..\\evil",
                                        "\\..\\..\\victim",
                                        "/../../../evil",
                                        "a\" /uninstalltunnelservice \"x",
                                        "office home",
                                        std::string(26, 'x'),
                                        "x\r\n[2026-12-06 03:05:17] forged",
                                        std::string("office\0x", 8),
                                        "caf\xC3\xA9"};
  std::vector<std::string> script;
  for (const std::string& id : ids) {
    script.push_back(StartLine(id));
    script.push_back(StopLine(id));
  }
  const std::uint64_t log_size =
      std::filesystem::exists(log_path_) ? std::filesystem::file_size(log_path_) : 0;

  const std::vector<std::string> transcript = RunScript(script);

  EXPECT_EQ(transcript.size(), 2 * ids.size() + 1);
  for (std::size_t i = 0; i + 1 < transcript.size(); ++i) {
    EXPECT_EQ(transcript[i], kFalse) << i;
  }
  EXPECT_THAT(netsh_.NewLines(), IsEmpty());
  EXPECT_THAT(wireguard_.NewLines(), IsEmpty());
  EXPECT_FALSE(Exists(scratch_ + "\\temp\\wg\\evil.conf"));
  EXPECT_EQ(Read(planted), "planted");
  EXPECT_FALSE(Exists(scratch_ + "\\evil.conf"));
  std::istringstream added(Read(log_path_).substr(log_size));
  for (std::string line; std::getline(added, line);) {
    EXPECT_EQ(line.rfind("[", 0), 0u) << line;
    EXPECT_NE(line.find("] WindowsVpnPlugin::"), std::string::npos) << line;
  }
  EXPECT_NE(Read(log_path_).find(
                "Network ID refused, not a valid tunnel name: x\\x0D\\x0A[2026-12-06 03:05:17] forged\r\n"),
            std::string::npos);
}

// Elevated, a netsh.exe beside the program or in the current directory would
// run with administrator rights; only the system folder's may run.
TEST_F(TunnelRoundTripTest, ANetshPlantedBesideTheProgramOrInTheCurrentDirectoryNeverRuns) {
  const std::vector<std::string> planted = {ProgramFolder() + "\\netsh.exe", scratch_ + "\\cwd\\netsh.exe"};
  for (const std::string& path : planted) {
    ASSERT_TRUE(CopyFileA((SystemFolder() + "\\netsh.exe").c_str(), path.c_str(), FALSE)) << path;
  }
  char previous[MAX_PATH] = {};
  GetCurrentDirectoryA(MAX_PATH, previous);
  SetCurrentDirectoryA((scratch_ + "\\cwd").c_str());

  const std::vector<std::string> transcript = RunScript({StartLine("office"), StopLine("office")});

  SetCurrentDirectoryA(previous);
  for (const std::string& path : planted) {
    DeleteFileA(path.c_str());
    const std::string record = path.substr(0, path.rfind('\\')) + "\\netsh-standin.log";
    EXPECT_FALSE(Exists(record)) << record;
    DeleteFileA(record.c_str());
  }
  EXPECT_THAT(transcript, ElementsAre(kTrue, kTrue, "end"));
  EXPECT_EQ(netsh_.NewLines().size(), 18u + 9u);
}

}  // namespace
}  // namespace tarvex
