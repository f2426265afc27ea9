#include <windows.h>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/standins/standin_test_support.h"

namespace standin_test {
namespace {

using ::testing::ElementsAre;

std::string SystemNetsh() {
  char folder[MAX_PATH] = {};
  GetSystemDirectoryA(folder, MAX_PATH);
  return std::string(folder) + "\\netsh.exe";
}

// The record's lines with the two leading times dropped.
std::vector<std::string> CommandLines(const RecordReader& record) {
  std::vector<std::string> lines;
  for (const std::string& line : record.NewLines()) {
    const std::size_t first = line.find(' ');
    lines.push_back(line.substr(line.find(' ', first + 1) + 1));
  }
  return lines;
}

const std::string kAddRule =
    "netsh advfirewall firewall add rule name=\"Tarvex VPN - tarvex_office In\" dir=in action=allow "
    "protocol=any "
    "program=\"C:\\Program Files\\Tarvex App\\bin\\wireguard.exe\" enable=yes profile=any";
const std::string kDeleteRule =
    "netsh advfirewall firewall delete rule name=\"Tarvex VPN - tarvex_office UDP In\"";

TEST(NetshStandinTest, RecordsEachCommandLineByteForByteAndExitsZero) {
  const RecordReader record(SystemNetsh().substr(0, SystemNetsh().rfind('\\')) + "\\netsh-standin.log");
  const std::uint64_t before = NowUnixMilliseconds();

  EXPECT_EQ(RunProgram(kAddRule, 5000, SystemNetsh()).exit_code, 0u);
  EXPECT_EQ(RunProgram(kDeleteRule + "  \t", 5000, SystemNetsh()).exit_code, 0u);

  EXPECT_THAT(CommandLines(record), ElementsAre(kAddRule, kDeleteRule + "  \t"));
  const std::string first = record.NewLines().at(0);
  const std::uint64_t start = std::stoull(first.substr(0, first.find(' ')));
  EXPECT_LE(before, start);
  EXPECT_LE(start, NowUnixMilliseconds());
}

}  // namespace
}  // namespace standin_test
