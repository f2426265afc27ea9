// Decodes one value from arbitrary bytes. Whatever the bytes, the result
// stays within what they can hold, and, unless it is one of the values that
// cannot (see RoundTrips), it writes into bytes that read back cleanly to the
// same value (see SameValue).
#include <cstddef>
#include <cstdint>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const flutter::StandardCodecSerializer& serializer = flutter::StandardCodecSerializer::GetInstance();
  flutter::CountingReader reader(data, size);
  const flutter::EncodableValue value = serializer.ReadValue(&reader);

  // Hostile counts and nesting: storage and reported failures stay in
  // proportion to the input, and the bookkeeping closes with the value.
  const flutter::Shape shape = flutter::ShapeOf(value);
  flutter::Require(shape.depth <= flutter::DecodeLimits::kMaxDepth);
  flutter::Require(shape.elements <= 2 * size);
  flutter::Require(reader.failed_reads() <= 2 * size + 1);
  flutter::Require(reader.decode_limits().depth == 0 && reader.decode_limits().promised_bytes == 0);

  if (!flutter::RoundTrips(value)) {
    return 0;
  }
  const std::vector<uint8_t> encoded = flutter::Encoded(value);
  flutter::CountingReader again(encoded.data(), encoded.size());
  const flutter::EncodableValue reread = serializer.ReadValue(&again);
  flutter::Require(again.failed_reads() == 0 && again.at_end() && !again.decode_limits().too_deep);
  flutter::Require(flutter::Encoded(reread) == encoded);
  return 0;
}
