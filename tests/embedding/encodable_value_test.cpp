#include "embedding/encodable_value.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

namespace flutter {
namespace {

bool Equivalent(const EncodableValue& a, const EncodableValue& b) { return !(a < b) && !(b < a); }

TEST(EncodableValueTest, DefaultIsNullAndAlternativesKeepTheirIndex) {
  EXPECT_EQ(EncodableValue().index(), 0u);
  EXPECT_TRUE(EncodableValue().IsNull());
  EXPECT_EQ(EncodableValue(true).index(), 1u);
  EXPECT_EQ(EncodableValue(int32_t{1}).index(), 2u);
  EXPECT_EQ(EncodableValue(int64_t{1}).index(), 3u);
  EXPECT_EQ(EncodableValue(1.5).index(), 4u);
  EXPECT_EQ(EncodableValue("text").index(), 5u);
  EXPECT_EQ(EncodableValue(std::vector<uint8_t>{1}).index(), 6u);
  EXPECT_EQ(EncodableValue(std::vector<int32_t>{1}).index(), 7u);
  EXPECT_EQ(EncodableValue(std::vector<int64_t>{1}).index(), 8u);
  EXPECT_EQ(EncodableValue(std::vector<double>{1}).index(), 9u);
  EXPECT_EQ(EncodableValue(EncodableList{}).index(), 10u);
  EXPECT_EQ(EncodableValue(EncodableMap{}).index(), 11u);
  EXPECT_EQ(EncodableValue(CustomValue(7)).index(), 12u);
  EXPECT_EQ(EncodableValue(std::vector<float>{1}).index(), 13u);
}

TEST(EncodableValueTest, StringLiteralAssignmentStaysAString) {
  EncodableValue value(true);
  value = "abc";
  EXPECT_EQ(std::get<std::string>(value), "abc");
}

TEST(EncodableValueTest, WrongAlternativeThrowsBadVariantAccessAndPointerQueryYieldsNothing) {
  const EncodableValue value(int32_t{3});
  EXPECT_EQ(value.TryGet<std::string>(), nullptr);
  EXPECT_EQ(*value.TryGet<int32_t>(), 3);
  EXPECT_EQ(value.Get<int32_t>(), 3);
  try {
    (void)value.Get<std::string>();
    FAIL() << "expected an exception";
  } catch (const std::bad_variant_access& error) {
    EXPECT_STREQ(error.what(), "bad variant access");
  }
}

TEST(EncodableValueTest, IndexDecidesBeforeContents) {
  EXPECT_TRUE(EncodableValue(int32_t{5}) < EncodableValue(int64_t{1}));
  EXPECT_FALSE(EncodableValue(int64_t{1}) < EncodableValue(int32_t{5}));
  EXPECT_TRUE(EncodableValue("zzz") < EncodableValue(std::vector<uint8_t>{0}));
  EncodableMap map;
  map[EncodableValue(int32_t{1})] = EncodableValue("small");
  map[EncodableValue(int64_t{1})] = EncodableValue("wide");
  EXPECT_EQ(map.size(), 2u);
}

TEST(EncodableValueTest, StringsCompareAsUnsignedBytesWithPrefixFirst) {
  EXPECT_TRUE(EncodableValue("ab") < EncodableValue("abc"));
  EXPECT_TRUE(EncodableValue("abc") < EncodableValue("b"));
  EXPECT_TRUE(EncodableValue("A") < EncodableValue("\xC3"));
  EXPECT_FALSE(EncodableValue("\xC3") < EncodableValue("A"));
  EXPECT_TRUE(EncodableValue(std::vector<uint8_t>{0x41}) < EncodableValue(std::vector<uint8_t>{0xC3}));
  EXPECT_TRUE(EncodableValue(std::vector<uint8_t>{1}) < EncodableValue(std::vector<uint8_t>{1, 0}));
}

TEST(EncodableValueTest, DoublesUseIeeeLessThan) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  EXPECT_TRUE(Equivalent(EncodableValue(nan), EncodableValue(1.0)));
  EXPECT_TRUE(Equivalent(EncodableValue(-0.0), EncodableValue(0.0)));
  EncodableMap map;
  map[EncodableValue(nan)] = EncodableValue(int32_t{1});
  map.emplace(EncodableValue(nan), EncodableValue(int32_t{2}));
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(std::get<int32_t>(map.begin()->second), 1);

