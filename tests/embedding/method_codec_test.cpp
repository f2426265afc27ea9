#include "embedding/standard_method_codec.h"

#include <memory>
#include <variant>

#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

const std::string kIsConnectedCall = "07 0B 69 73 43 6F 6E 6E 65 63 74 65 64 00";

// Writes a custom value holding a 32-bit integer as the type byte 0x80 and it.
class TaggedIntSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    const auto* custom = value.TryGet<CustomValue>();
    if (const int32_t* tagged = custom ? custom->TryGet<int32_t>() : nullptr) {
      stream->WriteByte(0x80);
      stream->WriteInt32(*tagged);
    } else {
      StandardCodecSerializer::WriteValue(value, stream);
    }
  }

 protected:
  EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const override {
    return type == 0x80 ? EncodableValue(CustomValue(stream->ReadInt32()))
                        : StandardCodecSerializer::ReadValueOfType(type, stream);
  }
};

// Codecs keep a plain pointer to their serializer for good.
const TaggedIntSerializer kTaggedInts;

std::string Shown(const EncodableValue* value) { return value ? " " + Hex(Encode(*value, kTaggedInts)) : ""; }

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
};

// The answers, "refused" or what was raised.
Outcome Process(const std::string& hex,
                const StandardMethodCodec& codec = StandardMethodCodec::GetInstance()) {
  return Captured([&codec, bytes = Bytes(hex)] {
    RecordingResult result;
    try {
      if (!codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result)) {
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

TEST(MethodCodecTest, EncodesCallsAndEnvelopesByteForByte) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  const EncodableValue yes(true), one(1.0), seven(int32_t{7});
  EXPECT_EQ(Hex(*codec.EncodeMethodCall(MethodCall<EncodableValue>("isConnected", nullptr))),
            kIsConnectedCall);
  EXPECT_EQ(
      Hex(*codec.EncodeMethodCall(MethodCall<EncodableValue>("a", std::make_unique<EncodableValue>(seven)))),
      "07 01 61 03 07 00 00 00");
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope()), "00 00");
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&yes)), "00 01");
  // The flag byte counts towards the double's padding.
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&one)), "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E")), "01 07 01 45 00 00");
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E", "m")), "01 07 01 45 07 01 6D 00");
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E", "", &seven)), "01 07 01 45 00 03 07 00 00 00");
}

TEST(MethodCodecTest, DecodedCallsAlwaysCarryArgumentsAndEnvelopesAnswerTheResult) {
  ExpectOutcomes({
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
      {Process(""), {"[success]", std::string(kInvalidRead) + kInvalidRead}},
      // A 32-bit code; a 32-bit message.
      {Process("01 03 01 00 00 00 00 00"), {"raised bad variant access", ""}},
      {Process("01 07 01 45 03 01 00 00 00 00"), {"raised bad variant access", ""}},
  });
}

TEST(MethodCodecTest, EachSerializerGetsOneCodecThatUsesItForNestedValues) {
  const StandardMethodCodec& standard = StandardMethodCodec::GetInstance();
  EXPECT_EQ(&StandardMethodCodec::GetInstance(), &standard);
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance(&kTaggedInts);
  EXPECT_NE(&codec, &standard);
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&kTaggedInts), &codec);

  // A list element, a map key and a map value.
  const EncodableValue value(EncodableList{CustomValue(7), EncodableMap{{CustomValue(8), CustomValue(9)}}});
  const std::string answer = "0C 02 80 07 00 00 00 0D 01 80 08 00 00 00 80 09 00 00 00";
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&value)), "00 " + answer);
  EXPECT_EQ(Process("00 " + answer, codec), Outcome("[success " + answer + "]", ""));
}

}  // namespace
}  // namespace flutter
