#include "embedding/encodable_value.h"

#include <limits>

#include "tests/embedding/codec_test_support.h"

namespace flutter {
namespace {

bool Equivalent(const EncodableValue& a, const EncodableValue& b) { return !(a < b) && !(b < a); }

TEST(EncodableValueTest, AlternativeIndexDecidesTheOrderBeforeContents) {
  EncodableValue text(true);
  text = "zzz";  // a string, not the bool a pointer converts to
  // The contents alone would order most of these the other way round.
  // clang-format off
  const std::vector<EncodableValue> by_index = {EncodableValue(), true, int32_t{5}, int64_t{1}, 9.5, text,
      std::vector<uint8_t>{0}, std::vector<int32_t>{9}, std::vector<int64_t>{0}, std::vector<double>{9},
      EncodableList{true}, EncodableMap{}, CustomValue(7), std::vector<float>{0}};
  // clang-format on
  const EncodableValue valueless = Valueless();
  for (size_t i = 0; i < by_index.size(); ++i) {
    EXPECT_EQ(by_index[i].index(), i);
    EXPECT_TRUE(valueless < by_index[i] && !(by_index[i] < valueless)) << i;
    for (size_t j = i + 1; j < by_index.size(); ++j) {
      EXPECT_TRUE(by_index[i] < by_index[j] && !(by_index[j] < by_index[i])) << i << " < " << j;
    }
  }
  EXPECT_TRUE(Equivalent(valueless, Valueless()));
  EXPECT_EQ((EncodableMap{{int32_t{1}, "small"}, {int64_t{1}, "wide"}}).size(), 2u);
}

TEST(EncodableValueTest, ContentsCompareLexicographicallyByUnsignedBytesIeeeLessThanAndIdentity) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const std::vector<std::pair<EncodableValue, EncodableValue>> ordered = {
      {false, true},
      {int32_t{-1}, int32_t{0}},
      {-1.0, 0.0},
      {"ab", "abc"},
      {"abc", "b"},
      {"A", "\xC3"},
      {std::vector<uint8_t>{0x41}, std::vector<uint8_t>{0xC3}},
      {std::vector<int32_t>{-1}, std::vector<int32_t>{0}},
      {std::vector<double>{nan, 1.0}, std::vector<double>{0.0, 2.0}},  // unordered: the next position decides
      {std::vector<float>{1.0f}, std::vector<float>{1.0f, 0.0f}},
      {EncodableList{int32_t{1}}, EncodableList{int32_t{1}, EncodableValue()}},
      {EncodableMap{{"k", int32_t{1}}}, EncodableMap{{"k", int32_t{2}}}},
      {EncodableMap{{"k", int32_t{2}}}, EncodableMap{{"l", int32_t{0}}}},
  };
  for (size_t i = 0; i < ordered.size(); ++i) {
    EXPECT_TRUE(ordered[i].first < ordered[i].second && !(ordered[i].second < ordered[i].first)) << i;
  }
  EXPECT_TRUE(Equivalent(nan, 1.0));
  EXPECT_TRUE(Equivalent(-0.0, 0.0));
  EncodableMap map{{nan, int32_t{1}}};
  map.emplace(nan, int32_t{2});
  ASSERT_EQ(map.size(), 1u);
  EXPECT_EQ(map.begin()->second.Get<int32_t>(), 1);
  // Custom values are the same only when they are the same object; copies are deep.
  const EncodableValue custom(CustomValue(std::string("same")));
  EXPECT_FALSE(Equivalent(custom, EncodableValue(CustomValue(std::string("same")))));
  EXPECT_FALSE(Equivalent(custom, EncodableValue(custom)));
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

}  // namespace
}  // namespace flutter
