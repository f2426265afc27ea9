// Decodes a reply envelope from arbitrary bytes: it answers once for the flags 0
// and 1 and never otherwise, passes a null value as none, and raises
// std::bad_variant_access only for a malformed error envelope, before answering.
#include <string>
#include <variant>

#include "embedding/standard_method_codec.h"
#include "fuzz/fuzz_support.h"

namespace {

class CountingResult : public flutter::MethodResult<flutter::EncodableValue> {
 public:
  int answers = 0;

  void Count(const flutter::EncodableValue* value) {
    flutter::Require(value == nullptr || !value->IsNull());
    ++answers;
  }

 protected:
  void SuccessInternal(const flutter::EncodableValue* result) override { Count(result); }
  void ErrorInternal(const std::string&, const std::string&,
                     const flutter::EncodableValue* details) override {
    Count(details);
  }
  void NotImplementedInternal() override { std::abort(); }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  flutter::PrintedCounter::Restart();
  const uint8_t flag = size > 0 ? data[0] : 0;
  CountingResult result;
  try {
    const bool processed =
        flutter::StandardMethodCodec::GetInstance().DecodeAndProcessResponseEnvelope(data, size, &result);
    flutter::Require(processed == (flag <= 1) && result.answers == (processed ? 1 : 0));
  } catch (const std::bad_variant_access&) {
    flutter::Require(flag == 1 && result.answers == 0);
  }
  return 0;
}
