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

constexpr char kTooDeep[] =
    "Message nested too deeply in StandardCodecSerializer::ReadValueOfType; the rest reads as null\n";

// Lists (or maps, keyed by null) nested `levels` deep, the innermost empty.
std::vector<uint8_t> NestedLists(size_t levels) { return FromHex(Repeat("0C 01 ", levels - 1) + "0C 00"); }
std::vector<uint8_t> NestedMaps(size_t levels) { return FromHex(Repeat("0D 01 00 ", levels - 1) + "0D 00"); }

// How many containers nest, following the only element (or value) of each.
size_t Depth(const EncodableValue& value) {
  if (const auto* list = value.TryGet<EncodableList>()) {
    return 1 + (list->empty() ? 0 : Depth(list->front()));
  }
  if (const auto* map = value.TryGet<EncodableMap>()) {
    return 1 + (map->empty() ? 0 : Depth(map->begin()->second));
  }
  return 0;
}

// A reader that cannot tell how many bytes are left.
class UntellingReader : public ByteStreamReader {
 public:
  explicit UntellingReader(const std::vector<uint8_t>& bytes) : inner_(bytes.data(), bytes.size()) {}
  uint8_t ReadByte() override { return inner_.ReadByte(); }
  void ReadBytes(uint8_t* buffer, size_t length) override { inner_.ReadBytes(buffer, length); }
  void ReadAlignment(uint8_t alignment) override { inner_.ReadAlignment(alignment); }

 private:
  ByteBufferStreamReader inner_;
};

Decoded DecodeUntelling(const std::vector<uint8_t>& bytes) {
  UntellingReader reader(bytes);
  testing::internal::CaptureStderr();
  EncodableValue value = StandardCodecSerializer::GetInstance().ReadValue(&reader);
  return {std::move(value), testing::internal::GetCapturedStderr()};
}

TEST(CodecHostileInputTest, CountsBeyondTheInputReadAsNullWithOneLine) {
  const std::vector<std::string> cases = {// Six bytes declaring 4,294,967,295 elements.
                                          "07 FF FF FF FF FF", "08 FF FF FF FF FF", "09 FF FF FF FF FF",
                                          "0B FF FF FF FF FF", "0C FF FF FF FF FF", "0D FF FF FF FF FF",
                                          // One element or entry short.
                                          "07 03 61 62", "0C 03 00 00", "0D 02 00 00 00",
                                          // The count would fit before the padding, not after it.
                                          "09 01 AA BB CC DD",
                                          // Nested containers claiming the same bytes: the inner list's two
                                          // elements and the outer list's second element cannot all fit.
                                          "0C 02 0C 02 00 00",
                                          // The same through a map key.
                                          "0D 01 0C 01 00"};
  for (const std::string& hex : cases) {
    SCOPED_TRACE(hex);
    const Decoded decoded = Decode(FromHex(hex));
    EXPECT_EQ(decoded.errors, kInvalidRead);
    const EncodableValue* claimed = &decoded.value;
    if (const auto* list = decoded.value.TryGet<EncodableList>()) {
      ASSERT_EQ(list->size(), 2u);
      EXPECT_TRUE(list->at(1).IsNull());
      claimed = &list->at(0);
    } else if (const auto* map = decoded.value.TryGet<EncodableMap>()) {
      ASSERT_EQ(map->size(), 1u);
      claimed = &map->begin()->first;
    }
    EXPECT_TRUE(claimed->IsNull());
  }
}

TEST(CodecHostileInputTest, CountsThatExactlyFitStillDecode) {
  const std::vector<std::pair<std::string, EncodableValue>> cases = {
      {"0C 02 00 00", EncodableValue(EncodableList{EncodableValue(), EncodableValue()})},
      {"0D 01 00 00", EncodableValue(EncodableMap{{EncodableValue(), EncodableValue()}})},
      {"0C 02 0C 01 00 07 01 61",
       EncodableValue(EncodableList{EncodableValue(EncodableList{EncodableValue()}), EncodableValue("a")})},
      {"0D 01 0D 01 00 00 00",
       EncodableValue(EncodableMap{
           {EncodableValue(EncodableMap{{EncodableValue(), EncodableValue()}}), EncodableValue()}})},
  };
  for (const auto& [hex, expected] : cases) {
    SCOPED_TRACE(hex);
    const Decoded decoded = Decode(FromHex(hex));
    EXPECT_TRUE(Equivalent(decoded.value, expected));
    EXPECT_EQ(decoded.errors, "");
  }
}

