#include <string_view>

#include "plugin_fixture.h"
#include "vpn_plugin/child_process.h"
#include "vpn_plugin/config_fields.h"
#include "vpn_plugin/text_conversion.h"

namespace tarvex {

// The prompt is explained first, a refusal (only a refusal) after; the program's outcome is not judged.
TEST_F(PluginTest, RunElevatedCommand_ExplainsThePromptAndReportsARefusal) {
  const std::string program = "C:\\Program Files\\WireGuard\\wireguard.exe", parameters = "/x \"a b\"";
  const std::string command = "RunElevatedCommand - Command: " + program + " Params: " + parameters;
  const std::u16string why =  // MB_OK | MB_ICONINFORMATION
      u"Instala\u00e7\u00e3o do Driver WireGuard|Tarvex precisa instalar o driver de rede do WireGuard.\n\n"
      u"Isso requer privil\u00e9gios de administrador apenas uma vez para:\n\u2022 Instalar o driver de rede "
      u"necess\u00e1rio\n\u2022 Configurar o servi\u00e7o VPN\n\nAp\u00f3s esta instala\u00e7\u00e3o "
      u"inicial, o app funcionar\u00e1 normalmente sem pedir admin novamente.|@";
  const std::u16string cancelled =  // MB_ICONWARNING
      u"Instala\u00e7\u00e3o Cancelada|A instala\u00e7\u00e3o foi cancelada pelo usu\u00e1rio.\n\nPara "
      u"usar a VPN, ser\u00e1 necess\u00e1rio aceitar a eleva\u00e7\u00e3o quando solicitado.|0";
  const std::string failed = "RunElevatedCommand - ShellExecuteEx failed: ";
  const std::string thrown = "RunElevatedCommand - Exception: std::bad_alloc";
  // clang-format off
  const struct { Given given; bool answer; Lines lines; std::vector<std::u16string> boxes; } cases[] = {
      {Nothing, true, {command, "RunElevatedCommand - Elevated command completed"}, {why}},
      {Failing("ShellExecuteExA", kErrorCancelled), false, {command, failed +
       "The operation was canceled by the user.\r\n", "RunElevatedCommand - User cancelled elevation"},
       {why, cancelled}},
      {Failing("ShellExecuteExA", kErrorFileNotFound), false,
       {command, failed + "The system cannot find the file specified.\r\n"}, {why}},
      {Failing("WaitForSingleObject", kThrows), false, {command, thrown}, {why}}};
  // clang-format on
  windows.programs[program] = {1, 1000};  // its exit code is not read
  for (const auto& c : cases) {
    windows.fail.clear();
    windows.message_boxes.clear();
    c.given(windows);
    const std::size_t before = Log().size();
    EXPECT_EQ(plugin.RunElevatedCommand(program, parameters), c.answer);
    EXPECT_EQ(Log(before), c.lines);
    EXPECT_EQ(windows.message_boxes, c.boxes);
  }
}

// A check that fails counts as no.
TEST_F(PluginTest, IsRunningAsAdminAndGetErrorMessageAskTheSystem) {
  windows.fail["CheckTokenMembership"] = {kErrorAccessDenied};
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.fail["AllocateAndInitializeSid"] = {kErrorAccessDenied};
  EXPECT_FALSE(plugin.IsRunningAsAdmin());
  windows.fail = {{"CheckTokenMembership", {kThrows}}};
  EXPECT_THROW(plugin.IsRunningAsAdmin(), std::bad_alloc);

  windows.system_messages[2] = u"O sistema n\u00e3o pode encontrar o arquivo especificado.\r\n";
  EXPECT_EQ(plugin.GetErrorMessage(2), "O sistema n\xC3\xA3o pode encontrar o arquivo especificado.\r\n");
  EXPECT_EQ(plugin.GetErrorMessage(0xE0001234), "");
}

// A line that cannot be written is dropped quietly; an exception is reported to the debugger.
TEST_F(PluginTest, Log_AppendsTimestampedLinesInLocalTimeAndDropsWhatCannotBeWritten) {
  plugin.Log("first");
  windows.local_offset_seconds = -4 * 3600;
  plugin.Log("two\nlines");
  windows.local_offset_seconds = 0;
  EXPECT_EQ(windows.calls["FileFlush"], 2);
  // No APPDATA, one whose folder cannot be made, a folder named like the log, 22: EINVAL.
  for (const Given& lost :
       {Given([](SimulatedWindows& w) { w.env.erase("appdata"); }),
        Given([](SimulatedWindows& w) { w.env["APPDATA"] = "C:\\Missing"; }),
        Given([](SimulatedWindows& w) { w.folders.insert(kLogPath); }), Failing("DupEnv", 22),
        Failing("LocalTime64", 22), Failing("FileWrite", kThrows)}) {
    lost(windows);
    plugin.Log("lost");
    windows.env["APPDATA"] = SimulatedWindows::kAppData;
    windows.folders.erase(kLogPath);
    windows.fail.clear();
  }
  plugin.Log("kept");

  EXPECT_EQ(windows.files.at(kLogPath),
            "[2026-12-06 03:05:17] first\r\n[2026-12-05 23:05:17] two\r\nlines\r\n"
            "[2026-12-06 03:05:17] kept\r\n");
  EXPECT_EQ(windows.calls["CreateDirectoryA"], 7);
  EXPECT_EQ(windows.calls["FileOpen"], 7);
  EXPECT_THAT(windows.debug_output, ElementsAre("WindowsVpnPlugin log error: std::bad_alloc"));
}

// The search runs afresh on every call. A module path that could not be read, or was cut short, names no
// folder of ours.
TEST_F(PluginTest, FindWireGuardExecutable_PrefersTheBundledCopyThenAssetsThenTheSystemFolders) {
  const std::string found = "FindWireGuardExecutable - Found ";
  const char* const candidates[] = {
      kWireGuardExe, "C:\\Apps\\Tarvex\\data\\flutter_assets\\assets\\bin\\wireguard.exe",
      "C:\\Program Files\\WireGuard\\wireguard.exe", "C:\\Program Files (x86)\\WireGuard\\wireguard.exe"};
  for (const char* path : candidates) windows.files[path] = "";
  for (const char* path : candidates) {
    EXPECT_EQ(plugin.FindWireGuardExecutable(), path);
    windows.files.erase(path);
  }
  EXPECT_EQ(plugin.FindWireGuardExecutable(), "");
  EXPECT_EQ(Log(), (Lines{kFoundBundled, found + "in assets at: " + candidates[1],
                          found + "system-installed at: " + candidates[2],
                          found + "system-installed at: " + candidates[3], kNotFound}));

  windows.files[candidates[2]] = "";
  const std::string fits = "C:\\" + std::string(245, 'a');  // with "\tarvex.exe": 259 bytes
  // clang-format off
  const struct { std::string module_path, found; } cases[] = {
      {"", candidates[2]},  // not read
      {"C:\\" + std::string(246, 'a') + "\\tarvex.exe", candidates[2]},  // 260 bytes: cut
      {fits + "\\tarvex.exe", fits + "\\bin\\wireguard.exe"},
      {"tarvex.exe", "tarvex.exe\\bin\\wireguard.exe"}};  // no backslash: the path is the folder
  // clang-format on
  for (const auto& c : cases) {  // a folder named like the program counts
    windows.folders.insert(c.module_path.substr(0, c.module_path.rfind('\\')) + "\\bin\\wireguard.exe");
    windows.module_path = c.module_path;
    windows.fail.clear();
    if (c.module_path.empty()) windows.fail["GetModuleFileNameA"] = {kErrorAccessDenied};
    EXPECT_EQ(plugin.FindWireGuardExecutable(), c.found) << c.module_path;
  }
}

TEST_F(PluginTest, RunHiddenCommand_AnUnknownExitCodeIsNoSuccess) {
  const ChildProcessOutcome missing = RunHiddenCommand(windows, "netsh advfirewall show", 5000);
  EXPECT_TRUE(!missing.started && missing.error == 2u && missing.exit_code == 0xFFFFFFFFu);
  windows.fail["GetExitCodeProcess"] = {kErrorAccessDenied};
  EXPECT_EQ(RunHiddenCommand(windows, "netsh", 5000, std::string(kNetshExe)).exit_code, 0xFFFFFFFFu);
  windows.fail = {{"WaitForSingleObject", {kThrows}}};
  EXPECT_THROW(RunHiddenCommand(windows, "netsh", 5000, std::string(kNetshExe)), std::bad_alloc);
}

// For the endpoint, the text after the last ':' (not checked), logged.
TEST_F(PluginTest, ConfigFields_EachParserTakesTheFirstLineThatFits) {
  // clang-format off
  const struct { const char* key; /* null: the endpoint port */ const char *config, *value; } examples[] = {
      {nullptr, "[Peer]\r\nEndpoint = 203.0.113.5:51820\r\nAllowedIPs = 0.0.0.0/0\r\n", "51820"},
      {nullptr, "Endpoint = vpn.example.org\nEndpoint =\nEndpoint = \nEndpoint = 192.0.2.1:9999\n", "9999"},
      {nullptr, "Endpoint = 192.0.2.1:\nEndpoint = 192.0.2.1:9999\n", ""},
      {nullptr, "Endpoint = 192.0.2.1:\r\nEndpoint = 192.0.2.1:9999\n", "\r"},
      {nullptr, "[Peer]\nEndpoint = 192.0.2.1:1111\n[Peer]\nEndpoint = 192.0.2.2:2222\n", "1111"},
      {nullptr, "\t \r\n\n\tEndpoint\t=\t192.0.2.1:7 \t\r\n", "7"},
      {nullptr, "endpoint = 192.0.2.1:51820\n", nullptr},
      {nullptr, "Endpoint 192.0.2.1:51820\nEndpoin=1:2\n#Endpoint = 192.0.2.1:51820\n", nullptr},
      {"Address", "[Interface]\r\n#Address = 10.0.0.9/32\r\n  Address = 10.66.66.2/32, fd42::2/128\r\n",
       "10.66.66.2/32, fd42::2/128"},
      {"PrivateKey", "PrivateKey = abc=\r\n", "abc="},
      {"Address", "Address\nAddress = 2\n", "2"},
      {"Address", "Address =\r\nAddress = 10.0.0.2\n", "\r"},
      {"Address", "Address =  \t\nAddress = 10.0.0.2\n", "  \t"},
      // clang-format on
  };
  for (const auto& example : examples) {
    if (example.key != nullptr) {
      EXPECT_EQ(ExtractConfigValue(example.config, example.key), example.value) << example.config;
      continue;
    }
    EXPECT_EQ(plugin.ExtractEndpointPort(example.config), example.value ? example.value : "")
        << example.config;
    EXPECT_EQ(Back(), example.value ? "ExtractEndpointPort - Found port: " + std::string(example.value)
                                    : "ExtractEndpointPort - No endpoint port found in config");
  }
}

// Each malformed sequence becomes one U+FFFD. Inputs lie in buffers of their exact size, for the sanitizers.
TEST(TextConversionTest, NamesAndMalformedText) {
  EXPECT_EQ(WidenName("a\x7F\x80\xFF"), u"a\x7F\xFF80\xFFFF");
  EXPECT_EQ(NarrowName(u"a\u00e9\xFF80\u2022"), "a\xE9\x80\x22");
  // "/" in two, three and four bytes; sequences cut short, at the end or not.
  // clang-format off
  const std::pair<std::string, std::u16string> utf8[] = {
      {"a\xC3\xA9\xE2\x80\xA2\xF0\x9F\x98\x80", u"a\u00e9\u2022\U0001F600"}, {"\xC0\xAF", u"\xFFFD\xFFFD"},
      {"\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"}, {"\xF0\x80\x80\xAF", u"\xFFFD\xFFFD\xFFFD\xFFFD"},
      {"a\xE2\x80", u"a\xFFFD"}, {"\xF0\x9F\x98", u"\xFFFD"}, {"\xE2\x80z", u"\xFFFDz"}};
  for (const auto& [text, wide] : utf8) {
    const std::vector<char> exact(text.begin(), text.end());
    EXPECT_EQ(Utf8ToUtf16(std::string_view(exact.data(), exact.size())), wide) << text;
  }
  const std::pair<std::u16string, std::string> utf16[] = {  // lone surrogates, high and low
      {u"a\xD83D\xDE00", "a\xF0\x9F\x98\x80"}, {u"a\xD83D", "a\xEF\xBF\xBD"}, {u"\xD83Dz", "\xEF\xBF\xBDz"},
      {u"\xDE00", "\xEF\xBF\xBD"}};
  // clang-format on
  for (const auto& [wide, text] : utf16) {
    const std::vector<char16_t> exact(wide.begin(), wide.end());
    EXPECT_EQ(Utf16ToUtf8(std::u16string_view(exact.data(), exact.size())), text) << text;
  }
}

}  // namespace tarvex
