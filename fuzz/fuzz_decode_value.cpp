// Decodes one value from arbitrary bytes: the value and the lines printed stay in
// proportion to them, and a value that must read back does so completely.
#include "fuzz/fuzz_support.h"

namespace {

// How deep containers nest; adds what they hold (key and value apart) to `values`.
size_t Depth(const flutter::EncodableValue& value, size_t& values) {
  size_t depth = value.TryGet<flutter::EncodableList>() || value.TryGet<flutter::EncodableMap>() ? 1 : 0;
  flutter::ForEachNested(value, [&](const flutter::EncodableValue& nested, bool) {
    ++values;
    depth = std::max(depth, Depth(nested, values) + 1);
  });
  return depth;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::PrintedCounter& printed = flutter::PrintedCounter::Restart();
  const flutter::StandardCodecSerializer& serializer = flutter::StandardCodecSerializer::GetInstance();
  flutter::ByteBufferStreamReader reader(data, size);
  const flutter::EncodableValue value = serializer.ReadValue(&reader);
  // Counts must leave every element they declare a byte of its own.
  size_t values = 0;
  flutter::Require(Depth(value, values) <= flutter::DecodeLimits::kMaxDepth && values <= size);
  flutter::Require(printed.lines <= 2 * size + 2);
  const size_t characters = printed.characters;
  flutter::Require(reader.decode_limits().depth == 0 && reader.decode_limits().promised_bytes == 0);
  if (!flutter::RoundTrips(value)) {
    return 0;
  }
  static std::vector<uint8_t> encoded, encoded_again;
  flutter::Encode(value, encoded);
  flutter::ByteBufferStreamReader again(encoded.data(), encoded.size());
  const flutter::EncodableValue reread = serializer.ReadValue(&again);
  flutter::Encode(reread, encoded_again);
  flutter::Require(printed.characters == characters && again.RemainingBytes() == 0u &&
                   encoded_again == encoded);
  return 0;
}
