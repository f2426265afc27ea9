// The stand-in's script lines and transcript lines: the interface end-to-end
// tests drive the program through.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "standins/engine/script_commands.h"
#include "tests/client/client_test_support.h"

namespace standin {
namespace {

using Kind = ScriptCommand::Kind;

TEST(StandinScriptTest, SendTakesHexPairsInEitherCaseWithBlanksBetweenPairs) {
  const ScriptCommand send = ParseScriptLine("send tarvex/windows_vpn 07 0b 69sC\r");
  ASSERT_EQ(send.kind, Kind::kError);

  const ScriptCommand good = ParseScriptLine("send tarvex/windows_vpn 07 0b 6973Cf\r");
  ASSERT_EQ(good.kind, Kind::kSend);
  EXPECT_EQ(good.channel, "tarvex/windows_vpn");
  EXPECT_EQ(flutter::Hex(good.message), "07 0B 69 73 CF");

  const ScriptCommand empty = ParseScriptLine("send a/b");
  ASSERT_EQ(empty.kind, Kind::kSend);
  EXPECT_TRUE(empty.message.empty());
}

TEST(StandinScriptTest, MalformedLinesAreErrorsWithAReason) {
  EXPECT_EQ(ParseScriptLine("send").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("send a/b 0 7").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("send a/b 070").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("sleep").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("sleep 5s").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("close now").kind, Kind::kError);
  EXPECT_EQ(ParseScriptLine("dialogs cancel").kind, Kind::kError);
  const ScriptCommand unknown = ParseScriptLine("frobnicate 3");
  ASSERT_EQ(unknown.kind, Kind::kError);
  EXPECT_EQ(unknown.reason, "unknown command \"frobnicate\"");
}

TEST(StandinScriptTest, CommandsCommentsAndBlankLines) {
  EXPECT_EQ(ParseScriptLine("close\r").kind, Kind::kClose);
  EXPECT_EQ(ParseScriptLine("dialogs accept").kind, Kind::kAcceptDialogs);
  const ScriptCommand sleep = ParseScriptLine("sleep 250\r");
  ASSERT_EQ(sleep.kind, Kind::kSleep);
  EXPECT_EQ(sleep.milliseconds, 250u);
  EXPECT_EQ(ParseScriptLine("# send a/b zz").kind, Kind::kNothing);
  EXPECT_EQ(ParseScriptLine("\r").kind, Kind::kNothing);
  EXPECT_EQ(SplitScriptLines("\xEF\xBB\xBF"
                             "close\r\n\r\nend\n"),
            (std::vector<std::string>{"close\r", "\r", "end"}));
}

TEST(StandinScriptTest, TranscriptLines) {
  EXPECT_EQ(ChannelLine("reply", "a/b", {0x00, 0x07, 0xAB}), "reply a/b 0007ab");
  EXPECT_EQ(ChannelLine("reply", "a/b", {}), "reply a/b");
  EXPECT_EQ(DialogLine("C:\\x", "one\r\ntwo"), "dialog C:\\\\x | one\\r\\ntwo");
}

}  // namespace
}  // namespace standin
