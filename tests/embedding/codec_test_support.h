#pragma once

#include <gtest/gtest.h>

#include <iomanip>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "embedding/byte_buffer_streams.h"
#include "embedding/standard_codec_serializer.h"

namespace flutter {

inline constexpr char kInvalidRead[] = "Invalid read in StandardCodecByteStreamReader\n";

// "07 03 61 62 63": byte expectations read like a hex dump.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  std::ostringstream text;
  for (size_t i = 0; i < bytes.size(); ++i) {
    text << (i == 0 ? "" : " ") << std::uppercase << std::hex << std::setw(2) << std::setfill('0')
         << int{bytes[i]};
  }
  return text.str();
}

inline std::vector<uint8_t> FromHex(const std::string& hex) {
  std::istringstream in(hex);
  in >> std::hex;
  return std::vector<uint8_t>(std::istream_iterator<unsigned int>(in), std::istream_iterator<unsigned int>());
}

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
  const std::vector<uint8_t> bytes = FromHex(hex);
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