  // A NaN position lets the next position decide.
  EXPECT_TRUE(EncodableValue(std::vector<double>{nan, 1.0}) < EncodableValue(std::vector<double>{0.0, 2.0}));
  EXPECT_TRUE(EncodableValue(std::vector<float>{1.0f}) < EncodableValue(std::vector<float>{1.0f, 0.0f}));
  EXPECT_TRUE(EncodableValue(std::vector<int32_t>{-1}) < EncodableValue(std::vector<int32_t>{0}));
}

TEST(EncodableValueTest, ListsAndMapsCompareLexicographically) {
  const EncodableValue short_list(EncodableList{EncodableValue(int32_t{1})});
  const EncodableValue long_list(EncodableList{EncodableValue(int32_t{1}), EncodableValue()});
  EXPECT_TRUE(short_list < long_list);

  const EncodableValue a(EncodableMap{{EncodableValue("k"), EncodableValue(int32_t{1})}});
  const EncodableValue b(EncodableMap{{EncodableValue("k"), EncodableValue(int32_t{2})}});
  const EncodableValue c(EncodableMap{{EncodableValue("l"), EncodableValue(int32_t{0})}});
  EXPECT_TRUE(a < b);
  EXPECT_TRUE(b < c);
  EXPECT_FALSE(c < a);
}

TEST(EncodableValueTest, CustomValuesAreDistinctByIdentityAndCopyDeeply) {
  const EncodableValue first(CustomValue(std::string("same")));
  const EncodableValue second(CustomValue(std::string("same")));
  EXPECT_FALSE(Equivalent(first, second));
  EncodableMap map{{first, EncodableValue()}, {second, EncodableValue()}};
  EXPECT_EQ(map.size(), 2u);

  const EncodableValue copy = first;
  const auto& original_custom = std::get<CustomValue>(first);
  const auto& copied_custom = std::get<CustomValue>(copy);
  ASSERT_NE(copied_custom.TryGet<std::string>(), nullptr);
  EXPECT_EQ(*copied_custom.TryGet<std::string>(), "same");
  EXPECT_NE(copied_custom.address(), original_custom.address());
  EXPECT_EQ(copied_custom.TryGet<int>(), nullptr);
  EXPECT_TRUE(copied_custom.type() == typeid(std::string));
}

// Each level compared twice would double the work per level: at this depth
// the comparison would never finish, and the suite's time limit fails it.
TEST(EncodableValueTest, DeeplyNestedEquivalentListsCompareInLinearTime) {
  EncodableValue a(int32_t{1});
  EncodableValue b(int32_t{1});
  for (int depth = 0; depth < 200; ++depth) {
    a = EncodableValue(EncodableList{a});
    b = EncodableValue(EncodableList{b});
  }
  b = EncodableValue(EncodableList{b, EncodableValue()});
  a = EncodableValue(EncodableList{a});
  EXPECT_TRUE(a < b);
  EXPECT_FALSE(b < a);
}

struct ThrowsOnCopy {
  ThrowsOnCopy() = default;
  ThrowsOnCopy(const ThrowsOnCopy&) { throw std::runtime_error("no copies"); }
};

TEST(EncodableValueTest, ValuelessValueOrdersFirst) {
  EncodableValue broken(int32_t{1});
  const ThrowsOnCopy payload;
  EXPECT_THROW(broken.emplace<CustomValue>(payload), std::runtime_error);
  ASSERT_TRUE(broken.valueless_by_exception());
  EXPECT_TRUE(broken < EncodableValue());
  EXPECT_FALSE(EncodableValue() < broken);
  EXPECT_FALSE(broken < broken);
}

}  // namespace
}  // namespace flutter
