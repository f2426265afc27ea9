#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

TEST(CodecWireFormatTest, EachAlternativeEncodesToItsBytesAndReadsBack) {
  const std::vector<std::pair<EncodableValue, std::string>> cases = {
      {EncodableValue(), "00"},
      {EncodableValue(true), "01"},
      {EncodableValue(false), "02"},
      {EncodableValue(int32_t{5}), "03 05 00 00 00"},
      {EncodableValue(int32_t{-1}), "03 FF FF FF FF"},
      {EncodableValue(int64_t{1}), "04 01 00 00 00 00 00 00 00"},
      // Padding counts the type byte.
      {EncodableValue(1.0), "06 00 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F"},
      {EncodableValue("abc"), "07 03 61 62 63"},
      {EncodableValue(""), "07 00"},
      {EncodableValue(std::vector<uint8_t>{0x01, 0xFF}), "08 02 01 FF"},
      {EncodableValue(std::vector<int32_t>{1}), "09 01 00 00 01 00 00 00"},
      {EncodableValue(std::vector<int64_t>{1}), "0A 01 00 00 00 00 00 00 01 00 00 00 00 00 00 00"},
      {EncodableValue(std::vector<double>{-2.0}), "0B 01 00 00 00 00 00 00 00 00 00 00 00 00 00 C0"},
      {EncodableValue(std::vector<float>{1.0f}), "0E 01 00 00 00 00 80 3F"},
      {EncodableValue(EncodableList{EncodableValue(int32_t{1}), EncodableValue()}),
       "0C 02 03 01 00 00 00 00"},
      {EncodableValue(EncodableMap{{EncodableValue("a"), EncodableValue(int32_t{1})}}),
       "0D 01 07 01 61 03 01 00 00 00"},
      // Entries go out in key order: the 32-bit key orders before the string.
      {EncodableValue(EncodableMap{{EncodableValue("k"), EncodableValue(true)},
                                   {EncodableValue(int32_t{2}), EncodableValue()}}),
       "0D 02 03 02 00 00 00 00 07 01 6B 01"},
  };
  for (const auto& [value, hex] : cases) {
    SCOPED_TRACE(hex);
    EXPECT_EQ(Hex(Encode(value)), hex);
    const Decoded decoded = Decode(FromHex(hex));
    EXPECT_EQ(decoded.value.index(), value.index());
    EXPECT_TRUE(Equivalent(decoded.value, value));
    EXPECT_EQ(decoded.errors, "");
  }
}

TEST(CodecWireFormatTest, SizeFieldTakesOneThreeOrFiveBytes) {
  const std::vector<std::pair<size_t, std::string>> cases = {{253, "07 FD"},
                                                             {254, "07 FE FE 00"},
                                                             {300, "07 FE 2C 01"},
                                                             {65535, "07 FE FF FF"},
                                                             {65536, "07 FF 00 00 01 00"}};
  for (const auto& [length, prefix] : cases) {
    SCOPED_TRACE(length);
    const std::string text(length, 'x');
    const std::vector<uint8_t> bytes = Encode(EncodableValue(text));
    const size_t prefix_size = FromHex(prefix).size();
    ASSERT_EQ(bytes.size(), prefix_size + length);
    EXPECT_EQ(Hex(std::vector<uint8_t>(bytes.begin(), bytes.begin() + prefix_size)), prefix);
    const Decoded decoded = Decode(bytes);
    EXPECT_EQ(decoded.value.Get<std::string>(), text);
    EXPECT_EQ(decoded.errors, "");
  }
}

