#include "util/utf8.hpp"

#include <gtest/gtest.h>

namespace pindrel {
namespace {

TEST(Utf8, LossyReplacesEachMaximalInvalidPrefix) {
  struct Case {
    std::string_view in;
    std::string_view out;
    bool valid;
  };
  const Case cases[] = {
      {"plain", "plain", true},
      {"caf\xC3\xA9", "caf\xC3\xA9", true},
      {"a\xFF"
       "b",
       "a\xEF\xBF\xBD"
       "b",
       false},
      {"\xE2\x82", "\xEF\xBF\xBD", false},  // truncated three-byte sequence: one replacement
      {"\xE2\x82"
       "A",
       "\xEF\xBF\xBD"
       "A",
       false},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // surrogate: every byte invalid
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", false},                  // overlong
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true},
      // ASCII is passed over eight bytes at a time; what follows such a run is still read
      {"0123456789abcdef\xFF"
       "0123456789",
       "0123456789abcdef\xEF\xBF\xBD"
       "0123456789",
       false},
      {"01234567\xC3\xA9"
       "89abcdef01234567",
       "01234567\xC3\xA9"
       "89abcdef01234567",
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.in));
    EXPECT_EQ(lossy_utf8(c.in), c.out);
    EXPECT_EQ(is_valid_utf8(c.in), c.valid);
  }
}

TEST(Utf8, DebugQuotedEscapesControlsAndBytesThatAreNotUtf8) {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {"a \"b\" \\ \n\t", R"("a \"b\" \\ \n\t")"},
      {"\x01\x7F\xC2\x85", R"("\u{1}\u{7f}\u{85}")"},
      {"caf\xC3\xA9", "\"caf\xC3\xA9\""},
      {"a\xFF"
       "b\xE2\x82",
       R"("a\xFFb\xE2\x82")"},  // a truncated sequence is one invalid prefix of two bytes
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.out);
    EXPECT_EQ(debug_quoted(c.in), c.out);
  }
}

TEST(Utf8, CodePointsDecodeEachLengthAndReplaceInvalidPrefixes) {
  EXPECT_EQ(code_points("a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80"), U"a\u00E9\u20AC\U0001F600");
  EXPECT_EQ(code_points("\xE2\x82"
                        "A\xC0\xAF"),
            U"\uFFFDA\uFFFD\uFFFD");
}

TEST(Utf8, FirstFailureGivesItsStartAndLength) {
  struct Case {
    std::string_view in;
    std::optional<Utf8Failure> failure;
  };
  const Case cases[] = {
      {"ok \xC3\xA9", std::nullopt},
      {"ab\xFF", Utf8Failure{2, 1}},                 // an invalid lead byte, even at the end
      {"ab\xE2\x82", Utf8Failure{2, std::nullopt}},  // cut short: could still be completed
      {"ab\xE2\x82"
       "c",
       Utf8Failure{2, 2}},
      {"\xF0\x9F\x98"
       "x",
       Utf8Failure{0, 3}},
      {"0123456789abcdef\xE2\x82", Utf8Failure{16, std::nullopt}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.in));
    const auto got = first_utf8_failure(c.in);
    ASSERT_EQ(got.has_value(), c.failure.has_value());
    if (got) {
      EXPECT_EQ(got->valid_up_to, c.failure->valid_up_to);
      EXPECT_EQ(got->error_len, c.failure->error_len);
    }
  }
}

TEST(Utf8, ScalarCount) {
  EXPECT_EQ(scalar_count(""), 0u);
  EXPECT_EQ(scalar_count("caf\xC3\xA9"), 4u);
  EXPECT_EQ(scalar_count("\xF0\x9F\x98\x80x"), 2u);
}

TEST(Utf8, StepsOverOneCharacterOrOneInvalidPrefix) {
  struct Case {
    std::string_view text;
    std::size_t at;
    std::size_t length;
    bool valid;
  };
  const Case cases[] = {
      {"a", 0, 1, true},
      {"x\xE2\x82\xAC", 1, 3, true},
      {"\xF0\x9F\x98\x80", 0, 4, true},
      {"\xE2\x82"
       "A",
       0, 2, false},              // the truncated sequence is one step, as it is one U+FFFD
      {"\xC0\xAF", 0, 1, false},  // overlong: each byte on its own
      {"\xA9", 0, 1, false},      // a continuation byte leads nothing
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.text));
    const Utf8Step step = utf8_step(c.text, c.at);
    EXPECT_EQ(step.length, c.length);
    EXPECT_EQ(step.valid, c.valid);
  }
  EXPECT_TRUE(is_char_boundary("\xC3\xA9x", 0));
  EXPECT_FALSE(is_char_boundary("\xC3\xA9x", 1));
  EXPECT_TRUE(is_char_boundary("\xC3\xA9x", 2));
  EXPECT_TRUE(is_char_boundary("\xC3\xA9x", 3));
}

TEST(Utf8, TrimWhiteSpaceRemovesUnicodeWhiteSpaceAtBothEnds) {
  struct Case {
    std::string_view in;
    std::string_view out;
  };
  const Case cases[] = {
      {" \t\n/repo\r\n", "/repo"},
      {"\xC2\xA0\xE3\x80\x80x y\xE2\x80\xA8\xC2\x85", "x y"},  // no-break space, ideographic space, U+2028, U+0085
      {"\xE2\x80\x8Bx", "\xE2\x80\x8Bx"},                      // a zero-width space is not white space
      {"x\xC2", "x\xC2"},                                      // a broken sequence stays
      {"\xC3\xA9 ", "\xC3\xA9"},
      {" \n ", ""},
      {"", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.in));
    EXPECT_EQ(trim_white_space(c.in), c.out);
  }
}

}  // namespace
}  // namespace pindrel
