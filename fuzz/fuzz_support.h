#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

// Stops the run so that libFuzzer keeps the input that broke a property.
inline void Require(bool property_holds) {
  if (!property_holds) {
    std::abort();
  }
}

inline std::vector<uint8_t> Encoded(const EncodableValue& value) {
  std::vector<uint8_t> bytes;
  ByteBufferStreamWriter writer(&bytes);
  StandardCodecSerializer::GetInstance().WriteValue(value, &writer);
  return bytes;
}

// Decoded values are the same when they encode to the same bytes: encoding
// keeps every double bit for bit and every map in key order, so this is
// stricter than equivalence under the ordering. It is also linear, where
// the ordering compares equivalent nested elements both ways at every level.
inline bool SameValue(const EncodableValue& a, const EncodableValue& b) { return Encoded(a) == Encoded(b); }

// An empty typed list is written without the padding its reader skips, so a
// value holding one need not read back as written.
inline bool HoldsEmptyTypedList(const EncodableValue& value) {
  switch (value.index()) {
    case 7:
      return std::get<std::vector<int32_t>>(value).empty();
    case 8:
      return std::get<std::vector<int64_t>>(value).empty();
    case 9:
      return std::get<std::vector<double>>(value).empty();
    case 13:
      return std::get<std::vector<float>>(value).empty();
    case 10:
      for (const EncodableValue& element : std::get<EncodableList>(value)) {
        if (HoldsEmptyTypedList(element)) {
          return true;
        }
      }
      return false;
    case 11:
      for (const auto& [key, entry] : std::get<EncodableMap>(value)) {
        if (HoldsEmptyTypedList(key) || HoldsEmptyTypedList(entry)) {
          return true;
        }
      }
      return false;
    default:
      return false;
  }
}

inline bool HoldsNaN(const EncodableValue& value) {
  if (const auto* number = value.TryGet<double>()) {
    return std::isnan(*number);
  }
  if (const auto* numbers = value.TryGet<std::vector<double>>()) {
    for (double number : *numbers) {
      if (std::isnan(number)) {
        return true;
      }
    }
  }
  if (const auto* numbers = value.TryGet<std::vector<float>>()) {
    for (float number : *numbers) {
      if (std::isnan(number)) {
        return true;
      }
    }
  }
  if (const auto* list = value.TryGet<EncodableList>()) {
    for (const EncodableValue& element : *list) {
      if (HoldsNaN(element)) {
        return true;
      }
    }
  }
  if (const auto* map = value.TryGet<EncodableMap>()) {
    for (const auto& [key, entry] : *map) {
      if (HoldsNaN(key) || HoldsNaN(entry)) {
        return true;
      }
    }
  }
  return false;
}

// A NaN makes the ordering intransitive: [NaN, 3] orders after [2.0, 2] and
// before [1.0, 4], which orders before [2.0, 2]. What a map with such keys
// keeps, and in which order, then depends on the order the keys arrive in, so
// it need not read back as it was written.
inline bool HoldsNaNInMapKey(const EncodableValue& value) {
  if (const auto* list = value.TryGet<EncodableList>()) {
    for (const EncodableValue& element : *list) {
      if (HoldsNaNInMapKey(element)) {
        return true;
      }
    }
  }
  if (const auto* map = value.TryGet<EncodableMap>()) {
    for (const auto& [key, entry] : *map) {
      if (HoldsNaN(key) || HoldsNaNInMapKey(entry)) {
        return true;
      }
    }
  }
  return false;
}

// Whether `value` should read back exactly as written.
inline bool RoundTrips(const EncodableValue& value) {
  return !HoldsEmptyTypedList(value) && !HoldsNaNInMapKey(value);
}

// List elements and map entries in the whole value, and how deep its
// containers nest.
struct Shape {
  size_t elements = 0;
  size_t depth = 0;
};

inline Shape ShapeOf(const EncodableValue& value) {
  Shape shape;
  auto add = [&shape](const EncodableValue& nested) {
    const Shape inner = ShapeOf(nested);
    shape.elements += inner.elements;
    shape.depth = inner.depth + 1 > shape.depth ? inner.depth + 1 : shape.depth;
  };
  if (const auto* list = value.TryGet<EncodableList>()) {
    shape.depth = 1;
    shape.elements = list->size();
    for (const EncodableValue& element : *list) {
      add(element);
    }
  } else if (const auto* map = value.TryGet<EncodableMap>()) {
    shape.depth = 1;
    shape.elements = map->size();
    for (const auto& [key, entry] : *map) {
      add(key);
      add(entry);
    }
  }
  return shape;
}

// A buffer reader that also counts the reads that fail (each one prints a
// line). It follows the buffer reader's location on its own, since a
// location past the end (after an alignment) looks like "0 bytes left".
class CountingReader : public ByteStreamReader {
 public:
  CountingReader(const uint8_t* bytes, size_t size) : inner_(bytes, size), size_(size) {}

  uint8_t ReadByte() override {
    Follow(1);
    return inner_.ReadByte();
  }
  void ReadBytes(uint8_t* buffer, size_t length) override {
    Follow(length);
    inner_.ReadBytes(buffer, length);
  }
  void ReadAlignment(uint8_t alignment) override {
    if (alignment != 0 && location_ % alignment != 0) {
      location_ += alignment - location_ % alignment;
    }
    inner_.ReadAlignment(alignment);
  }
  std::optional<size_t> RemainingBytes() const override { return inner_.RemainingBytes(); }
  std::vector<uint8_t> ReadByteVector(size_t length) override {
    Follow(length);
    return inner_.ReadByteVector(length);
  }

  size_t failed_reads() const { return failed_reads_; }
  bool at_end() const { return location_ == size_; }

 private:
  void Follow(size_t length) {
    if (location_ > size_ || length > size_ - location_) {
      ++failed_reads_;
    } else {
      location_ += length;
    }
  }

  ByteBufferStreamReader inner_;
  size_t size_;
  size_t location_ = 0;
  size_t failed_reads_ = 0;
};

}  // namespace flutter
