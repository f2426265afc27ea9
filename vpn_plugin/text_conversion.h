#pragma once

#include <string>
#include <string_view>

namespace tarvex {

// Service names cross the wide Win32 calls byte by byte: each byte becomes one
// code unit by sign extension (0x80 becomes 0xFF80), with no UTF-8 decoding.
std::u16string WidenName(std::string_view name);

// Names read back from the system keep the low byte of each code unit.
std::string NarrowName(std::u16string_view name);

// Real text conversions, for what the user reads (message boxes) and what the
// system writes (error texts). Malformed input becomes U+FFFD, as the Win32
// converters do without their strict flags.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace tarvex
