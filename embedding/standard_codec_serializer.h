#pragma once

#include <cstddef>
#include <cstdint>

#include "embedding/byte_streams.h"
#include "embedding/encodable_value.h"

namespace flutter {

// Knows the standard message format: one type byte, then the payload.
// Derive from it and override WriteValue and ReadValueOfType to add custom
// types; nested values (list elements, map keys and values) come back through
// those virtual operations, so a derived serializer sees them too.
class StandardCodecSerializer {
 public:
  StandardCodecSerializer();
  virtual ~StandardCodecSerializer();

  StandardCodecSerializer(const StandardCodecSerializer&) = delete;
  StandardCodecSerializer& operator=(const StandardCodecSerializer&) = delete;

  // The shared instance, created on first use.
  static const StandardCodecSerializer& GetInstance();

  // Writes the type byte and the payload.
  virtual void WriteValue(const EncodableValue& value, ByteStreamWriter* stream) const;

  // Reads the type byte and then the value of that type.
  EncodableValue ReadValue(ByteStreamReader* stream) const;

 protected:
  // Reads the payload of a value whose type byte has already been read.
  virtual EncodableValue ReadValueOfType(uint8_t type, ByteStreamReader* stream) const;

  // Size fields: one byte below 254; 254 and two bytes up to 0xFFFF; 255 and
  // four bytes above.
  size_t ReadSize(ByteStreamReader* stream) const;
  void WriteSize(size_t size, ByteStreamWriter* stream) const;
};

}  // namespace flutter
