#include <stdexcept>
#include <string_view>
#include <utility>
#include <vector>

#include "allocation_failure.h"
#include "plugin_fixture.h"
#include "vpn_plugin/text_conversion.h"

namespace tarvex {

// Reaches the tunnel registry, which only the tunnel methods fill.
class WindowsVpnPluginTestPeer {
 public:
  static void Register(WindowsVpnPlugin& plugin, const std::string& id) { plugin.tunnels_[id] = true; }
};

// Keeps what the plugin replied; a success throws, as a reply that cannot be encoded would.
class TextResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  explicit TextResult(std::string* text) : text_(text) {}

 protected:
  void SuccessInternal(const flutter::EncodableValue*) override { throw std::runtime_error("reply failed"); }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const flutter::EncodableValue*) override {
    *text_ = code + ": " + message;
  }
  void NotImplementedInternal() override { *text_ = "not implemented"; }

 private:
  std::string* text_;
};

class DispatchTest : public PluginTest {
 protected:
  std::string Send(const std::string& method) {
    std::string reply;
    plugin.HandleMethodCall({method, nullptr}, std::make_unique<TextResult>(&reply));
    return reply;
  }
};

TEST_F(DispatchTest, NamesWithoutAnOperationAreLoggedAndNotImplemented) {
  for (const char* name : {"IsConnected", "isconnected", "isConnecte", "isConnected ", "StartTunnel",
                           "stoptunnel", "start", ""}) {
    EXPECT_EQ(Send(name), "not implemented") << name;
    EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::HandleMethodCall called: " + std::string(name));
  }
}

TEST_F(DispatchTest, AMethodNameWithLineBreaksForgesNoLogLine) {
  EXPECT_EQ(Send("isConnected\r\n[2026-01-01 00:00:00] forged\\"), "not implemented");
  EXPECT_EQ(
      LogLines().back(),
      "WindowsVpnPlugin::HandleMethodCall called: isConnected\\x0D\\x0A[2026-01-01 00:00:00] forged\\x5C");
}

TEST_F(DispatchTest, IsConnected_AReplyThatThrowsBecomesTheCheckConnectionError) {
  EXPECT_EQ(Send("isConnected"), "CHECK_CONNECTION_ERROR: Failed to check connection: reply failed");
  EXPECT_THAT(LogLines(),
              ElementsAre("WindowsVpnPlugin::HandleMethodCall called: isConnected",
                          "WindowsVpnPlugin::IsConnected called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection called",
                          "WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found",
                          "WindowsVpnPlugin::IsConnected - Connection status: false",
                          "WindowsVpnPlugin::IsConnected - Exception: reply failed"));
}

TEST_F(DispatchTest, IsConnected_LooksAtNoArguments) {
  windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceRunning);
  EXPECT_EQ(
      Call("isConnected", std::make_unique<flutter::EncodableValue>(flutter::EncodableMap{{"networkId", 7}})),
      "true");
  EXPECT_EQ(Call("isConnected", std::make_unique<flutter::EncodableValue>("office")), "true");
  EXPECT_EQ(Call("isConnected", std::make_unique<flutter::EncodableValue>()), "true");
}

using ConnectionTest = PluginTest;

// An exception ends only the query it happens in.
TEST_F(ConnectionTest, RegisteredIdsAreQueriedInByteOrderUntilOneRuns) {
  for (const char* id : {"b", "a", "ab", "c"}) {
    WindowsVpnPluginTestPeer::Register(plugin, id);
  }
  windows.AddService(u"WireGuardTunnel$tarvex_ab", kServiceStopped);
  windows.AddService(u"WireGuardTunnel$tarvex_b", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_c", kServiceRunning);
  windows.throw_on["OpenServiceW"] = 1;

  EXPECT_TRUE(plugin.CheckWindowsVPNConnection());

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::CheckWindowsVPNConnection called",
                  "WindowsVpnPlugin::IsVPNConnected - Exception: std::bad_alloc",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_ab status: NOT RUNNING",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_b status: RUNNING",
                  "WindowsVpnPlugin::CheckWindowsVPNConnection - WireGuard VPN connected: b"));
  EXPECT_EQ(windows.calls["EnumServicesStatusExW"], 0);
}

// Memory running out after a connected tunnel was found, while its line is
// formed: the whole check ends false, and the later running tunnel is never asked about.
TEST_F(ConnectionTest, AnExceptionOutsideTheQueriesEndsTheWholeCheckWithFalse) {
  WindowsVpnPluginTestPeer::Register(plugin, "a");
  WindowsVpnPluginTestPeer::Register(plugin, "b");
  windows.AddService(u"WireGuardTunnel$tarvex_a", kServiceRunning);
  windows.AddService(u"WireGuardTunnel$tarvex_b", kServiceRunning);
  // Each log line ends with a flush; the second is that of the query for "a".
  windows.before_call = [this](const std::string& operation) {
    if (operation == "FileFlush" && windows.calls["FileFlush"] == 1) {
      FailNextAllocation();
    }
  };

  EXPECT_FALSE(plugin.CheckWindowsVPNConnection());

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::CheckWindowsVPNConnection called",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_a status: RUNNING",
                  "WindowsVpnPlugin::CheckWindowsVPNConnection - Exception: std::bad_alloc"));
  EXPECT_EQ(windows.calls["OpenServiceW"], 1);
}

