// Values: their order, their bytes in the standard codec and back, what odd
// or hostile bytes read as; method calls and reply envelopes.

#include <gtest/gtest.h>

#include <limits>
#include <variant>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_method_codec.h"
#include "tests/support/hex_bytes.h"

namespace flutter {
namespace {

constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";
const std::string kTwoInvalidReads = std::string(kInvalidRead) + kInvalidRead;
constexpr char kTooDeep[] =
    "Message nested too deeply in StandardCodecSerializer::ReadValueOfType; the rest reads as null\n";
const std::string kIsConnectedCall = "07 0B 69 73 43 6F 6E 6E 65 63 74 65 64 00";

std::string Repeat(const std::string& text, size_t times) {
  std::string repeated;
  while (times-- > 0) {
    repeated += text;
  }
  return repeated;
}

std::vector<uint8_t> Encode(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

// What an operation gave, as text, and what it printed on the standard error stream.
using Outcome = std::pair<std::string, std::string>;

template <typename Operation>
Outcome Captured(Operation operation) {
  testing::internal::CaptureStderr();
  const std::string gave = operation();
  return {gave, testing::internal::GetCapturedStderr()};
}

// Reads one value and shows it as the bytes it encodes to.
Outcome Decode(ByteStreamReader& reader) {
  return Captured(
      [&reader] { return Hex(Encode(StandardCodecSerializer::GetInstance().ReadValue(&reader))); });
}

Outcome Decode(const std::string& hex) {
  const std::vector<uint8_t> bytes = Bytes(hex);
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return Decode(reader);
}

bool Equivalent(const EncodableValue& a, const EncodableValue& b) { return !(a < b) && !(b < a); }

// Map keys: a broken order would let a hostile message's map lose or confuse entries.
TEST(EncodableValueTest, TheAlternativeDecidesTheOrderThenTheContents) {
  EncodableValue text(true);
  text = "zzz";  // a string, not the bool a pointer converts to
  // The contents alone would order most of these the other way round.
  // clang-format off
  const std::vector<EncodableValue> by_index = {EncodableValue(), true, int32_t{5}, int64_t{1}, 9.5, text,
      std::vector<uint8_t>{0}, std::vector<int32_t>{9}, std::vector<int64_t>{0}, std::vector<double>{9},
      EncodableList{true}, EncodableMap{}, CustomValue(7), std::vector<float>{0}};
  // clang-format on
  for (size_t i = 0; i < by_index.size(); ++i) {
    EXPECT_EQ(by_index[i].index(), i);
    for (size_t j = i + 1; j < by_index.size(); ++j) {
      EXPECT_TRUE(by_index[i] < by_index[j] && !(by_index[j] < by_index[i])) << i << " < " << j;
    }
  }
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<EncodableValue, EncodableValue>> ordered = {
      {false, true},
      {int32_t{-1}, int32_t{0}},
      {-1.0, 0.0},
      {"ab", "abc"},
      {"abc", "b"},
      {"A", "\xC3"},  // unsigned bytes
      {std::vector<uint8_t>{0x41}, std::vector<uint8_t>{0xC3}},
      {std::vector<int32_t>{-1}, std::vector<int32_t>{0}},
      {std::vector<double>{nan, 1.0}, std::vector<double>{0.0, 2.0}},  // unordered: the next position decides
      {std::vector<float>{1.0f}, std::vector<float>{1.0f, 0.0f}},
      {EncodableList{int32_t{1}}, EncodableList{int32_t{1}, EncodableValue()}},
      {EncodableMap{{"k", int32_t{1}}}, EncodableMap{{"k", int32_t{2}}}},
      {EncodableMap{{"k", int32_t{2}}}, EncodableMap{{"l", int32_t{0}}}},
  };
  for (size_t i = 0; i < ordered.size(); ++i) {
    EXPECT_TRUE(ordered[i].first < ordered[i].second && !(ordered[i].second < ordered[i].first)) << i;
  }
  EXPECT_TRUE(Equivalent(nan, 1.0) && Equivalent(-0.0, 0.0));
  EXPECT_EQ((EncodableMap{{int32_t{1}, "small"}, {int64_t{1}, "wide"}, {nan, "a"}, {nan, "b"}}).size(), 3u);
  // Custom values are the same only when they are the same object; copies are deep.
  const EncodableValue custom(CustomValue(std::string("same")));
  EXPECT_FALSE(Equivalent(custom, EncodableValue(CustomValue(std::string("same")))));
  EXPECT_FALSE(Equivalent(custom, EncodableValue(custom)));

  // Each level compared twice would double the work per level: at this depth
  // the comparison would never finish, and the suite's time limit fails it.
  EncodableValue a(int32_t{1});
  EncodableValue b(int32_t{1});
  for (int depth = 0; depth < 200; ++depth) {
    a = EncodableValue(EncodableList{a});
    b = EncodableValue(EncodableList{b});
  }
  EXPECT_TRUE(EncodableValue(EncodableList{a}) < EncodableValue(EncodableList{b, EncodableValue()}));
}

TEST(CodecTest, EachAlternativeEncodesToItsBytesAndReadsBack) {
  const std::vector<std::pair<EncodableValue, std::string>> cases = {
      {EncodableValue(), "00"},
      {true, "01"},
      {false, "02"},
      {int32_t{5}, "03 05 00 00 00"},
      {int64_t{-2}, "04 FE FF FF FF FF FF FF FF"},
      {1.0, "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},  // padding counts the type byte
      {"abc", "07 03 61 62 63"},
      {"", "07 00"},
      {std::string(254, 'x'), "07 FE FE 00" + Repeat(" 78", 254)},
      {std::string(65535, 'x'), "07 FE FF FF" + Repeat(" 78", 65535)},
      {std::string(65536, 'x'), "07 FF 00 00 01 00" + Repeat(" 78", 65536)},
      {std::vector<uint8_t>{0x01, 0xFF}, "08 02 01 FF"},
      {std::vector<int32_t>{1}, "09 01 00 00 01 00 00 00"},
      {std::vector<int64_t>{1}, "0A 01 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
      {std::vector<double>{-2.0}, "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 00 C0"},
      {std::vector<float>{1.0f}, "0E 01 00 00 00 00 80 3F"},
      {EncodableList{int32_t{1}, EncodableValue()}, "0C 02 03 01 00 00 00 00"},
      {EncodableMap{{"a", int32_t{1}}}, "0D 01 07 01 61 03 01 00 00 00"},
  };
  for (const auto& [value, hex] : cases) {
    EXPECT_EQ(Hex(Encode(value)), hex);
    EXPECT_EQ(Decode(hex), Outcome(hex, ""));
  }
  // An empty typed list is written without padding; a custom value travels as null.
  EXPECT_EQ(Hex(Encode(EncodableList{true, std::vector<int32_t>{}, int32_t{5}})),
            "0C 03 01 09 00 03 05 00 00 00");
  EXPECT_EQ(Captured([] {
              return Hex(Encode(EncodableList{CustomValue(3), true}));
            }),
            Outcome("0C 02 00 01",
                    "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                    "Custom types require codec extensions.\n"));
}

TEST(CodecTest, OddAndHostileBytesReadAsTheFormatSaysWithOneLinePerFault) {
  const std::string lists = Repeat("0C 01 ", 255);
  const std::string maps = Repeat("0D 01 00 ", 255);
  std::vector<std::pair<std::string, Outcome>> cases = {
      {"05 02 31 32", {"07 02 31 32", ""}},  // never written, read as a string
      // An unknown type consumes no payload: the 32-bit 5 after it still reads.
      {"0C 02 0F 03 05 00 00 00",
       {"0C 02 00 03 05 00 00 00", "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n"}},
      {"FF", {"00", "Unknown type in StandardCodecSerializer::ReadValueOfType: 255\n"}},
      // The first occurrence of a key wins, also out of key order.
      {"0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00", {"0D 01 07 01 61 03 01 00 00 00", ""}},
      {"0D 03 07 01 62 03 01 00 00 00 07 01 61 03 02 00 00 00 07 01 62 03 03 00 00 00",
       {"0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00", ""}},
      // The reader pads from its own location: the double sits at 8, not 16.
      {"0C 02 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F",
       {"0C 02 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F", ""}},
      {"0C 03 01 09 00 00 00 00 03 05 00 00 00", {"0C 03 01 09 00 03 05 00 00 00", ""}},
      // The writer's own empty typed list: padding swallows 03 05 00 and the last 00 reads as null.
      {"0C 03 01 09 00 03 05 00 00 00", {"0C 03 01 09 00 00", ""}},
      {"09 00", {"09 00", kInvalidRead}},  // the padding runs past the end
      // Truncated values read as zero, one line per failed read.
      {"", {"00", kInvalidRead}},
      {"03 01 02", {"03 00 00 00 00", kInvalidRead}},
      {"04 01 02 03 04 05 06 07", {"04 00 00 00 00 00 00 00 00", kInvalidRead}},
      {"06 00 00 00 00 00 00 00 00 00", {"06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", kInvalidRead}},
      {"07 FE 2C", {"07 00", kInvalidRead}},  // the wider size forms start from 0
      // A failed read leaves the location, so the next value reads the 01.
      {"0C 02 03 01 02", {"0C 02 03 00 00 00 00 01", kInvalidRead}},
      // The inner list fits alone, not with what the outer list or map still promises.
      {"0C 02 0C 02 00 00", {"0C 02 00 00", kInvalidRead}},
      {"0D 01 0C 01 00", {"0D 01 00 00", kInvalidRead}},
      // Padding to 8 runs past the end: one more line, and the list is still empty.
      {"0C 02 0A 00", {"0C 02 0A 00 00", kTwoInvalidReads}},
      {"0C 02 0B 00", {"0C 02 0B 00 00", kTwoInvalidReads}},
      // 256 containers nest; the next reads as null.
      {lists + "0C 00", {lists + "0C 00", ""}},
      {lists + "0C 01 0C 00", {lists + "0C 01 00", kTooDeep}},
      {maps + "0D 00", {maps + "0D 00", ""}},
      {maps + "0D 01 00 0D 00", {maps + "0D 01 00 00", kTooDeep}},
      {Repeat("0C 01 ", 100000), {lists + "0C 01 00", kTooDeep}},
  };
  // Counts beyond the input read as null: 4,294,967,295 elements; one short;
  // a typed list that fits before its padding only.
  for (const char* hex : {"07 FF FF FF FF FF", "08 FF FF FF FF FF", "09 FF FF FF FF FF", "0B FF FF FF FF FF",
                          "0C FF FF FF FF FF", "0D FF FF FF FF FF", "07 03 61 62", "0C 03 00 00",
                          "0D 02 00 00 00", "09 01 AA BB CC DD"}) {
    cases.push_back({hex, {"00", kInvalidRead}});
  }
  for (const char* hex : {"0C 02 00 00", "0D 01 00 00", "0C 02 0C 01 00 07 01 61", "0D 01 0D 01 00 00 00"}) {
    cases.push_back({hex, {hex, ""}});  // fits exactly
  }
  // Empty values fit even when their siblings have claimed every byte left:
  // the list's second element, or the map's value, is missing and reads as null.
  for (const char* hex : {"0C 02 07 00", "0C 02 08 00", "0C 02 0C 00", "0C 02 0D 00", "0C 02 09 00",
                          "0C 02 0E 00", "0D 01 07 00"}) {
    cases.push_back({hex, {hex + std::string(" 00"), kInvalidRead}});
  }
  for (const auto& [hex, read] : cases) {
    EXPECT_EQ(Decode(hex), read) << hex.substr(0, 60);
  }
}

TEST(CodecTest, TooDeepLeavesTheRestOfTheMessageUnread) {
  // The outer list is the first level, so its first element is 257 deep;
  // its second element, the 32-bit 5, is never read.
  const std::vector<uint8_t> bytes = Bytes("0C 02 " + Repeat("0C 01 ", 256) + "0C 00 03 05 00 00 00");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EXPECT_EQ(Decode(reader), Outcome("0C 02 " + Repeat("0C 01 ", 255) + "00 00", kTooDeep));
  EXPECT_EQ(Decode(reader), Outcome("00", ""));
  // Unread: the too-deep list's size, the empty list and the integer.
  EXPECT_EQ(reader.RemainingBytes(), 8u);
}

// Writes down each answer as "[success 01]" or "[error E/m 03 07 00 00 00]".
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::string answers;

 protected:
  void SuccessInternal(const EncodableValue* result) override { answers += "[success" + Shown(result) + "]"; }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answers += "[error " + code + "/" + message + Shown(details) + "]";
  }
  void NotImplementedInternal() override { answers += "[not implemented]"; }
  static std::string Shown(const EncodableValue* value) { return value ? " " + Hex(Encode(*value)) : ""; }
};

// The answers to a reply envelope, "refused" or what was raised.
Outcome Process(const std::string& hex) {
  return Captured([bytes = Bytes(hex)] {
    RecordingResult result;
    try {
      if (!StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(),
                                                                               &result)) {
        result.answers += "refused";
      }
    } catch (const std::bad_variant_access& error) {
      result.answers += std::string("raised ") + error.what();
    }
    return result.answers;
  });
}

// "name(arguments)" or "no call".
Outcome DecodeCall(const std::string& hex) {
  return Captured([&hex] {
    const auto call = StandardMethodCodec::GetInstance().DecodeMethodCall(Bytes(hex));
    return call ? call->method_name() + "(" + (call->arguments() ? Hex(Encode(*call->arguments())) : "none") +
                      ")"
                : "no call";
  });
}

TEST(MethodCodecTest, CallsAndEnvelopesEncodeByteForByteAndDecodeToTheirAnswers) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const EncodableValue yes(true), one(1.0), seven(int32_t{7});
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> encoded = {
      {*codec.EncodeMethodCall(MethodCall<>("isConnected", nullptr)), kIsConnectedCall},
      {*codec.EncodeMethodCall(MethodCall<>("a", std::make_unique<EncodableValue>(seven))),
       "07 01 61 03 07 00 00 00"},
      {*codec.EncodeSuccessEnvelope(), "00 00"},
      {*codec.EncodeSuccessEnvelope(&yes), "00 01"},
      // The flag byte counts towards the double's padding.
      {*codec.EncodeSuccessEnvelope(&one), "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {*codec.EncodeErrorEnvelope("E"), "01 07 01 45 00 00"},
      {*codec.EncodeErrorEnvelope("E", "m"), "01 07 01 45 07 01 6D 00"},
      {*codec.EncodeErrorEnvelope("E", "", &seven), "01 07 01 45 00 03 07 00 00 00"},
  };
  for (const auto& [bytes, hex] : encoded) {
    EXPECT_EQ(Hex(bytes), hex);
  }
  const std::vector<std::pair<Outcome, Outcome>> decoded = {
      // A decoded call always carries arguments.
      {DecodeCall(kIsConnectedCall), {"isConnected(00)", ""}},
      {DecodeCall(kIsConnectedCall.substr(0, kIsConnectedCall.size() - 3)),
       {"isConnected(00)", kInvalidRead}},
      {DecodeCall("07 01 61 03 07 00 00 00"), {"a(03 07 00 00 00)", ""}},
      {DecodeCall("03 01 00 00 00"), {"no call", "Invalid method call; method name is not a string.\n"}},
      {Process("00 00"), {"[success]", ""}},
      {Process("00 01"), {"[success 01]", ""}},
      {Process("01 07 01 45 00 00"), {"[error E/]", ""}},
      {Process("01 07 01 45 07 01 6D 03 07 00 00 00"), {"[error E/m 03 07 00 00 00]", ""}},
      {Process("02 01"), {"refused", ""}},
      // Bytes after the last expected value are ignored.
      {DecodeCall(kIsConnectedCall + " 03 07 00 00 00"), {"isConnected(00)", ""}},
      {Process("00 01 FF 07"), {"[success 01]", ""}},
      {Process("01 07 01 45 00 00 07 01 6D"), {"[error E/]", ""}},
      // The flag of an empty envelope reads as 0, then its value as null.
      {Process(""), {"[success]", kTwoInvalidReads}},
      // A 32-bit code; a 32-bit message.
      {Process("01 03 01 00 00 00 00 00"), {"raised bad variant access", ""}},
      {Process("01 07 01 45 03 01 00 00 00 00"), {"raised bad variant access", ""}},
  };
  for (size_t i = 0; i < decoded.size(); ++i) {
    EXPECT_EQ(decoded[i].first, decoded[i].second) << "case " << i;
  }
}

}  // namespace
}  // namespace flutter
