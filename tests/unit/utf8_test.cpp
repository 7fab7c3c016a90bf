#include "utf8.hpp"

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
      {"a\xFF" "b", "a\xEF\xBF\xBD" "b", false},
      {"\xE2\x82", "\xEF\xBF\xBD", false},                 // truncated three-byte sequence: one replacement
      {"\xE2\x82" "A", "\xEF\xBF\xBD" "A", false},
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD", false},  // surrogate: every byte invalid
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD", false},     // overlong
      {"\xF0\x9F\x98\x80", "\xF0\x9F\x98\x80", true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.in));
    EXPECT_EQ(lossy_utf8(c.in), c.out);
    EXPECT_EQ(is_valid_utf8(c.in), c.valid);
  }
}

TEST(Utf8, ScalarCount) {
  EXPECT_EQ(scalar_count(""), 0u);
  EXPECT_EQ(scalar_count("caf\xC3\xA9"), 4u);
  EXPECT_EQ(scalar_count("\xF0\x9F\x98\x80x"), 2u);
}

}  // namespace
}  // namespace pindrel
