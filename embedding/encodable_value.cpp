#include "embedding/encodable_value.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace flutter {
namespace {

// Lexicographic order of two number lists using only IEEE less-than at each
// position, so an unordered pair (a NaN) lets the next position decide.
template <typename Number>
bool NumberListLess(const std::vector<Number>& a, const std::vector<Number>& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end());
}

bool BytesLess(const uint8_t* a, size_t a_size, const uint8_t* b, size_t b_size) {
  const size_t common = std::min(a_size, b_size);
  const int order = common == 0 ? 0 : std::memcmp(a, b, common);
  return order != 0 ? order < 0 : a_size < b_size;
}

}  // namespace

bool operator<(const EncodableValue& a, const EncodableValue& b) {
  // A valueless value orders before index 0; two valueless values are equivalent.
  if (a.valueless_by_exception() || b.valueless_by_exception()) {
    return a.valueless_by_exception() && !b.valueless_by_exception();
  }
  if (a.index() != b.index()) {
    return a.index() < b.index();
  }
  switch (a.index()) {
    case 0:
      return false;
    case 1:
      return std::get<bool>(a) < std::get<bool>(b);
    case 2:
      return std::get<int32_t>(a) < std::get<int32_t>(b);
    case 3:
      return std::get<int64_t>(a) < std::get<int64_t>(b);
    case 4:
      return std::get<double>(a) < std::get<double>(b);
    case 5: {
      const auto& x = std::get<std::string>(a);
      const auto& y = std::get<std::string>(b);
      return BytesLess(reinterpret_cast<const uint8_t*>(x.data()), x.size(),
                       reinterpret_cast<const uint8_t*>(y.data()), y.size());
    }
    case 6: {
      const auto& x = std::get<std::vector<uint8_t>>(a);
      const auto& y = std::get<std::vector<uint8_t>>(b);
      return BytesLess(x.data(), x.size(), y.data(), y.size());
    }
    case 7:
      return NumberListLess(std::get<std::vector<int32_t>>(a), std::get<std::vector<int32_t>>(b));
    case 8:
      return NumberListLess(std::get<std::vector<int64_t>>(a), std::get<std::vector<int64_t>>(b));
    case 9:
      return NumberListLess(std::get<std::vector<double>>(a), std::get<std::vector<double>>(b));
    case 10: {
      const auto& x = std::get<EncodableList>(a);
      const auto& y = std::get<EncodableList>(b);
      return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
    }
    case 11: {
      const auto& x = std::get<EncodableMap>(a);
      const auto& y = std::get<EncodableMap>(b);
      return std::lexicographical_compare(
          x.begin(), x.end(), y.begin(), y.end(), [](const auto& left, const auto& right) {
            return left.first < right.first || (!(right.first < left.first) && left.second < right.second);
          });
    }
    case 12:
      return std::less<const void*>()(std::get<CustomValue>(a).address(), std::get<CustomValue>(b).address());
    case 13:
      return NumberListLess(std::get<std::vector<float>>(a), std::get<std::vector<float>>(b));
    default:
      return false;
  }
}

}  // namespace flutter
