#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "plugin_fixture.h"
#include "vpn_plugin/config_fields.h"

namespace tarvex {
namespace {

using ::testing::ElementsAre;

struct PortCase {
  const char* config;
  const char* port;
};

class EndpointPortTest : public PluginTest, public ::testing::WithParamInterface<PortCase> {};

TEST_P(EndpointPortTest, YieldsThePortAfterTheLastColonOfTheFirstUsableEndpoint) {
  EXPECT_EQ(plugin.ExtractEndpointPort(GetParam().config), GetParam().port);

  EXPECT_THAT(LogLines(), ElementsAre(std::string("WindowsVpnPlugin::ExtractEndpointPort - Found port: ") +
                                      GetParam().port));
}

INSTANTIATE_TEST_SUITE_P(
    Examples, EndpointPortTest,
    ::testing::Values(
        PortCase{"[Peer]\r\nEndpoint = 203.0.113.5:51820\r\nAllowedIPs = 0.0.0.0/0\r\n", "51820"},
        PortCase{"  Endpoint=198.51.100.7:443", "443"}, PortCase{"Endpoint = [2001:db8::1]:51820\n", "51820"},
        PortCase{"Endpoint = [2001:db8::1]\n", "1]"},
        PortCase{"Endpoint = vpn.example.org\nEndpoint =\nEndpoint = \nEndpoint = 192.0.2.1:9999\n", "9999"},
        PortCase{"Endpoint = 192.0.2.1:\nEndpoint = 192.0.2.1:9999\n", ""},
        PortCase{"Endpoint = 192.0.2.1:\r\nEndpoint = 192.0.2.1:9999\n", "\r"},
        PortCase{"Endpoint = 192.0.2.1:51820 # note\n", "51820 # note"},
        PortCase{"[Peer]\nEndpoint = 192.0.2.1:1111\n[Peer]\nEndpoint = 192.0.2.2:2222\n", "1111"},
        PortCase{"\t \r\n\n\tEndpoint\t=\t192.0.2.1:7 \t\r\n", "7"}));

using EndpointPortMissingTest = PluginTest;

TEST_F(EndpointPortMissingTest, NoUsableEndpointLineGivesEmptyAndSaysSo) {
  for (const char* config : {"", "endpoint = 192.0.2.1:51820\n", "Endpoint 192.0.2.1:51820\n",
                             "Endpoin=1:2\n", "#Endpoint = 192.0.2.1:51820\n"}) {
    EXPECT_EQ(plugin.ExtractEndpointPort(config), "") << config;
  }
  EXPECT_EQ(LogLines().size(), 5u);
  EXPECT_EQ(LogLines().back(), "WindowsVpnPlugin::ExtractEndpointPort - No endpoint port found in config");
}

TEST(ConfigValueTest, YieldsTheTrimmedValueOfTheFirstLineThatBeginsWithTheKeyAndHoldsAnEqualsSign) {
  const std::string config =
      "[Interface]\r\n#Address = 10.0.0.9/32\r\nPrivateKey = abc=\r\n  Address = 10.66.66.2/32, "
      "fd42::2/128\r\n";
  EXPECT_EQ(ExtractConfigValue(config, "Address"), "10.66.66.2/32, fd42::2/128");
  EXPECT_EQ(ExtractConfigValue(config, "PrivateKey"), "abc=");
  EXPECT_EQ(ExtractConfigValue("AddressX=1\nAddress = 2\n", "Address"), "1");
  EXPECT_EQ(ExtractConfigValue("Address\nAddress = 2\n", "Address"), "2");
  EXPECT_EQ(ExtractConfigValue("DNS = 1.1.1.1\n", "Address"), "");
  EXPECT_EQ(ExtractConfigValue("Addr\n", "Address"), "");
  EXPECT_EQ(ExtractConfigValue("x = 1\n", ""), "1");
}

TEST(ConfigValueTest, AnEmptyOrBlankValueStopsTheSearchAsItIs) {
  EXPECT_EQ(ExtractConfigValue("Address =\nAddress = 10.0.0.2\n", "Address"), "");
  EXPECT_EQ(ExtractConfigValue("Address =\r\nAddress = 10.0.0.2\n", "Address"), "\r");
  EXPECT_EQ(ExtractConfigValue("Address =  \t\nAddress = 10.0.0.2\n", "Address"), "  \t");
}

}  // namespace
}  // namespace tarvex
