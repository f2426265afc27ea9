#include "embedding/encodable_value.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace flutter {
namespace {

// Every comparison below is three-way (negative, zero, positive) so that a
// nested element is compared once. A two-way "a < b, then b < a" at each
// level doubles the work per level, and a small message of equivalent nested
// lists would keep the platform thread busy for seconds.
int Compare(const EncodableValue& a, const EncodableValue& b);

// IEEE less-than both ways: an unordered pair (a NaN) counts as equivalent.
template <typename Number>
int CompareNumbers(Number a, Number b) {
  if (a < b) {
    return -1;
  }
  return b < a ? 1 : 0;
}

int CompareBytes(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  const size_t common = std::min(a_size, b_size);
  const int order = common == 0 ? 0 : std::memcmp(a, b, common);
  if (order != 0) {
    return order < 0 ? -1 : 1;
  }
  return CompareNumbers(a_size, b_size);
}

// Lexicographic: the first position that is not equivalent decides; a proper
// prefix orders first.
template <typename Sequence, typename ElementCompare>
int CompareSequences(const Sequence& a, const Sequence& b, ElementCompare compare_elements) {
  auto left = a.begin();
  auto right = b.begin();
  for (; left != a.end() && right != b.end(); ++left, ++right) {
    const int order = compare_elements(*left, *right);
    if (order != 0) {
      return order;
    }
  }
  return CompareNumbers(a.size(), b.size());
}

template <typename Number>
int CompareNumberLists(const std::vector<Number>& a, const std::vector<Number>& b) {
  return CompareSequences(a, b, [](Number x, Number y) { return CompareNumbers(x, y); });
}

int Compare(const EncodableValue& a, const EncodableValue& b) {
  // A valueless value orders before index 0; two valueless values are equivalent.
  if (a.valueless_by_exception() || b.valueless_by_exception()) {
    return CompareNumbers(!a.valueless_by_exception(), !b.valueless_by_exception());
  }
  if (a.index() != b.index()) {
    return CompareNumbers(a.index(), b.index());
  }
  switch (a.index()) {
    case 1:
      return CompareNumbers(std::get<bool>(a), std::get<bool>(b));
    case 2:
      return CompareNumbers(std::get<int32_t>(a), std::get<int32_t>(b));
    case 3:
      return CompareNumbers(std::get<int64_t>(a), std::get<int64_t>(b));
    case 4:
      return CompareNumbers(std::get<double>(a), std::get<double>(b));
    case 5: {
      const auto& x = std::get<std::string>(a);
      const auto& y = std::get<std::string>(b);
      return CompareBytes(reinterpret_cast<const uint8_t*>(x.data()), x.size(),
                          reinterpret_cast<const uint8_t*>(y.data()), y.size());
    }
    case 6: {
      const auto& x = std::get<std::vector<uint8_t>>(a);
      const auto& y = std::get<std::vector<uint8_t>>(b);
      return CompareBytes(x.data(), x.size(), y.data(), y.size());
    }
    case 7:
      return CompareNumberLists(std::get<std::vector<int32_t>>(a), std::get<std::vector<int32_t>>(b));
    case 8:
      return CompareNumberLists(std::get<std::vector<int64_t>>(a), std::get<std::vector<int64_t>>(b));
    case 9:
      return CompareNumberLists(std::get<std::vector<double>>(a), std::get<std::vector<double>>(b));
    case 10:
      return CompareSequences(std::get<EncodableList>(a), std::get<EncodableList>(b), Compare);
    case 11:
      // Entry by entry in key order: the key decides, then the value.
      return CompareSequences(std::get<EncodableMap>(a), std::get<EncodableMap>(b),
                              [](const auto& left, const auto& right) {
                                const int key_order = Compare(left.first, right.first);
                                return key_order != 0 ? key_order : Compare(left.second, right.second);
                              });
    case 12: {
      const void* x = std::get<CustomValue>(a).address();
      const void* y = std::get<CustomValue>(b).address();
      if (std::less<const void*>()(x, y)) {
        return -1;
      }
      return std::less<const void*>()(y, x) ? 1 : 0;
    }
    case 13:
      return CompareNumberLists(std::get<std::vector<float>>(a), std::get<std::vector<float>>(b));
    default:  // null
      return 0;
  }
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) { return Compare(a, b) < 0; }

}  // namespace flutter
