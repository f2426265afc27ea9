// The UTF-16 to UTF-8 conversion of command-line arguments.

#include <gtest/gtest.h>

#include <string>

#include "host/command_line.h"

namespace {

TEST(CommandLineTest, WideTextBecomesUtf8AndInvalidUtf16BecomesEmpty) {
  struct Case {
    const wchar_t* wide;
    std::string utf8;
  };
  const Case cases[] = {
      {nullptr, ""},
      {L"", ""},
      {L"two words", "two words"},
      {L"\x00E9\x20AC", "\xC3\xA9\xE2\x82\xAC"},
      // A surrogate pair: one four-byte character.
      {L"\xD83D\xDE00", "\xF0\x9F\x98\x80"},
      // Lone surrogates, high and low.
      {L"a\xD800", ""},
      {L"\xDC00z", ""},
  };
  for (const Case& test_case : cases) {
    EXPECT_EQ(WideToUtf8(test_case.wide), test_case.utf8);
  }
}

}  // namespace
