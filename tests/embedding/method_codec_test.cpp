#include "embedding/standard_method_codec.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

const std::string kIsConnectedCall = "07 0B 69 73 43 6F 6E 6E 65 63 74 65 64 00";

// What a response envelope made of its result object.
class RecordingResult : public MethodResult<EncodableValue> {
 public:
  std::vector<std::string> answers;  // "success", "error E/m"
  std::optional<EncodableValue> value;

 protected:
  void SuccessInternal(const EncodableValue* result) override {
    answers.push_back("success");
    Keep(result);
  }
  void ErrorInternal(const std::string& code, const std::string& message,
                     const EncodableValue* details) override {
    answers.push_back("error " + code + "/" + message);
    Keep(details);
  }
  void NotImplementedInternal() override { answers.push_back("not implemented"); }

 private:
  void Keep(const EncodableValue* result) {
    if (result != nullptr) {
      value = *result;
    }
  }
};

TEST(MethodCodecTest, EncodesCallsAndEnvelopesByteForByte) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  EXPECT_EQ(Hex(*codec.EncodeMethodCall(MethodCall<EncodableValue>("isConnected", nullptr))),
            kIsConnectedCall);
  EXPECT_EQ(Hex(*codec.EncodeMethodCall(
                MethodCall<EncodableValue>("a", std::make_unique<EncodableValue>(int32_t{7})))),
            "07 01 61 03 07 00 00 00");

  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope()), "00 00");
  const EncodableValue yes(true);
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&yes)), "00 01");
  // The flag byte counts towards the double's padding.
  const EncodableValue one(1.0);
  EXPECT_EQ(Hex(*codec.EncodeSuccessEnvelope(&one)), "00 06 00 00 00 00 00 00 00 00 00 00 00 00 F0 3F");

  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E")), "01 07 01 45 00 00");
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E", "m")), "01 07 01 45 07 01 6D 00");
  const EncodableValue details(int32_t{7});
  EXPECT_EQ(Hex(*codec.EncodeErrorEnvelope("E", "", &details)), "01 07 01 45 00 03 07 00 00 00");
}

TEST(MethodCodecTest, DecodedCallsAlwaysCarryAnArgumentsObject) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();

  testing::internal::CaptureStderr();
  std::unique_ptr<MethodCall<EncodableValue>> call = codec.DecodeMethodCall(FromHex(kIsConnectedCall));
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "isConnected");
  ASSERT_NE(call->arguments(), nullptr);
  EXPECT_TRUE(call->arguments()->IsNull());

  // Without the arguments value the call still decodes.
  std::vector<uint8_t> name_only = FromHex(kIsConnectedCall);
  name_only.pop_back();
  testing::internal::CaptureStderr();
  call = codec.DecodeMethodCall(name_only);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), kInvalidRead);
  ASSERT_NE(call, nullptr);
  ASSERT_NE(call->arguments(), nullptr);
  EXPECT_TRUE(call->arguments()->IsNull());

  testing::internal::CaptureStderr();
  EXPECT_EQ(codec.DecodeMethodCall(FromHex("03 01 00 00 00")), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "Invalid method call; method name is not a string.\n");

  const EncodableValue arguments(EncodableMap{{EncodableValue("networkId"), EncodableValue("office")},
                                              {EncodableValue("config"), EncodableValue("[Interface]")}});
  call = codec.DecodeMethodCall(*codec.EncodeMethodCall(
      MethodCall<EncodableValue>("startTunnel", std::make_unique<EncodableValue>(arguments))));
  ASSERT_NE(call, nullptr);
  EXPECT_EQ(call->method_name(), "startTunnel");
  EXPECT_TRUE(Equivalent(*call->arguments(), arguments));
}

TEST(MethodCodecTest, ResponseEnvelopesAnswerTheResult) {
  struct Case {
    std::string hex;
    bool processed;
    std::vector<std::string> answers;
    std::optional<EncodableValue> value;
    std::string errors;
  };
  const std::vector<Case> cases = {
      {"00 00", true, {"success"}, std::nullopt, ""},
      {"00 01", true, {"success"}, EncodableValue(true), ""},
      {"01 07 01 45 00 00", true, {"error E/"}, std::nullopt, ""},
      {"01 07 01 45 07 01 6D 03 07 00 00 00", true, {"error E/m"}, EncodableValue(int32_t{7}), ""},
      {"02 01", false, {}, std::nullopt, ""},
      // The flag of an empty envelope reads as 0, then its value as null.
      {"", true, {"success"}, std::nullopt, Repeat(kInvalidRead, 2)},
  };
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hex);
    const std::vector<uint8_t> bytes = FromHex(c.hex);
    RecordingResult result;
    testing::internal::CaptureStderr();
    EXPECT_EQ(codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result), c.processed);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), c.errors);
    EXPECT_EQ(result.answers, c.answers);
    ASSERT_EQ(result.value.has_value(), c.value.has_value());
    if (c.value) {
      EXPECT_TRUE(Equivalent(*result.value, *c.value));
    }
  }
}

TEST(MethodCodecTest, MalformedErrorEnvelopeRaisesBadVariantAccessAndLeavesTheResult) {
  const StandardMethodCodec& codec = StandardMethodCodec::GetInstance();
  // A 32-bit code; then a 32-bit message.
  for (const char* hex : {"01 03 01 00 00 00 00 00", "01 07 01 45 03 01 00 00 00 00"}) {
    SCOPED_TRACE(hex);
    const std::vector<uint8_t> bytes = FromHex(hex);
    RecordingResult result;
    try {
      codec.DecodeAndProcessResponseEnvelope(bytes.data(), bytes.size(), &result);
      ADD_FAILURE() << "expected std::bad_variant_access";
    } catch (const std::bad_variant_access& error) {
      EXPECT_STREQ(error.what(), "bad variant access");
    }
    EXPECT_TRUE(result.answers.empty());
  }
}

// Writes every custom value as the bare type byte 0x80.
class MarkerSerializer : public StandardCodecSerializer {
 public:
  void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const override {
    if (value.TryGet<CustomValue>() != nullptr) {
      stream->WriteByte(0x80);
      return;
    }
    StandardCodecSerializer::WriteValue(value, stream);
  }
};

TEST(MethodCodecTest, GetInstanceKeepsOneCodecPerSerializer) {
  const StandardMethodCodec& shared = StandardMethodCodec::GetInstance();
  EXPECT_EQ(&StandardMethodCodec::GetInstance(), &shared);
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&StandardCodecSerializer::GetInstance()), &shared);

  static const MarkerSerializer marker;
  const StandardMethodCodec& marking = StandardMethodCodec::GetInstance(&marker);
  EXPECT_NE(&marking, &shared);
  EXPECT_EQ(&StandardMethodCodec::GetInstance(&marker), &marking);
  const EncodableValue custom(CustomValue(1));
  EXPECT_EQ(Hex(*marking.EncodeSuccessEnvelope(&custom)), "00 80");
}

}  // namespace
}  // namespace flutter
