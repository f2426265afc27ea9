#include <optional>

#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

constexpr char kTooDeep[] =
    "Message nested too deeply in StandardCodecSerializer::ReadValueOfType; the rest reads as null\n";

struct UntellingReader : ByteBufferStreamReader {
  using ByteBufferStreamReader::ByteBufferStreamReader;
  std::optional<size_t> RemainingBytes() const override { return std::nullopt; }
};

TEST(CodecHostileInputTest, CountsBeyondTheInputReadAsNullWithOneLineUnlessTheReaderCannotTell) {
  // Six bytes declaring 4,294,967,295 elements; one element or entry short; a
  // typed list that fits before its padding only.
  for (const char* hex : {"07 FF FF FF FF FF", "08 FF FF FF FF FF", "09 FF FF FF FF FF", "0B FF FF FF FF FF",
                          "0C FF FF FF FF FF", "0D FF FF FF FF FF", "07 03 61 62", "0C 03 00 00",
                          "0D 02 00 00 00", "09 01 AA BB CC DD"}) {
    EXPECT_EQ(Decode(hex), Outcome("00", kInvalidRead)) << hex;
  }
  // The inner list fits alone, not with what the outer list or map still promises.
  EXPECT_EQ(Decode("0C 02 0C 02 00 00"), Outcome("0C 02 00 00", kInvalidRead));
  EXPECT_EQ(Decode("0D 01 0C 01 00"), Outcome("0D 01 00 00", kInvalidRead));
  for (const char* hex : {"0C 02 00 00", "0D 01 00 00", "0C 02 0C 01 00 07 01 61", "0D 01 0D 01 00 00 00"}) {
    EXPECT_EQ(Decode(hex), Outcome(hex, "")) << "fits exactly: " << hex;
  }
  // A reader that cannot tell gets its counts trusted: the string keeps its length, filled with zeros.
  const std::vector<uint8_t> bytes = Bytes("07 05 61");
  UntellingReader untelling(bytes.data(), bytes.size());
  EXPECT_EQ(Decode(untelling), Outcome("07 05 00 00 00 00 00", kInvalidRead));
}

TEST(CodecHostileInputTest, EmptyValuesFitEvenWhenTheirSiblingsHaveClaimedEveryByteLeft) {
  const std::string two_missing = std::string(kInvalidRead) + kInvalidRead;
  // Each list's second element, or the map's value, is missing: one line for it.
  ExpectOutcomes({
      {Decode("0C 02 07 00"), {"0C 02 07 00 00", kInvalidRead}},
      {Decode("0C 02 08 00"), {"0C 02 08 00 00", kInvalidRead}},
      {Decode("0C 02 0C 00"), {"0C 02 0C 00 00", kInvalidRead}},
      {Decode("0C 02 0D 00"), {"0C 02 0D 00 00", kInvalidRead}},
      {Decode("0C 02 09 00"), {"0C 02 09 00 00", kInvalidRead}},
      {Decode("0C 02 0E 00"), {"0C 02 0E 00 00", kInvalidRead}},
      {Decode("0D 01 07 00"), {"0D 01 07 00 00", kInvalidRead}},
      // Padding to 8 runs past the end: one more line, and the list is still empty.
      {Decode("0C 02 0A 00"), {"0C 02 0A 00 00", two_missing}},
      {Decode("0C 02 0B 00"), {"0C 02 0B 00 00", two_missing}},
  });
}

TEST(CodecHostileInputTest, TwoHundredFiftySixContainersNestAndTheNextReadsAsNull) {
  const std::string lists = Repeat("0C 01 ", 255);
  const std::string maps = Repeat("0D 01 00 ", 255);
  const std::vector<std::pair<std::string, Outcome>> cases = {
      {lists + "0C 00", {lists + "0C 00", ""}},
      {lists + "0C 01 0C 00", {lists + "0C 01 00", kTooDeep}},
      {maps + "0D 00", {maps + "0D 00", ""}},
      {maps + "0D 01 00 0D 00", {maps + "0D 01 00 00", kTooDeep}},
      {Repeat("0C 01 ", 100000), {lists + "0C 01 00", kTooDeep}},
  };
  for (const auto& [hex, outcome] : cases) {
    const std::vector<uint8_t> bytes = Bytes(hex);
    UntellingReader untelling(bytes.data(), bytes.size());
    EXPECT_EQ(Decode(hex), outcome) << bytes.size() << " bytes";
    EXPECT_EQ(Decode(untelling), outcome) << bytes.size() << " bytes, reader that cannot tell";
  }
}

TEST(CodecHostileInputTest, TooDeepLeavesTheRestOfTheMessageUnread) {
  // The outer list is the first level, so its first element is 257 deep;
  // its second element, the 32-bit 5, is never read.
  const std::vector<uint8_t> bytes = Bytes("0C 02 " + Repeat("0C 01 ", 256) + "0C 00 03 05 00 00 00");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EXPECT_EQ(Decode(reader), Outcome("0C 02 " + Repeat("0C 01 ", 255) + "00 00", kTooDeep));
  EXPECT_EQ(Decode(reader), Outcome("00", ""));
  // Unread: the too-deep list's size, the empty list and the integer.
  EXPECT_EQ(reader.RemainingBytes(), 8u);
}

}  // namespace
}  // namespace flutter
