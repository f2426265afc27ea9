#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/encodable_value.h"
#include "embedding/method_codec.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

// Method calls and envelopes built from values of a StandardCodecSerializer.
class StandardMethodCodec : public MethodCodec<EncodableValue> {
 public:
  // The one codec kept for `serializer` (null: the shared standard
  // serializer). Codecs are never freed, so the reference stays valid until
  // the process ends. Not locked: call it from one thread.
  static const StandardMethodCodec& GetInstance(const StandardCodecSerializer* serializer = nullptr);

  ~StandardMethodCodec() override;

 protected:
  explicit StandardMethodCodec(const StandardCodecSerializer* serializer);

  std::unique_ptr<MethodCall<EncodableValue>> DecodeMethodCallInternal(const uint8_t* message,
                                                                       size_t message_size) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeMethodCallInternal(
      const MethodCall<EncodableValue>& method_call) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeSuccessEnvelopeInternal(
      const EncodableValue* result) const override;
  std::unique_ptr<std::vector<uint8_t>> EncodeErrorEnvelopeInternal(
      const std::string& error_code, const std::string& error_message,
      const EncodableValue* error_details) const override;
  bool DecodeAndProcessResponseEnvelopeInternal(const uint8_t* response, size_t response_size,
                                                MethodResult<EncodableValue>* result) const override;

 private:
  const StandardCodecSerializer* serializer_;
};

}  // namespace flutter