// A tunnel on its way up or down, paused or resuming is not connected, asked
// by its id or found among all services.
TEST_F(ConnectionTest, OnlyARunningServiceCounts) {
  WindowsVpnPluginTestPeer::Register(plugin, "office");
  SimulatedService& registered = windows.AddService(u"WireGuardTunnel$tarvex_office", kServiceStopped);
  SimulatedService& other = windows.AddService(u"tarvex_other", kServiceStopped);
  registered.start_ms = other.start_ms = 0xFFFFFFFF;  // start-pending stays so
  // START_PENDING, STOP_PENDING, CONTINUE_PENDING, PAUSE_PENDING, PAUSED
  for (const Dword state : {2, 3, 5, 6, 7}) {
    registered.state = other.state = state;
    const std::size_t before = LogLines().size();
    EXPECT_FALSE(plugin.CheckWindowsVPNConnection()) << state;
    EXPECT_THAT(
        LogLinesFrom(before),
        ElementsAre(
            "WindowsVpnPlugin::CheckWindowsVPNConnection called",
            "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_office status: NOT RUNNING",
            "WindowsVpnPlugin::CheckWindowsVPNConnection - No WireGuard connections found"))
        << state;
  }
}

TEST_F(ConnectionTest, IsVPNConnected_WidensTheIdByteByByteAndClosesTheServiceBeforeTheManager) {
  windows.AddService(u"WireGuardTunnel$tarvex_\xFF80", kServiceRunning);

  EXPECT_TRUE(plugin.IsVPNConnected("\x80"));
  EXPECT_FALSE(plugin.IsVPNConnected("missing"));
  windows.fail["OpenServiceW"] = kErrorAccessDenied;  // whatever the reason, "not found"
  EXPECT_FALSE(plugin.IsVPNConnected("\x80"));
  windows.fail.clear();
  windows.fail["QueryServiceStatus"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.IsVPNConnected("\x80"));
  windows.fail["OpenSCManagerW"] = kErrorAccessDenied;
  EXPECT_FALSE(plugin.IsVPNConnected("\x80"));

  EXPECT_THAT(
      LogLines(),
      ElementsAre("WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_\x80 status: RUNNING",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_missing not found",
                  "WindowsVpnPlugin::IsVPNConnected - Service WireGuardTunnel$tarvex_\x80 not found",
                  "WindowsVpnPlugin::IsVPNConnected - Failed to query service status",
                  "WindowsVpnPlugin::IsVPNConnected - Failed to open service manager"));
  EXPECT_THAT(windows.closed_services, ElementsAre("WireGuardTunnel$tarvex_\x80", "manager", "manager",
                                                   "manager", "WireGuardTunnel$tarvex_\x80", "manager"));
}

TEST(ServiceNameTest, NamesWidenBySignExtensionAndNarrowToTheLowByte) {
  EXPECT_EQ(WidenName("a\x7F\x80\xFF"), u"a\x7F\xFF80\xFFFF");
  EXPECT_EQ(NarrowName(u"a\u00e9\xFF80\u2022"), "a\xE9\x80\x22");
}

// Each malformed sequence becomes one U+FFFD. The inputs lie in buffers of
// their exact size, so a read past the end shows under the sanitizers.
TEST(TextConversionTest, MalformedTextBecomesReplacementCharacters) {
  const std::pair<std::string, std::u16string> utf8[] = {
      {"a\xC3\xA9\xE2\x80\xA2\xF0\x9F\x98\x80", u"a\u00e9\u2022\U0001F600"},
      {"\xC0\xAF", u"\xFFFD\xFFFD"},                      // "/" in two bytes
      {"\xE0\x80\xAF", u"\xFFFD\xFFFD\xFFFD"},            // and in three
      {"\xF0\x80\x80\xAF", u"\xFFFD\xFFFD\xFFFD\xFFFD"},  // and in four
      {"a\xE2\x80", u"a\xFFFD"},                          // cut short at the end
      {"\xF0\x9F\x98", u"\xFFFD"},
      {"\xE2\x80z", u"\xFFFDz"},
  };
  for (const auto& [text, wide] : utf8) {
    const std::vector<char> exact(text.begin(), text.end());
    EXPECT_EQ(Utf8ToUtf16(std::string_view(exact.data(), exact.size())), wide) << text;
  }
  const std::pair<std::u16string, std::string> utf16[] = {
      {u"a\xD83D\xDE00", "a\xF0\x9F\x98\x80"},
      {u"a\xD83D", "a\xEF\xBF\xBD"},  // a lone high surrogate at the end
      {u"\xD83Dz", "\xEF\xBF\xBDz"},
      {u"\xDE00", "\xEF\xBF\xBD"},
  };
  for (const auto& [wide, text] : utf16) {
    const std::vector<char16_t> exact(wide.begin(), wide.end());
    EXPECT_EQ(Utf16ToUtf8(std::u16string_view(exact.data(), exact.size())), text) << text;
  }
}

}  // namespace tarvex