TEST(CodecWireFormatTest, PaddingCountsFromTheStartOfTheWritersVector) {
  EXPECT_EQ(Hex(Encode(EncodableValue(1.0), StandardCodecSerializer::GetInstance(), {0xAA})),
            "AA 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
  EXPECT_EQ(
      Hex(Encode(EncodableValue(std::vector<int32_t>{7}), StandardCodecSerializer::GetInstance(), {1, 2, 3})),
      "01 02 03 09 01 00 00 00 07 00 00 00");
  // The reader skips padding from its own location: the double sits at 8.
  const Decoded decoded = Decode(FromHex("0C 02 01 06 00 00 00 00 00 00 00 00 00 00 F0 3F"));
  EXPECT_TRUE(
      Equivalent(decoded.value, EncodableValue(EncodableList{EncodableValue(true), EncodableValue(1.0)})));
}

TEST(CodecWireFormatTest, EmptyTypedListIsWrittenUnpaddedButReadPadded) {
  EXPECT_EQ(Hex(Encode(EncodableValue(std::vector<int32_t>{}))), "09 00");
  EXPECT_EQ(Hex(Encode(EncodableValue(std::vector<double>{}))), "0B 00");

  // With its padding present, an empty list followed by more values reads fine.
  Decoded decoded = Decode(FromHex("0C 03 01 09 00 00 00 00 03 05 00 00 00"));
  EXPECT_TRUE(Equivalent(decoded.value, EncodableValue(EncodableList{EncodableValue(true),
                                                                     EncodableValue(std::vector<int32_t>{}),
                                                                     EncodableValue(int32_t{5})})));
  EXPECT_EQ(decoded.errors, "");

  // The writer's own unpadded form loses the value after it: the reader's
  // padding swallows 03 05 00, and the 00 after them reads as null.
  const EncodableValue written(EncodableList{EncodableValue(true), EncodableValue(std::vector<int32_t>{}),
                                             EncodableValue(int32_t{5})});
  ASSERT_EQ(Hex(Encode(written)), "0C 03 01 09 00 03 05 00 00 00");
  decoded = Decode(Encode(written));
  EXPECT_TRUE(Equivalent(
      decoded.value, EncodableValue(EncodableList{
                         EncodableValue(true), EncodableValue(std::vector<int32_t>{}), EncodableValue()})));

  // Alone, its padding runs past the end, which the empty read reports.
  decoded = Decode(FromHex("09 00"));
  EXPECT_TRUE(Equivalent(decoded.value, EncodableValue(std::vector<int32_t>{})));
  EXPECT_EQ(decoded.errors, kInvalidRead);
}

TEST(CodecWireFormatTest, OddTypeBytesAndDuplicateKeys) {
  // Type 5 is never written but reads as a string.
  EXPECT_EQ(Decode(FromHex("05 02 31 32")).value.Get<std::string>(), "12");

  // An unknown type byte reads as null and leaves its payload to the next value.
  Decoded decoded = Decode(FromHex("0C 02 0F 03 05 00 00 00"));
  EXPECT_TRUE(
      Equivalent(decoded.value, EncodableValue(EncodableList{EncodableValue(), EncodableValue(int32_t{5})})));
  EXPECT_EQ(decoded.errors, "Unknown type in StandardCodecSerializer::ReadValueOfType: 15\n");
  EXPECT_EQ(Decode(FromHex("FF")).errors, "Unknown type in StandardCodecSerializer::ReadValueOfType: 255\n");

  // The first occurrence of a key wins.
  decoded = Decode(FromHex("0D 02 07 01 61 03 01 00 00 00 07 01 61 03 02 00 00 00"));
  const auto& map = decoded.value.Get<EncodableMap>();
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.at(EncodableValue("a")).Get<int32_t>(), 1);
  EXPECT_EQ(decoded.errors, "");
}

