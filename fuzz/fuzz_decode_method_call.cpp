// Decodes a method call from arbitrary bytes. A call that decodes always has
// an arguments object, and encodes into bytes that read back completely, to
// the same name and equivalent arguments.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "embedding/standard_codec_serializer.h"
#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const std::unique_ptr<flutter::MethodCall<flutter::EncodableValue>> call =
      codec.DecodeMethodCall(data, size);
  if (!call) {
    return 0;
  }
  flutter::Require(call->arguments() != nullptr);
  if (!flutter::RoundTrips(*call->arguments())) {
    return 0;
  }
  const std::unique_ptr<std::vector<uint8_t>> encoded = codec.EncodeMethodCall(*call);

  flutter::CountingReader reader(encoded->data(), encoded->size());
  const flutter::StandardCodecSerializer& serializer = flutter::StandardCodecSerializer::GetInstance();
  const flutter::EncodableValue name = serializer.ReadValue(&reader);
  const flutter::EncodableValue arguments = serializer.ReadValue(&reader);
  flutter::Require(reader.failed_reads() == 0 && reader.at_end());
  const std::string* name_text = name.TryGet<std::string>();
  flutter::Require(name_text != nullptr && *name_text == call->method_name());
  flutter::Require(flutter::SameValue(arguments, *call->arguments()));

  const std::unique_ptr<flutter::MethodCall<flutter::EncodableValue>> again =
      codec.DecodeMethodCall(*encoded);
  flutter::Require(again != nullptr && again->method_name() == call->method_name());
  flutter::Require(again->arguments() != nullptr &&
                   flutter::SameValue(*again->arguments(), *call->arguments()));
  return 0;
}
