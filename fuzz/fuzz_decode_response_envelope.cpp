// Decodes a reply envelope from arbitrary bytes into a result object. It
// answers exactly once for the flags 0 and 1 and never otherwise, raises
// std::bad_variant_access only for a malformed error envelope, and an answer
// encodes into an envelope that gives the same answer again.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

class RecordingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  int answers = 0;
  bool success = false;
  std::string code;
  std::string message;
  std::optional<flutter::EncodableValue> value;  // the result or the details

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override {
    ++answers;
    success = true;
    Keep(result);
  }
  void ErrorInternal(const std::string& error_code, const std::string& error_message,
                     const flutter::EncodableValue* details) override {
    ++answers;
    code = error_code;
    message = error_message;
    Keep(details);
  }
  void NotImplementedInternal() override { answers += 100; }

 private:
  void Keep(const flutter::EncodableValue* kept) {
    if (kept != nullptr) {
      value = *kept;
    }
  }
};

// Whether an error envelope (flag byte at `data`) has a code that is not a
// string, or a message that is neither null nor a string.
bool MalformedError(const uint8_t* data, size_t size) {
  // The whole envelope, not the bytes after the flag: padding counts from
  // the first byte.
  flutter::ByteBufferStreamReader reader(data, size);
  reader.ReadByte();
  const flutter::StandardCodecSerializer& serializer = flutter::StandardCodecSerializer::GetInstance();
  const flutter::EncodableValue code = serializer.ReadValue(&reader);
  const flutter::EncodableValue message = serializer.ReadValue(&reader);
  return code.TryGet<std::string>() == nullptr ||
         (!message.IsNull() && message.TryGet<std::string>() == nullptr);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const uint8_t flag = size > 0 ? data[0] : 0;
  RecordingResult result;
  bool processed = false;
  try {
    processed = codec.DecodeAndProcessResponseEnvelope(data, size, &result);
  } catch (const std::bad_variant_access&) {
    flutter::Require(flag == 1 && result.answers == 0 && MalformedError(data, size));
    return 0;
  }
  flutter::Require(processed == (flag <= 1));
  if (!processed) {
    flutter::Require(result.answers == 0);
    return 0;
  }
  flutter::Require(result.answers == 1);
  flutter::Require(flag == 0 || !MalformedError(data, size));
  flutter::Require(!result.value || !result.value->IsNull());
  if (result.value && !flutter::RoundTrips(*result.value)) {
    return 0;
  }

  const flutter::EncodableValue* kept = result.value ? &*result.value : nullptr;
  const std::unique_ptr<std::vector<uint8_t>> encoded =
      result.success ? codec.EncodeSuccessEnvelope(kept)
                     : codec.EncodeErrorEnvelope(result.code, result.message, kept);
  RecordingResult again;
  flutter::Require(codec.DecodeAndProcessResponseEnvelope(encoded->data(), encoded->size(), &again));
  flutter::Require(again.answers == 1 && again.success == result.success && again.code == result.code &&
                   again.message == result.message && again.value.has_value() == result.value.has_value());
  flutter::Require(!result.value || flutter::SameValue(*again.value, *result.value));
  return 0;
}
