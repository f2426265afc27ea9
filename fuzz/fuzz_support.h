#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

// Stops the run so that libFuzzer keeps the input that broke a property.
inline void Require(bool property_holds) {
  if (!property_holds) {
    std::abort();
  }
}

// Comparing encodings is stricter than equivalence (doubles bit for bit) and
// linear in the size of the value.
inline std::vector<uint8_t> Encoded(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

// Calls `visit` with each value a list or map holds, and whether it is a key.
template <typename Visit>
void ForEachNested(const EncodableValue& value, const Visit& visit) {
  if (const auto* list = value.TryGet<EncodableList>()) {
    std::for_each(list->begin(), list->end(),
                  [&visit](const EncodableValue& element) { visit(element, false); });
  } else if (const auto* map = value.TryGet<EncodableMap>()) {
    for (const auto& [key, entry] : *map) {
      visit(key, true);
      visit(entry, false);
    }
  }
}

// Whether `value` must read back as written: an empty typed list is written
// without the padding its reader skips, and a NaN in a map key makes the
// ordering intransitive, so what the map keeps depends on the key order.
inline bool RoundTrips(const EncodableValue& value, bool in_key = false) {
  const auto plain = [in_key](const auto* numbers) {
    return numbers == nullptr ||
           (!numbers->empty() &&
            !(in_key && std::any_of(numbers->begin(), numbers->end(), [](auto n) { return std::isnan(n); })));
  };
  const auto* number = value.TryGet<double>();
  bool round_trips = !(in_key && number && std::isnan(*number)) &&
                     plain(value.TryGet<std::vector<int32_t>>()) &&
                     plain(value.TryGet<std::vector<int64_t>>()) &&
                     plain(value.TryGet<std::vector<double>>()) && plain(value.TryGet<std::vector<float>>());
  ForEachNested(value, [&](const EncodableValue& nested, bool is_key) {
    round_trips = round_trips && RoundTrips(nested, in_key || is_key);
  });
  return round_trips;
}

}  // namespace flutter
