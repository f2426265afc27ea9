#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

TEST(CodecWireFormatTest, EachAlternativeEncodesToItsBytesAndReadsBack) {
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
      {std::string(300, 'x'), "07 FE 2C 01" + Repeat(" 78", 300)},
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
}

TEST(CodecWireFormatTest, OddInputReadsAsTheFormatSays) {
  ExpectOutcomes({
      {Decode("05 02 31 32"), {"07 02 31 32", ""}},  // never written, read as a string
      // An unknown type consumes no payload: the 32-bit 5 after it still reads.
      {Decode("0C 02 0F 03 05 00 00 00"),
       {"0C 02 00 03 05 00 00 00", "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n"}},
      {Decode("FF"), {"00", "Unknown type in StandardCodecSerializer::ReadValueOfType: 255\n"}},
      // The first occurrence of a key wins, also out of key order.
      {Decode("0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00"),
       {"0D 01 07 01 61 03 01 00 00 00", ""}},
      {Decode("0D 03 07 01 62 03 01 00 00 00 07 01 61 03 02 00 00 00 07 01 62 03 03 00 00 00"),
       {"0D 02 07 01 61 03 02 00 00 00 07 01 62 03 01 00 00 00", ""}},
      // The reader pads from its own location: the double sits at 8, not 16.
      {Decode("0C 02 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F"),
       {"0C 02 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F", ""}},
      // Truncated values read as zero, one line per failed read.
      {Decode(""), {"00", kInvalidRead}},
      {Decode("03 01 02"), {"03 00 00 00 00", kInvalidRead}},
      {Decode("04 01 02 03 04 05 06 07"), {"04 00 00 00 00 00 00 00 00", kInvalidRead}},
      {Decode("06 00 00 00 00 00 00 00 00 00"),
       {"06 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00", kInvalidRead}},
      {Decode("07 FE 2C"), {"07 00", kInvalidRead}},  // the wider size forms start from 0
      // A failed read leaves the location, so the next value reads the 01.
      {Decode("0C 02 03 01 02"), {"0C 02 03 00 00 00 00 01", kInvalidRead}},
  });
}

TEST(CodecWireFormatTest, PaddingCountsFromTheBufferStartAndEmptyTypedListsAreWrittenUnpadded) {
  EXPECT_EQ(Hex(Encode(std::vector<int32_t>{7}, StandardCodecSerializer::GetInstance(), {1, 2, 3})),
            "01 02 03 09 01 00 00 00 07 00 00 00");
  EXPECT_EQ(Hex(Encode(EncodableList{true, std::vector<int32_t>{}, int32_t{5}})),
            "0C 03 01 09 00 03 05 00 00 00");
  ExpectOutcomes({
      {Decode("0C 03 01 09 00 00 00 00 03 05 00 00 00"), {"0C 03 01 09 00 03 05 00 00 00", ""}},
      // The writer's own form: padding swallows 03 05 00 and the last 00 reads as null.
      {Decode("0C 03 01 09 00 03 05 00 00 00"), {"0C 03 01 09 00 00", ""}},
      {Decode("09 00"), {"09 00", kInvalidRead}},  // the padding runs past the end
  });
}

TEST(CodecWireFormatTest, CustomAndValuelessValuesTravelAsNull) {
  const EncodableValue custom(EncodableList{CustomValue(3), true});
  const EncodableValue valueless = Valueless();
  EXPECT_EQ(Captured([&valueless] { return Hex(Encode(valueless)); }), Outcome("00", ""));
  EXPECT_EQ(Captured([&custom] { return Hex(Encode(custom)); }),
            Outcome("0C 02 00 01",
                    "Unhandled custom type in StandardCodecSerializer::WriteValue. "
                    "Custom types require codec extensions.\n"));
}

}  // namespace
}  // namespace flutter
