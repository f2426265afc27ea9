// Decodes a method call from arbitrary bytes. A call that decodes always has
// an arguments object, and encodes into bytes that decode to the same call.
#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flutter::PrintedCounter::Restart();
  const flutter::StandardMethodCodec& codec = flutter::StandardMethodCodec::GetInstance();
  const auto call = codec.DecodeMethodCall(data, size);
  if (!call) {
    return 0;
  }
  flutter::Require(call->arguments() != nullptr);
  if (!flutter::RoundTrips(*call->arguments())) {
    return 0;
  }
  const auto again = codec.DecodeMethodCall(*codec.EncodeMethodCall(*call));
  flutter::Require(again != nullptr && again->method_name() == call->method_name() &&
                   again->arguments() != nullptr);
  static std::vector<uint8_t> arguments, arguments_again;
  flutter::Encode(*call->arguments(), arguments);
  flutter::Encode(*again->arguments(), arguments_again);
  flutter::Require(arguments_again == arguments);
  return 0;
}
