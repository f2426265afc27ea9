#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <streambuf>
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

// Takes the place of std::cerr's buffer and counts what the codec prints
// instead of writing it: one flushed write per line (std::endl, and the
// flush of std::cout that std::cerr is tied to) would take most of a run.
struct PrintedCounter : std::streambuf {
  size_t lines = 0;
  size_t characters = 0;

  // Every target calls it at the start of each input. Never destroyed:
  // std::cerr is flushed at exit, after function-local statics are gone.
  static const PrintedCounter& Restart() {
    static PrintedCounter& printed = *new PrintedCounter();
    [[maybe_unused]] static std::streambuf* const standard_error = std::cerr.rdbuf(&printed);
    [[maybe_unused]] static std::ostream* const tied = std::cerr.tie(nullptr);
    printed.lines = printed.characters = 0;
    return printed;
  }

  int_type overflow(int_type c) override {
    const char text = traits_type::to_char_type(c);
    if (!traits_type::eq_int_type(c, traits_type::eof())) xsputn(&text, 1);
    return traits_type::not_eof(c);
  }
  // memchr rather than a loop: the coverage instrumentation would trace
  // every character compared.
  std::streamsize xsputn(const char* text, std::streamsize count) override {
    characters += static_cast<size_t>(count);
    for (const char *at = text, *end = text + count;
         (at = static_cast<const char*>(std::memchr(at, '\n', static_cast<size_t>(end - at)))) != nullptr;
         ++at) {
      ++lines;
    }
    return count;
  }
};

// Comparing encodings is stricter than equivalence (doubles bit for bit) and
// linear in the size of the value. Replaces what `bytes` held: a buffer kept
// from one input to the next has grown already, so encoding allocates nothing.
inline void Encode(const EncodableValue& value, std::vector<uint8_t>& bytes) {
  bytes.clear();
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
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
