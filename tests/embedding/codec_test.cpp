// Values: their order, their bytes in the standard codec and back, what odd
// or hostile bytes read as; reply envelopes.

#include <gtest/gtest.h>

#include <limits>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_method_codec.h"
#include "tests/support/hex_bytes.h"

namespace flutter {
namespace {

constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";
const std::string kTwoInvalidReads = std::string(kInvalidRead) + kInvalidRead;
constexpr char kTooDeep[] =
    "Message nested too deeply in StandardCodecSerializer::ReadValueOfType; the rest reads as null\n";

std::string Repeat(const std::string& text, size_t times) {
  std::string repeated;
  while (times-- > 0) repeated += text;
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
Outcome Decode(const std::string& hex) {
  const std::vector<uint8_t> bytes = Bytes(hex);
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return Captured(
      [&reader] { return Hex(Encode(StandardCodecSerializer::GetInstance().ReadValue(&reader))); });
}

bool Equivalent(const EncodableValue& a, const EncodableValue& b) { return !(a < b) && !(b < a); }

// Map keys: a broken order would let a hostile message's map lose or confuse entries.
TEST(EncodableValueTest, TheAlternativeDecidesTheOrderThenTheContents) {
  EncodableValue text(true);
  text = "zzz";  // a string, not the bool a pointer converts to
  const double nan = std::numeric_limits<double>::quiet_NaN();
  // Ascending, each row against the next: the alternatives in index order
  // (the contents alone would order most the other way round), then pairs.
  // clang-format off
  const std::vector<EncodableValue> ascending = {EncodableValue(), true, int32_t{5}, int64_t{1}, 9.5, text,
      std::vector<uint8_t>{0}, std::vector<int32_t>{9}, std::vector<int64_t>{0}, std::vector<double>{9},
      EncodableList{true}, EncodableMap{}, CustomValue(7), std::vector<float>{0},
      false, true, int32_t{-1}, int32_t{0}, -1.0, 0.0, "A", "ab", "abc", "b", "\xC3",  // unsigned bytes
      std::vector<uint8_t>{0x41}, std::vector<uint8_t>{0xC3}, std::vector<int32_t>{-1}, std::vector<int32_t>{0},
      std::vector<double>{nan, 1.0}, std::vector<double>{0.0, 2.0},  // unordered: the next position decides
      std::vector<float>{1.0f}, std::vector<float>{1.0f, 0.0f},
      EncodableList{int32_t{1}}, EncodableList{int32_t{1}, EncodableValue()},
      EncodableMap{{"k", int32_t{1}}}, EncodableMap{{"k", int32_t{2}}}, EncodableMap{{"l", int32_t{0}}}};
  // clang-format on
  for (size_t i = 0; i + 1 < ascending.size(); ++i) {
    if (i < 13 || ascending[i].index() == ascending[i + 1].index()) {
      EXPECT_TRUE(ascending[i] < ascending[i + 1] && !(ascending[i + 1] < ascending[i])) << i;
    }
  }
  EXPECT_TRUE(Equivalent(nan, 1.0) && Equivalent(-0.0, 0.0));
  EXPECT_EQ((EncodableMap{{int32_t{1}, "small"}, {int64_t{1}, "wide"}, {nan, "a"}, {nan, "b"}}).size(), 3u);
  // Custom values are the same only when they are the same object; copies are deep.
  const EncodableValue custom(CustomValue(std::string("same")));
  EXPECT_FALSE(Equivalent(custom, EncodableValue(CustomValue(std::string("same")))) ||
               Equivalent(custom, EncodableValue(custom)));
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
      // clang-format off
      {EncodableValue(), "00"}, {true, "01"}, {false, "02"}, {"abc", "07 03 61 62 63"}, {"", "07 00"},
      // clang-format on
      {int32_t{5}, "03 05 00 00 00"},
      {int64_t{-2}, "04 FE FF FF FF FF FF FF FF"},
      {1.0, "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},  // padding counts the type byte
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
      // Past the limit the rest of the message reads as null: the 32-bit 5 is never read.
      {"0C 02 " + lists + "0C 01 0C 00 03 05 00 00 00", {"0C 02 " + lists + "00 00", kTooDeep}},
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
  for (const auto& [hex, read] : cases) EXPECT_EQ(Decode(hex), read) << hex.substr(0, 60);
}

TEST(MethodCodecTest, RepliesEncodeByteForByte) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const EncodableValue yes(true), one(1.0), seven(int32_t{7});
  const std::vector<std::pair<std::vector<uint8_t>, std::string>> encoded = {
      {*codec.EncodeSuccessEnvelope(), "00 00"},
      {*codec.EncodeSuccessEnvelope(&yes), "00 01"},
      // The flag byte counts towards the double's padding.
      {*codec.EncodeSuccessEnvelope(&one), "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {*codec.EncodeErrorEnvelope("E"), "01 07 01 45 00 00"},
      {*codec.EncodeErrorEnvelope("E", "m"), "01 07 01 45 07 01 6D 00"},
      {*codec.EncodeErrorEnvelope("E", "", &seven), "01 07 01 45 00 03 07 00 00 00"},
  };
  for (const auto& [bytes, hex] : encoded) EXPECT_EQ(Hex(bytes), hex);
}

}  // namespace
}  // namespace flutter