TEST(CodecHostileInputTest, ReaderThatCannotTellGetsItsCountsTrusted) {
  Decoded decoded = DecodeUntelling(FromHex("07 05 61"));
  EXPECT_EQ(decoded.value.Get<std::string>(), std::string(5, '\0'));
  EXPECT_EQ(decoded.errors, kInvalidRead);

  decoded = DecodeUntelling(FromHex("0C 02 0C 02 00 00"));
  EXPECT_TRUE(Equivalent(decoded.value, EncodableValue(EncodableList{
                                            EncodableValue(EncodableList{EncodableValue(), EncodableValue()}),
                                            EncodableValue()})));
  EXPECT_EQ(decoded.errors, kInvalidRead);

  decoded = DecodeUntelling(NestedLists(257));
  EXPECT_EQ(Depth(decoded.value), 256u);
  EXPECT_EQ(decoded.errors, kTooDeep);
}

TEST(CodecHostileInputTest, TwoHundredFiftySixContainersNestAndTheNextReadsAsNull) {
  for (const auto& nested : {NestedLists, NestedMaps}) {
    Decoded decoded = Decode(nested(256));
    EXPECT_EQ(Depth(decoded.value), 256u);
    EXPECT_EQ(decoded.errors, "");

    decoded = Decode(nested(257));
    EXPECT_EQ(Depth(decoded.value), 256u);
    EXPECT_EQ(decoded.errors, kTooDeep);
  }

  const Decoded decoded = Decode(FromHex(Repeat("0C 01 ", 100000)));
  EXPECT_EQ(Depth(decoded.value), 256u);
  EXPECT_EQ(decoded.errors, kTooDeep);
}

TEST(CodecHostileInputTest, TooDeepLeavesTheRestOfTheMessageUnread) {
  // The outer list is the first level, so its first element is 257 deep;
  // its second element, the 32-bit 5, is never read.
  const std::vector<uint8_t> bytes = FromHex("0C 02 " + Repeat("0C 01 ", 256) + "0C 00 03 05 00 00 00");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance();
  testing::internal::CaptureStderr();
  const EncodableValue first = serializer.ReadValue(&reader);
  const EncodableValue second = serializer.ReadValue(&reader);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kTooDeep);

  const auto& outer = first.Get<EncodableList>();
  ASSERT_EQ(outer.size(), 2u);
  EXPECT_EQ(Depth(outer[0]), 255u);
  EXPECT_TRUE(outer[1].IsNull());
  EXPECT_TRUE(second.IsNull());
  // Unread: the too-deep list's size, the empty list and the integer.
  EXPECT_EQ(reader.RemainingBytes(), 8u);
  EXPECT_EQ(reader.decode_limits().depth, 0);
}

// Throws on the type byte 0x80, the way a derived serializer might.
class ThrowingSerializer : public StandardCodecSerializer {
 protected:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    if (type == 0x80) {
      throw std::runtime_error("bad custom value");
    }
    return StandardCodecSerializer::ReadValueOfType(type, stream);
  }
};

TEST(CodecHostileInputTest, ContainersLeftByAnExceptionReleaseWhatTheyPromised) {
  const std::vector<uint8_t> bytes = FromHex("0C 03 0D 02 80 00 00 00 00 00");
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  EXPECT_THROW(ThrowingSerializer().ReadValue(&reader), std::runtime_error);
  EXPECT_EQ(reader.decode_limits().depth, 0);
  EXPECT_EQ(reader.decode_limits().promised_bytes, 0u);
}

}  // namespace
}  // namespace flutter
