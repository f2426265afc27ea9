// The stand-in's script lines and transcript lines: the interface end-to-end
// tests drive the program through.

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <utility>

#include "standins/engine/script_commands.h"
#include "standins/engine/transcript.h"
#include "tests/client/client_test_support.h"

namespace standin {
namespace {

using Kind = ScriptCommand::Kind;

TEST(StandinScriptTest, ReadsCommandsAndRefusesMalformedLines) {
  const std::vector<std::pair<std::string, Kind>> lines = {{"close\r", Kind::kClose},
                                                           {"dialogs accept", Kind::kAcceptDialogs},
                                                           {"# send a/b zz", Kind::kNothing},
                                                           {"\r", Kind::kNothing},
                                                           {"send a/b", Kind::kSend},
                                                           {"send", Kind::kError},
                                                           {"send a/b 0 7", Kind::kError},
                                                           {"send a/b 070", Kind::kError},
                                                           {"send a/b 69sC", Kind::kError},
                                                           {"sleep 5s", Kind::kError},
                                                           {"close now", Kind::kError},
                                                           {"dialogs cancel", Kind::kError},
                                                           {"window report", Kind::kWindow},
                                                           {"window report 1", Kind::kError},
                                                           {"window resize 5", Kind::kError},
                                                           {"window resize -5 5", Kind::kError},
                                                           {"window send 0x1g 0 0", Kind::kError},
                                                           {"window open", Kind::kError},
                                                           {"window", Kind::kError},
                                                           {"services WireGuardTunnel$", Kind::kServices},
                                                           {"services \t \r", Kind::kError},
                                                           {"note", Kind::kNote},
                                                           {"process report\r", Kind::kProcessReport},
                                                           {"process", Kind::kError},
                                                           {"process report all", Kind::kError},
                                                           {"notes x", Kind::kError}};
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

TEST(StandinScriptTest, ServicesAndNoteTakeTheRestOfTheLine) {
  // A service name may hold blanks; only the blanks around the prefix go.
  const ScriptCommand services = ParseScriptLine("services \t WireGuardTunnel$my office \r");
  EXPECT_EQ(services.kind, Kind::kServices);
  EXPECT_EQ(services.text, "WireGuardTunnel$my office");
  EXPECT_EQ(ParseScriptLine("services").reason, "services needs a name prefix");
  EXPECT_EQ(ParseScriptLine("note  after  start \r").text, "after  start");
  EXPECT_EQ(ParseScriptLine("note").text, "");
  EXPECT_EQ(ServiceStateName(1), "STOPPED");
  EXPECT_EQ(ServiceStateName(4), "RUNNING");
  EXPECT_EQ(ServiceStateName(7), "PAUSED");
  EXPECT_EQ(ServiceStateName(0), "0");
  EXPECT_EQ(ServiceStateName(8), "8");
}

TEST(StandinScriptTest, ATimedTranscriptStartsEveryLineWithTheClock) {
  const std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) / "standin-timed-transcript.txt";
  {
    Transcript transcript(std::fopen(path.string().c_str(), "wb"));
    EXPECT_FALSE(transcript.Timed());
    transcript.WriteLine("engine");
    uint64_t now = 1765083000120;
    transcript.SetClock([&now] { return now++; });
    EXPECT_TRUE(transcript.Timed());
    transcript.WriteLine("sending a/b");
    transcript.WriteLine("reply a/b 00");
    transcript.SetClock(nullptr);
    transcript.WriteLine("end");
  }
  std::ostringstream written;
  written << std::ifstream(path, std::ios::binary).rdbuf();
  std::filesystem::remove(path);
  EXPECT_EQ(written.str(), "engine\n1765083000120 sending a/b\n1765083000121 reply a/b 00\nend\n");
}

TEST(StandinScriptTest, ReadsWindowCommandsWithDecimalAndHexadecimalNumbers) {
  using Action = ScriptCommand::WindowAction;
  const ScriptCommand send = ParseScriptLine("window send 0x02E0 0x00780078 -1\r");
  EXPECT_EQ(send.window_action, Action::kSend);
  EXPECT_EQ(send.numbers, (std::vector<int64_t>{0x02E0, 0x00780078, -1}));
  const ScriptCommand moved = ParseScriptLine("window dpichanged 120 -10 0 1600 900");
  EXPECT_EQ(moved.window_action, Action::kDpiChanged);
  EXPECT_EQ(moved.numbers, (std::vector<int64_t>{120, -10, 0, 1600, 900}));
  EXPECT_EQ(ParseScriptLine("window resize 1000 700").window_action, Action::kResize);
  EXPECT_EQ(ParseScriptLine("window focus").window_action, Action::kFocus);
  // A negative DPI or message is no number of this command.
  EXPECT_EQ(ParseScriptLine("window dpichanged -120 0 0 1 1").reason,
            "usage: window dpichanged <dpi> <left> <top> <right> <bottom>");
  EXPECT_EQ(ParseScriptLine("window send -6 1 0").kind, Kind::kError);
}

TEST(StandinScriptTest, TheEngineLineQuotesAndEscapesWhatReachedTheEngine) {
  const char* arguments[] = {"--word", "two \"quoted\" words", "", "back\\slash\r\n"};
  EXPECT_EQ(
      EngineLine("data\\flutter_assets", "data\\icudtl.dat", "data\\app.so", "", 4, arguments),
      "engine assets \"data\\\\flutter_assets\" icu \"data\\\\icudtl.dat\" aot \"data\\\\app.so\" "
      "entrypoint \"\" arguments 4 \"--word\" \"two \\\"quoted\\\" words\" \"\" \"back\\\\slash\\r\\n\"");
  EXPECT_EQ(EngineLine("", "", "", nullptr, 0, nullptr),
            "engine assets \"\" icu \"\" aot \"\" entrypoint null arguments 0 null");
  const char* with_null[] = {nullptr};
  EXPECT_EQ(EngineLine("a", "i", "o", "main", 1, with_null),
            "engine assets \"a\" icu \"i\" aot \"o\" entrypoint \"main\" arguments 1 null");
}

TEST(StandinScriptTest, SplitsScriptLinesAndWritesTranscriptLines) {
  EXPECT_EQ(SplitScriptLines("\xEF\xBB\xBF"
                             "close\r\n\r\nend\n"),
            (std::vector<std::string>{"close\r", "\r", "end"}));
  EXPECT_EQ(ChannelLine("reply", "a/b", {0x00, 0x07, 0xAB}), "reply a/b 0007ab");
  EXPECT_EQ(ChannelLine("reply", "a/b", {}), "reply a/b");
  EXPECT_EQ(DialogLine("C:\\x", "one\r\ntwo"), "dialog C:\\\\x | one\\r\\ntwo");
  EXPECT_EQ(ProcessReportLine({412, std::nullopt, std::nullopt, 9, 5000000000, 0}),
            "process handles 412 gdi - user - threads 9 committed 5000000000 working 0");
  EXPECT_EQ(ProcessReportLine({std::nullopt, 31, 17, std::nullopt, std::nullopt, std::nullopt}),
            "process handles - gdi 31 user 17 threads - committed - working -");
}

}  // namespace
}  // namespace standin