TEST(CodecWireFormatTest, TruncatedValuesReadAsZeroWithOneLinePerFailedRead) {
  const std::vector<std::pair<std::string, EncodableValue>> cases = {
      {"", EncodableValue()},
      {"03 01 02", EncodableValue(int32_t{0})},
      {"04 01 02 03 04 05 06 07", EncodableValue(int64_t{0})},
      {"06 00 00 00 00 00 00 00 00 00", EncodableValue(0.0)},
      // The wider size forms start from 0 when their bytes are missing.
      {"07 FE 2C", EncodableValue("")},
  };
  for (const auto& [hex, expected] : cases) {
    SCOPED_TRACE(hex);
    const Decoded decoded = Decode(FromHex(hex));
    EXPECT_EQ(decoded.value.index(), expected.index());
    EXPECT_TRUE(Equivalent(decoded.value, expected));
    EXPECT_EQ(decoded.errors, kInvalidRead);
  }
}

TEST(CodecWireFormatTest, BufferReaderLeavesItsLocationOnAFailedRead) {
  const std::vector<uint8_t> bytes = {1, 2, 3};
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  testing::internal::CaptureStderr();
  EXPECT_EQ(reader.ReadInt32(), 0);
  EXPECT_EQ(reader.ReadByte(), 1);
  EXPECT_EQ(reader.RemainingBytes(), 2u);
  reader.ReadAlignment(4);  // past the end, unchecked
  EXPECT_EQ(reader.RemainingBytes(), 0u);
  EXPECT_EQ(reader.ReadByte(), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), Repeat(kInvalidRead, 2));
}

TEST(CodecWireFormatTest, CustomAndValuelessValuesTravelAsNull) {
  testing::internal::CaptureStderr();
  EXPECT_EQ(Hex(Encode(EncodableValue(EncodableList{EncodableValue(CustomValue(3)), EncodableValue(true)}))),
            "0C 02 00 01");
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "Unhandled custom type in StandardCodecSerializer::WriteValue. Custom types require codec "
            "extensions.\n");

  struct ThrowsOnCopy {
    ThrowsOnCopy() = default;
    ThrowsOnCopy(const ThrowsOnCopy&) { throw std::runtime_error("no copies"); }
  };
  EncodableValue valueless(int32_t{1});
  EXPECT_THROW(valueless.emplace<CustomValue>(ThrowsOnCopy()), std::runtime_error);
  ASSERT_TRUE(valueless.valueless_by_exception());
  EXPECT_EQ(Hex(Encode(valueless)), "00");
}

struct Point {
  int32_t x;
  int32_t y;
};

// Adds the type byte 0x80 for a Point.
class PointSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    const auto* custom = value.TryGet<CustomValue>();
    const Point* point = custom ? custom->TryGet<Point>() : nullptr;
    if (point == nullptr) {
      StandardCodecSerializer::WriteValue(value, stream);
      return;
    }
    stream->WriteByte(0x80);
    stream->WriteInt32(point->x);
    stream->WriteInt32(point->y);
  }

 protected:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    if (type != 0x80) {
      return StandardCodecSerializer::ReadValueOfType(type, stream);
    }
    const int32_t x = stream->ReadInt32();
    return EncodableValue(CustomValue(Point{x, stream->ReadInt32()}));
  }
};

TEST(CodecWireFormatTest, DerivedSerializerSeesNestedValues) {
  const PointSerializer serializer;
  const EncodableValue value(EncodableList{
      EncodableValue(EncodableMap{{EncodableValue("p"), EncodableValue(CustomValue(Point{1, 2}))}})});
  const std::string hex = "0C 01 0D 01 07 01 70 80 01 00 00 00 02 00 00 00";
  EXPECT_EQ(Hex(Encode(value, serializer)), hex);

  const Decoded decoded = Decode(FromHex(hex), serializer);
  const EncodableValue& entry =
      decoded.value.Get<EncodableList>().at(0).Get<EncodableMap>().at(EncodableValue("p"));
  const Point* point = entry.Get<CustomValue>().TryGet<Point>();
  ASSERT_NE(point, nullptr);
  EXPECT_EQ(point->x, 1);
  EXPECT_EQ(point->y, 2);
  EXPECT_EQ(decoded.errors, "");
}

}  // namespace
}  // namespace flutter
