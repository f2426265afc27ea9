#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <string>
#include <vector>

#include "embedding/byte_buffer_streams.h"
#include "embedding/encodable_value.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

inline constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";

// "07 03 61 62 63": byte expectations read like a hex dump.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::string text;
  for (uint8_t byte : bytes) {
    char digits[4];
    std::snprintf(digits, sizeof(digits), "%02X ", byte);
    text += digits;
  }
  if (!text.empty()) {
    text.pop_back();
  }
  return text;
}

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::vector<uint8_t> bytes;
  std::istringstream in(hex);
  unsigned int byte = 0;
  while (in >> std::hex >> byte) {
    bytes.push_back(static_cast<uint8_t>(byte));
  }
  return bytes;
}

inline std::string Repeat(const std::string& text, size_t times) {
  std::string repeated;
  for (size_t i = 0; i < times; ++i) {
    repeated += text;
  }
  return repeated;
}

inline bool Equivalent(const EncodableValue& a, const EncodableValue& b) { return !(a < b) && !(b < a); }

inline std::vector<uint8_t> Encode(
    const EncodableValue& value,
    const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance(),
    std::vector<uint8_t> already_written = {}) {
  ByteBufferStreamWriter writer(&already_written);
  serializer.WriteValue(value, &writer);
  return already_written;
}

struct Decoded {
  EncodableValue value;
  std::string errors;  // what went to the standard error stream
};

inline Decoded Decode(const std::vector<uint8_t>& bytes,
                      const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance()) {
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  testing::internal::CaptureStderr();
  EncodableValue value = serializer.ReadValue(&reader);
  return {std::move(value), testing::internal::GetCapturedStderr()};
}

}  // namespace flutter
