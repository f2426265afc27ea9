#include "vpn_plugin/config_fields.h"
#include "plugin_fixture.h"

namespace tarvex {

struct Example {
  const char* key;  // null: the endpoint port, which logs whether it was `found`
  const char* config;
  const char* value;
  bool found = false;
};

const Example kExamples[] = {
    {nullptr, "[Peer]\r\nEndpoint = 203.0.113.5:51820\r\nAllowedIPs = 0.0.0.0/0\r\n", "51820", true},
    {nullptr, "  Endpoint=198.51.100.7:443", "443", true},
    {nullptr, "Endpoint = [2001:db8::1]:51820\n", "51820", true},
    {nullptr, "Endpoint = [2001:db8::1]\n", "1]", true},
    {nullptr, "Endpoint = vpn.example.org\nEndpoint =\nEndpoint = \nEndpoint = 192.0.2.1:9999\n", "9999",
     true},
    {nullptr, "Endpoint = 192.0.2.1:\nEndpoint = 192.0.2.1:9999\n", "", true},
    {nullptr, "Endpoint = 192.0.2.1:\r\nEndpoint = 192.0.2.1:9999\n", "\r", true},
    {nullptr, "Endpoint = 192.0.2.1:51820 # note\n", "51820 # note", true},
    {nullptr, "[Peer]\nEndpoint = 192.0.2.1:1111\n[Peer]\nEndpoint = 192.0.2.2:2222\n", "1111", true},
    {nullptr, "\t \r\n\n\tEndpoint\t=\t192.0.2.1:7 \t\r\n", "7", true},
    {nullptr, "", "", false},
    {nullptr, "endpoint = 192.0.2.1:51820\n", "", false},
    {nullptr, "Endpoint 192.0.2.1:51820\nEndpoin=1:2\n#Endpoint = 192.0.2.1:51820\n", "", false},
    {"Address", "[Interface]\r\n#Address = 10.0.0.9/32\r\n  Address = 10.66.66.2/32, fd42::2/128\r\n",
     "10.66.66.2/32, fd42::2/128"},
    {"PrivateKey", "PrivateKey = abc=\r\n", "abc="},
    {"Address", "AddressX=1\nAddress = 2\n", "1"},
    {"Address", "Address\nAddress = 2\n", "2"},
    {"Address", "DNS = 1.1.1.1\nAddr\n", ""},
    {"", "x = 1\n", "1"},
    {"Address", "Address =\nAddress = 10.0.0.2\n", ""},
    {"Address", "Address =\r\nAddress = 10.0.0.2\n", "\r"},
    {"Address", "Address =  \t\nAddress = 10.0.0.2\n", "  \t"},
};

using ConfigFieldsTest = PluginTest;

TEST_F(ConfigFieldsTest, EachParserTakesTheFirstLineThatFits) {
  for (const Example& example : kExamples) {
    if (example.key != nullptr) {
      EXPECT_EQ(ExtractConfigValue(example.config, example.key), example.value) << example.config;
      continue;
    }
    EXPECT_EQ(plugin.ExtractEndpointPort(example.config), example.value) << example.config;
    EXPECT_EQ(LogLines().back(),
              example.found
                  ? "WindowsVpnPlugin::ExtractEndpointPort - Found port: " + std::string(example.value)
                  : "WindowsVpnPlugin::ExtractEndpointPort - No endpoint port found in config");
  }
  EXPECT_EQ(LogLines().size(), 13u);
}

}  // namespace tarvex
