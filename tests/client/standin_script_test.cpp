// The stand-in's script lines and transcript lines: the interface end-to-end
// tests drive the program through.

#include <utility>

#include "standins/engine/script_commands.h"
#include "tests/client/client_test_support.h"

namespace standin {
namespace {

using Kind = ScriptCommand::Kind;

TEST(StandinScriptTest, ReadsCommandsAndRefusesMalformedLines) {
  const std::vector<std::pair<std::string, Kind>> lines = {
      {"close\r", Kind::kClose},         {"dialogs accept", Kind::kAcceptDialogs},
      {"# send a/b zz", Kind::kNothing}, {"\r", Kind::kNothing},
      {"send a/b", Kind::kSend},         {"send", Kind::kError},
      {"send a/b 0 7", Kind::kError},    {"send a/b 070", Kind::kError},
      {"send a/b 69sC", Kind::kError},   {"sleep 5s", Kind::kError},
      {"close now", Kind::kError},       {"dialogs cancel", Kind::kError}};
  for (const auto& [line, kind] : lines) {
    EXPECT_EQ(ParseScriptLine(line).kind, kind) << line;
  }
  const ScriptCommand send = ParseScriptLine("send tarvex/windows_vpn 07 0b 6973Cf\r");
  EXPECT_EQ(send.channel, "tarvex/windows_vpn");
  EXPECT_EQ(flutter::Hex(send.message), "07 0B 69 73 CF");
  EXPECT_TRUE(ParseScriptLine("send a/b").message.empty());
  EXPECT_EQ(ParseScriptLine("sleep 250\r").milliseconds, 250u);
  EXPECT_EQ(ParseScriptLine("frobnicate 3").reason, "unknown command \"frobnicate\"");
}

TEST(StandinScriptTest, SplitsScriptLinesAndWritesTranscriptLines) {
  EXPECT_EQ(SplitScriptLines("\xEF\xBB\xBF"
                             "close\r\n\r\nend\n"),
            (std::vector<std::string>{"close\r", "\r", "end"}));
  EXPECT_EQ(ChannelLine("reply", "a/b", {0x00, 0x07, 0xAB}), "reply a/b 0007ab");
  EXPECT_EQ(ChannelLine("reply", "a/b", {}), "reply a/b");
  EXPECT_EQ(DialogLine("C:\\x", "one\r\ntwo"), "dialog C:\\\\x | one\\r\\ntwo");
}

}  // namespace
}  // namespace standin
