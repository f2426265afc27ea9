#pragma once

#include <string>

namespace tarvex {

// The value of the first line of `config` that begins with `key` and holds an
// "=": what follows the first "=", without its surrounding blanks. Empty when
// no line fits; the search stops at the first fitting line even when its value
// is empty. The key is only a prefix: "Address" also matches "AddressX = ...".
std::string ExtractConfigValue(const std::string& config, const std::string& key);

}  // namespace tarvex
