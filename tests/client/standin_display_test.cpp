// What the stand-in's view shows of the scripted Flutter side: messages of
// the standard codecs as display text, and the log the view paints.

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "standins/engine/script_display.h"
#include "tests/client/client_test_support.h"

namespace standin {
namespace {

using flutter::Bytes;
using flutter::EncodableList;
using flutter::EncodableMap;
using flutter::EncodableValue;
using std::chrono::milliseconds;

const std::string kEllipsis = "\xE2\x80\xA6";

// The standard codec's string value, for messages built by hand in a chosen
// key order.
void AppendString(std::vector<uint8_t>& bytes, const std::string& text) {
  bytes.push_back(0x07);
  if (text.size() < 254) {
    bytes.push_back(static_cast<uint8_t>(text.size()));
  } else {
    bytes.push_back(254);
    bytes.push_back(static_cast<uint8_t>(text.size() & 0xFF));
    bytes.push_back(static_cast<uint8_t>(text.size() >> 8));
  }
  bytes.insert(bytes.end(), text.begin(), text.end());
}

std::vector<uint8_t> Joined(std::vector<uint8_t> bytes, const std::string& text) {
  bytes.insert(bytes.end(), text.begin(), text.end());
  return bytes;
}

std::vector<uint8_t> Call(const std::string& method, const EncodableValue& arguments) {
  return *flutter::StandardMethodCodec::GetInstance().EncodeMethodCall(
      flutter::MethodCall<>(method, std::make_unique<EncodableValue>(arguments)));
}

TEST(StandinDisplayTest, MethodCallsShowTheirNameAndDecodedArguments) {
  // startTunnel as the Flutter side sends it: the configuration is cut at
  // its first line end and shown with its length.
  std::string config = "[Interface]\nPrivateKey = ";
  config.resize(281, 'k');
  std::vector<uint8_t> start = {0x07, 0x0B};
  start.insert(start.end(), {'s', 't', 'a', 'r', 't', 'T', 'u', 'n', 'n', 'e', 'l', 0x0D, 0x02});
  AppendString(start, "networkId");
  AppendString(start, "office");
  AppendString(start, "config");
  AppendString(start, config);
  EXPECT_EQ(SendingLine(start),
            (DisplayLine{DisplayTone::kCall,
                         "\xE2\x86\x92 startTunnel {\"networkId\": \"office\", \"config\": "
                         "\"[Interface]\"" +
                             kEllipsis + " (281 bytes)}"}));
  EXPECT_EQ(DescribeMethodCall(Bytes("07 0B 69 73 43 6F 6E 6E 65 63 74 65 64 00")), "isConnected");

  const EncodableValue every_kind = EncodableList{
      EncodableValue(-7),
      EncodableValue(int64_t{5000000000}),
      EncodableValue(1.5),
      EncodableValue(0.1),
      EncodableValue(true),
      EncodableValue(),
      EncodableValue(std::vector<uint8_t>{0x01, 0xAB}),
      EncodableValue(std::vector<int32_t>{-1, 2}),
      EncodableValue(std::vector<int64_t>{3}),
      EncodableValue(std::vector<double>{2.0}),
      EncodableValue(std::vector<float>{0.25f}),
  };
  EXPECT_EQ(DescribeMethodCall(Call("probe", every_kind)),
            "probe [-7, 5000000000, 1.5, 0.1, true, null, bytes[01 ab], int32[-1, 2], " + kEllipsis +
                " (11 items)]");
  EXPECT_EQ(DescribeMethodCall(Call("typed", EncodableList{EncodableValue(std::vector<double>{2.0}),
                                                           EncodableValue(std::vector<float>{0.25f, 0.1f})})),
            "typed [float64[2.0], float32[0.25, 0.1]]");
  // A large integer: its digits as they came.
  EXPECT_EQ(DescribeValue(Joined(Bytes("05 03"), "-12")), "-12");
  EXPECT_EQ(DescribeMethodCall(Call("quote", EncodableValue("say \"hi\"\t\\"))),
            "quote \"say \\\"hi\\\"\\t\\\\\"");
}

TEST(StandinDisplayTest, BytesThatAreNoMethodCallAreShownAsShortenedHex) {
  EXPECT_EQ(DescribeMethodCall({}), "no bytes");
  EXPECT_EQ(DescribeMethodCall(Bytes("01 02")), "hex 01 02");
  // A name running past the end, trailing bytes, a method name that is no
  // string, an unknown type.
  EXPECT_EQ(DescribeMethodCall(Bytes("07 09 61 62")), "hex 07 09 61 62");
  EXPECT_EQ(DescribeMethodCall(Bytes("07 01 61 00 00")), "hex 07 01 61 00 00");
  EXPECT_EQ(DescribeMethodCall(Bytes("03 01 00 00 00 00")), "hex 03 01 00 00 00 00");
  EXPECT_EQ(DescribeMethodCall(Bytes("07 01 61 0F")), "hex 07 01 61 0f");
  // A list claiming 4 billion items, and nesting no message has.
  EXPECT_EQ(DescribeMethodCall(Bytes("07 01 61 0C FF FF FF FF FF")), "hex 07 01 61 0c ff ff ff ff ff");
  std::vector<uint8_t> deep = Bytes("07 01 61");
  for (int i = 0; i < 100; ++i) {
    deep.insert(deep.end(), {0x0C, 0x01});
  }
  deep.push_back(0x00);
  EXPECT_EQ(DescribeMethodCall(deep).rfind("hex 07 01 61 0c", 0), 0u);
  const std::vector<uint8_t> long_garbage(40, 0xEE);
  EXPECT_EQ(DescribeMethodCall(long_garbage),
            "hex ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee ee " + kEllipsis + " (40 bytes)");
}

TEST(StandinDisplayTest, RepliesShowTheirOutcomeAndElapsedTime) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const EncodableValue yes(true);
  EXPECT_EQ(OutcomeLine(SendOutcome::kReply, *codec.EncodeSuccessEnvelope(&yes), milliseconds(12)),
            (DisplayLine{DisplayTone::kSuccess, "\xE2\x86\x90 success true  (12 ms)"}));
  EXPECT_EQ(OutcomeLine(SendOutcome::kReply, *codec.EncodeSuccessEnvelope(), milliseconds(0)).text,
            "\xE2\x86\x90 success null  (0 ms)");
  EXPECT_EQ(
      OutcomeLine(SendOutcome::kReply,
                  *codec.EncodeErrorEnvelope("TUNNEL_FAILED", "the service did not start"), milliseconds(3)),
      (DisplayLine{DisplayTone::kError,
                   "\xE2\x86\x90 error TUNNEL_FAILED the service did not start  (3 ms)"}));
  const EncodableValue details(EncodableMap{{EncodableValue("exit"), EncodableValue(2)}});
  EXPECT_EQ(
      OutcomeLine(SendOutcome::kLateReply, *codec.EncodeErrorEnvelope("E", "", &details), milliseconds(9))
          .text,
      "\xE2\x86\x90 error E {\"exit\": 2}  (late, 9 ms)");
  // An error without a message, and one with a stack trace after its details.
  EXPECT_EQ(OutcomeLine(SendOutcome::kReply, Bytes("01 07 01 45 00 00"), milliseconds(1)).text,
            "\xE2\x86\x90 error E  (1 ms)");
  EXPECT_EQ(OutcomeLine(SendOutcome::kReply, Bytes("01 07 01 45 00 00 07 01 73"), milliseconds(1)).text,
            "\xE2\x86\x90 error E  (1 ms)");
  EXPECT_EQ(OutcomeLine(SendOutcome::kReply, {}, milliseconds(1)),
            (DisplayLine{DisplayTone::kQuiet, "\xE2\x86\x90 not implemented  (1 ms)"}));
  EXPECT_EQ(OutcomeLine(SendOutcome::kUnhandled, {}, milliseconds(0)),
            (DisplayLine{DisplayTone::kQuiet, "\xE2\x86\x90 unhandled  (0 ms)"}));
  EXPECT_EQ(OutcomeLine(SendOutcome::kNoReply, {}, milliseconds(120000)),
            (DisplayLine{DisplayTone::kError, "\xE2\x86\x90 no reply  (120000 ms)"}));
  // No envelope: a success with bytes after its value, an unknown kind, an
  // error whose code is no string.
  for (const char* hex : {"00 01 01", "02 00", "01 03 00 00 00 00 00 00"}) {
    EXPECT_EQ(OutcomeLine(SendOutcome::kReply, Bytes(hex), milliseconds(5)),
              (DisplayLine{DisplayTone::kQuiet, "\xE2\x86\x90 hex " + flutter::Hex(Bytes(hex)) + "  (5 ms)"}))
        << hex;
  }
}

TEST(StandinDisplayTest, LongTextsAndCollectionsAreShortened) {
  // Cut at 32 bytes, never inside a character: "€" takes three.
  std::string euros;
  for (int i = 0; i < 20; ++i) {
    euros += "\xE2\x82\xAC";
  }
  EXPECT_EQ(DescribeValue(Joined(Bytes("07 3C"), euros)),
            "\"" + euros.substr(0, 30) + "\"" + kEllipsis + " (60 bytes)");
  const std::string forty(40, 'x');
  std::vector<uint8_t> forty_bytes = Joined(Bytes("07 28"), forty);
  EXPECT_EQ(DescribeValue(forty_bytes), "\"" + forty + "\"");
  forty_bytes[1] = 0x29;
  forty_bytes.push_back('y');
  EXPECT_EQ(DescribeValue(forty_bytes), "\"" + std::string(32, 'x') + "\"" + kEllipsis + " (41 bytes)");

  EncodableMap many;
  for (int i = 0; i < 10; ++i) {
    many[EncodableValue(i)] = EncodableValue(i * i);
  }
  EXPECT_EQ(DescribeMethodCall(Call("m", many)),
            "m {0: 0, 1: 1, 2: 4, 3: 9, 4: 16, 5: 25, 6: 36, 7: 49, " + kEllipsis + " (10 entries)}");
  // A large integer of 1000 digits is cut like a long text.
  EXPECT_EQ(DescribeValue(Joined(Bytes("05 FE E8 03"), std::string(1000, '9'))),
            std::string(32, '9') + kEllipsis + " (1000 bytes)");
  EXPECT_EQ(DescribeMethodCall(Call("b", EncodableValue(std::vector<uint8_t>(300, 0x5A)))),
            "b bytes[5a 5a 5a 5a 5a 5a 5a 5a, " + kEllipsis + " (300 items)]");

  // However many long texts a value holds, what is shown stays short.
  EncodableList texts;
  for (int i = 0; i < 8; ++i) {
    EncodableList inner;
    for (int j = 0; j < 8; ++j) {
      inner.push_back(EncodableValue(std::string(100, static_cast<char>('a' + j))));
    }
    texts.push_back(EncodableValue(inner));
  }
  const std::string shown = DescribeMethodCall(Call("t", texts));
  EXPECT_LT(shown.size(), 500u) << shown;
  EXPECT_EQ(shown.substr(shown.size() - kEllipsis.size()), kEllipsis);
  EXPECT_EQ(shown.rfind("t [[\"aaaa", 0), 0u) << shown;
}

TEST(StandinDisplayTest, TheLogKeepsTheNewestLinesAndTellsTheViewOfEveryChange) {
  ViewLog without_script(false);
  EXPECT_EQ(without_script.Take().status, "no script \xC2\xB7 engine stand-in, frame 0");

  ViewLog log(true);
  int changes = 0;
  log.SetChanged([&changes] { ++changes; });
  log.SetFrame(1);
  EXPECT_EQ(log.Take().status, "script running \xC2\xB7 engine stand-in, frame 1");
  log.Sending("tarvex/windows_vpn", Bytes("07 0B 69 73 43 6F 6E 6E 65 63 74 65 64 00"));
  log.SendEnded(SendOutcome::kReply, Bytes("00 02"), milliseconds(4));
  log.Noted("after start");
  log.Noted("");
  ServiceListing listing;
  log.ServicesListed("WireGuardTunnel$", listing);
  listing.services = {{"WireGuardTunnel$home", 1}, {"WireGuardTunnel$office", 4}};
  log.ServicesListed("WireGuardTunnel$", listing);
  log.ServicesListed("X", ServiceListing{5, {}});
  log.ProcessReported("process handles 90 gdi - user - threads 7 committed 4096 working 8192");
  log.LineRefused(7, "unknown command \"frobnicate\"");
  log.ScriptEnded();
  EXPECT_EQ(changes, 11);

  const ViewLog::Snapshot snapshot = log.Take();
  EXPECT_EQ(snapshot.status, "script ended \xC2\xB7 engine stand-in, frame 1");
  const std::vector<DisplayLine> expected = {
      {DisplayTone::kCall, "\xE2\x86\x92 isConnected"},
      {DisplayTone::kSuccess, "\xE2\x86\x90 success false  (4 ms)"},
      {DisplayTone::kNote, "\xE2\x80\x94 after start \xE2\x80\x94"},
      {DisplayTone::kNote, "\xE2\x80\x94"},
      {DisplayTone::kService, "services WireGuardTunnel$: none"},
      {DisplayTone::kService, "service WireGuardTunnel$home STOPPED"},
      {DisplayTone::kService, "service WireGuardTunnel$office RUNNING"},
      {DisplayTone::kError, "services X: error 5"},
      {DisplayTone::kService, "process handles 90 gdi - user - threads 7 committed 4096 working 8192"},
      {DisplayTone::kError, "script line 7: unknown command \"frobnicate\""},
  };
  EXPECT_EQ(snapshot.lines, expected);

  // A long run keeps only the newest lines.
  log.SetChanged(nullptr);
  for (size_t i = 0; i < ViewLog::kKeptLines + 5; ++i) {
    log.Noted(std::to_string(i));
  }
  const ViewLog::Snapshot later = log.Take();
  ASSERT_EQ(later.lines.size(), ViewLog::kKeptLines);
  EXPECT_EQ(later.lines.front().text, "\xE2\x80\x94 5 \xE2\x80\x94");
  EXPECT_EQ(later.lines.back().text,
            "\xE2\x80\x94 " + std::to_string(ViewLog::kKeptLines + 4) + " \xE2\x80\x94");
  EXPECT_EQ(changes, 11);
}

}  // namespace
}  // namespace standin
