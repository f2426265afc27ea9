#pragma once

#include <cstdint>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

namespace flutter {

// "07 03 61 62 63": byte expectations read like a hex dump.
inline std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (uint8_t byte : bytes) {
    text += {' ', kDigits[byte >> 4], kDigits[byte & 0x0F]};
  }
  return text.empty() ? text : text.substr(1);
}

// The bytes of a hex dump; pairs separated by blanks, either case.
inline std::vector<uint8_t> Bytes(const std::string& hex) {
  std::istringstream in(hex);
  in >> std::hex;
  return std::vector<uint8_t>(std::istream_iterator<unsigned int>(in), std::istream_iterator<unsigned int>());
}

}  // namespace flutter
