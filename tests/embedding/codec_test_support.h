#pragma once

#include <gtest/gtest.h>

#include <stdexcept>
#include <utility>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"
#include "tests/support/hex_bytes.h"

namespace flutter {

inline constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";

inline std::string Repeat(const std::string& text, size_t times) {
  std::string repeated;
  while (times-- > 0) {
    repeated += text;
  }
  return repeated;
}

inline std::vector<uint8_t> Encode(
    const EncodableValue& value,
    const StandardCodecSerializer& serializer = StandardCodecSerializer::GetInstance(),
    std::vector<uint8_t> bytes = {}) {
  ByteBufferStreamWriter writer(&bytes);
  serializer.WriteValue(value, &writer);
  return bytes;
}

// What an operation gave, as text, and what it printed to the standard error stream.
using Outcome = std::pair<std::string, std::string>;

template <typename Operation>
Outcome Captured(Operation operation) {
  testing::internal::CaptureStderr();
  const std::string gave = operation();
  return {gave, testing::internal::GetCapturedStderr()};
}

// Reads one value and shows it as the bytes it encodes to.
inline Outcome Decode(ByteStreamReader& reader) {
  return Captured(
      [&reader] { return Hex(Encode(StandardCodecSerializer::GetInstance().ReadValue(&reader))); });
}

inline Outcome Decode(const std::string& hex) {
  const std::vector<uint8_t> bytes = Bytes(hex);
  ByteBufferStreamReader reader(bytes.data(), bytes.size());
  return Decode(reader);
}

// Each case pairs what an operation gave with what it should have given.
inline void ExpectOutcomes(const std::vector<std::pair<Outcome, Outcome>>& cases) {
  for (size_t i = 0; i < cases.size(); ++i) {
    EXPECT_EQ(cases[i].first, cases[i].second) << "case " << i;
  }
}

// A value left without an alternative by an assignment that threw.
inline EncodableValue Valueless() {
  struct ThrowsOnCopy {
    ThrowsOnCopy() = default;
    ThrowsOnCopy(const ThrowsOnCopy&) { throw std::runtime_error("no copies"); }
  };
  EncodableValue value(int32_t{1});
  EXPECT_THROW(value.emplace<CustomValue>(ThrowsOnCopy()), std::runtime_error);
  return value;
}

}  // namespace flutter
