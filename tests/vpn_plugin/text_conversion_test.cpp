#include <gtest/gtest.h>

#include "vpn_plugin/text_conversion.h"

namespace tarvex {
namespace {

TEST(TextConversionTest, Utf8AndUtf16CarryEveryPlaneAndReplaceWhatIsMalformed) {
  EXPECT_EQ(Utf8ToUtf16("a\xC3\xA7\xE2\x80\xA2\xF0\x9F\x94\x92"), u"a\u00e7\u2022\U0001F512");
  EXPECT_EQ(Utf16ToUtf8(u"a\u00e7\u2022\U0001F512"), "a\xC3\xA7\xE2\x80\xA2\xF0\x9F\x94\x92");
  // A stray continuation byte, an overlong form, a surrogate, a truncated tail.
  EXPECT_EQ(Utf8ToUtf16("\x80|\xC0\xAF|\xED\xA0\x80|\xE2\x80"),
            u"\uFFFD|\uFFFD\uFFFD|\uFFFD\uFFFD\uFFFD|\uFFFD");
  const char16_t lone_surrogates[] = {0xD800, u'x', 0xDC00, 0};
  EXPECT_EQ(Utf16ToUtf8(lone_surrogates), "\xEF\xBF\xBDx\xEF\xBF\xBD");
}

TEST(TextConversionTest, NamesWidenBySignExtensionAndNarrowToTheLowByte) {
  EXPECT_EQ(WidenName("a\x7F\x80\xFF"), u"a\x7F\xFF80\xFFFF");
  EXPECT_EQ(NarrowName(u"a\u00e9\xFF80\u2022"), "a\xE9\x80\x22");
}

}  // namespace
}  // namespace tarvex
